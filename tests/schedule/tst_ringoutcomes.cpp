#include "duebells.h"
#include "fakes.h"
#include "ringalerts.h"
#include "ringengine.h"
#include "ringoutcomes.h"

#include <QSignalSpy>
#include <QTest>

// What a bell's outcome writes, without the engine or a store: its row,
// the record of what rang, the bands, the signals and the boxes.
class RingOutcomesTest : public QObject {
    Q_OBJECT

    static constexpr qint64 kDay = 2461382LL * 86400;

    struct F {
        DaySchedule day;
        FakeMessages messages;
        RingAlerts alerts;
        RingOutcomes outcomes{day, messages};
        F()
        {
            day.reset({BellEntry{1, 100, "甲", "a.mp3", {}, {}, {}}, BellEntry{2, 200, "乙", "b.mp3", {}, {}, {}}}, {},
                      0);
            outcomes.setAlerts(&alerts);
        }
        RingOutcomes::Bell bell(int i) const
        {
            const BellEntry &e = day.entry(i);
            return {day.key(i), kDay, e.name, e.music, {}};
        }
        void afterTick() { QCoreApplication::sendPostedEvents(&outcomes, QEvent::MetaCall); }
    };

private slots:
    void aFailureIsWrittenOnceEverywhere()
    {
        F f;
        QSignalSpy failed(&f.outcomes, &RingOutcomes::ringFailed);
        f.outcomes.failed(f.bell(1), BellStatus::Missed, QStringLiteral("时钟跳变"));
        QCOMPARE(f.day.status(1), BellStatus::Missed);
        QCOMPARE(f.day.faultOf(f.day.key(1)), BellStatus::Missed);
        QVERIFY(f.day.rung().wasRung(kDay, f.day.key(1)));  // never tried again
        QVERIFY(!f.day.rung().secondRung(kDay, 200));       // no twin's sound
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed[0][0].toInt(), 1);
        QCOMPARE(f.alerts.notRungCount(), 1);
        QVERIFY(f.alerts.notRungText().contains(QStringLiteral("时钟跳变")));
    }

    void soundedRecordsBeforeRangIsTold()
    {
        F f;
        QSignalSpy rang(&f.outcomes, &RingOutcomes::rang);
        bool toldFirst = false;
        f.outcomes.sounded(f.bell(0), 12, BellStatus::Done, {}, {}, [&](int) { toldFirst = rang.isEmpty(); });
        QVERIFY(toldFirst);
        QCOMPARE(rang.size(), 1);
        QVERIFY(f.day.rung().secondRung(kDay, 100));
        QVERIFY(f.day.rung().wasRung(kDay, f.day.key(0)));
        QCOMPARE(f.day.faultOf(f.day.key(0)), BellStatus::None);
        f.afterTick();
        QVERIFY(f.messages.texts().isEmpty());
    }

    void aMissingOutputIsWarnedOncePerSpell()
    {
        F f;
        const QString note = RingEngine::missingOutputText("甲楼");
        // Missing, still missing, back, missing again.
        for (const QString missing : {"x", "x", "", "x"}) {
            f.outcomes.sounded(f.bell(0), 0, BellStatus::Done, missing.isEmpty() ? QString() : note, missing, {});
            f.afterTick();
        }
        QCOMPARE(f.messages.texts(), (QStringList{note, note}));
    }

    void oneBoxAtATimeAfterTheTick()
    {
        F f;
        f.outcomes.post("一");
        f.outcomes.post("二");
        QVERIFY(f.messages.texts().isEmpty()); // never inside the tick
        f.afterTick();
        QCOMPARE(f.messages.texts(), QStringList{"一"});
        f.outcomes.post("三");
        f.afterTick();
        QCOMPARE(f.messages.texts(), (QStringList{"一", "三"}));
    }

    void anInterruptionOnItsOutputIsItsFault()
    {
        F f;
        QSignalSpy ended(&f.outcomes, &RingOutcomes::bellEnded);
        f.outcomes.ended(f.day.key(0), 0, BellStatus::Interrupted, false);
        QCOMPARE(f.day.status(0), BellStatus::Interrupted);
        // A bell in zones: told zone by zone, not here.
        f.outcomes.ended(f.day.key(1), 0, BellStatus::Interrupted, true);
        QCOMPARE(f.day.faultOf(f.day.key(1)), BellStatus::None);
        QCOMPARE(ended.size(), 2);
    }
};

QTEST_GUILESS_MAIN(RingOutcomesTest)
#include "tst_ringoutcomes.moc"
