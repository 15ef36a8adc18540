#include "duebells.h"
#include "fakes.h"
#include "ringalerts.h"
#include "ringengine.h"
#include "ringhistory.h"
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

    // The amplifiers that do not answer as a bell starts stay in its 说明
    // through what the record learns later.
    void thePowerNoteStaysInTheRecord_data()
    {
        QTest::addColumn<QString>("power");
        QTest::addColumn<QString>("later"); // "", "interrupted", "zones"
        QTest::addColumn<QString>("reason");
        const QString power = QStringLiteral("功放电源「甲」没有响应");
        QTest::newRow("as it starts") << power << "" << power;
        QTest::newRow("cut off later") << power << "interrupted" << RingOutcomes::kInterruptedReason + "。" + power;
        QTest::newRow("zones told later") << power << "zones" << QStringLiteral("乙楼没有播出。") + power;
        QTest::newRow("all answer, cut off") << "" << "interrupted" << RingOutcomes::kInterruptedReason;
    }
    void thePowerNoteStaysInTheRecord()
    {
        QFETCH(QString, power);
        QFETCH(QString, later);
        QFETCH(QString, reason);
        TempHome home;
        BellStore store;
        QCOMPARE(store.open(home.db()), QString());
        RingHistory history(store);
        F f;
        f.outcomes.setHistory(&history);
        QList<qint64> asked{7};
        f.outcomes.powerNote = [&](const QList<qint64> &zones) {
            asked = zones;
            return power;
        };
        int record = 0;
        f.outcomes.sounded(f.bell(0), 5, BellStatus::Done, {}, {}, [&](int r) { record = r; });
        QCOMPARE(asked, QList<qint64>{}); // the bell's zones: none, 铃声输出
        if (later == "interrupted")
            f.outcomes.ended(f.day.key(0), record, BellStatus::Interrupted, false);
        else if (later == "zones")
            f.outcomes.zonesTold(f.bell(0), record, BellStatus::PartlyRung, QStringLiteral("乙楼没有播出"), 0);
        QVERIFY(history.flush());
        const QList<RingRecord> records = history.day(QDate::fromJulianDay(kDay / 86400));
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.first().reason, reason);
    }
};

QTEST_GUILESS_MAIN(RingOutcomesTest)
#include "tst_ringoutcomes.moc"
