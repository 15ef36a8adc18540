// A bell opened ahead starts early by its player's measured start latency,
// so that it is heard at its second, while the second's tick still decides
// it: the record, the status and rang() come at the second, and a bell the
// second no longer rings (stopped, held, deleted) is silenced.
#include "ringfixture.h"

class RingEarlyTest : public QObject {
    Q_OBJECT

    // 一 at 08:00:05 (2 s long) is the first start measured (4 ms); 二 at
    // 08:00:10 is opened ahead, and the tick before its second arms its
    // early start.
    static void ringFirstAndArm(RingFixture &f)
    {
        f.player.startCostMs = 4;
        f.player.defaultLength = 2000;
        f.add(RingFixture::at(8, 0, 5), "一");
        f.add(RingFixture::at(8, 0, 10), "二");
        f.tickRange(RingFixture::at(8, 0, 0), RingFixture::at(8, 0, 9));
        QCOMPARE(f.played(), QStringList{"一.mp3"});
        QVERIFY(f.engine.TimerStart.isActive());
        // From the tick's 08:00:09.002 to 4 ms before 08:00:10.
        QCOMPARE(f.engine.TimerStart.interval(), 994);
    }

private slots:
    void aBellStartsByItsLatencyBeforeItsSecond()
    {
        RingFixture f;
        ringFirstAndArm(f);
        QList<int> rangAt;
        connect(&f.engine, &RingEngine::rang, this,
                [&](int index) { rangAt << index << f.clock.now().time().msec(); });
        f.clock.setTime(QTime(8, 0, 9, 996));
        f.engine.TimerStartTimer();
        // Heard at the second, decided nothing yet.
        QCOMPARE(f.player.playTimes.last(), QDateTime(f.clock.now().date(), QTime(8, 0, 10)));
        QVERIFY(rangAt.isEmpty());
        QCOMPARE(f.records(), QStringList{"08:00:05 一 完成 6"});
        f.tickAt(8, 0, 10);
        QCOMPARE(rangAt, (QList<int>{1, 2}));
        QCOMPARE(f.played(), (QStringList{"一.mp3", "二.mp3"})); // started once
        QCOMPARE(f.records().value(1), QStringLiteral("08:00:10 二 完成 0"));
        f.tickRange(RingFixture::at(8, 0, 11), RingFixture::at(8, 0, 16));
        QCOMPARE(f.status(2), QStringLiteral("完成"));
    }

    // Between the early start and its second the day changes its mind.
    void aBellItsSecondNoLongerRingsIsSilenced_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("heard");     // the early start played it
        QTest::addColumn<QString>("record"); // 二's, at its second
        QTest::newRow("stopped") << "stop" << true << "08:00:10 二 错过 - " + RingEngine::kStoppedReason;
        QTest::newRow("held before the start") << "hold" << false << "08:00:10 二 错过 - 紧急广播";
        QTest::newRow("deleted") << "delete" << true << QString();
    }
    void aBellItsSecondNoLongerRingsIsSilenced()
    {
        QFETCH(QString, change);
        QFETCH(bool, heard);
        QFETCH(QString, record);
        RingFixture f;
        ringFirstAndArm(f);
        f.clock.setTime(QTime(8, 0, 9, 996));
        if (change == u"hold")
            f.engine.holdBells(QStringLiteral("紧急广播"));
        f.engine.TimerStartTimer();
        QCOMPARE(f.played().size(), heard ? 2 : 1);
        if (change == u"stop") {
            f.engine.ButtonPlayClick();
        } else if (change == u"delete") {
            f.store.remove(QString::number(f.board.day().entry(1).id));
            f.board.Refresh();
        }
        f.tickAt(8, 0, 10);
        QVERIFY(!f.player.isPlaying());
        QVERIFY(!f.spare.isPlaying());
        f.tickAt(8, 0, 11); // a bell held back is passed the second after
        QCOMPARE(f.records().value(1), record);
        QCOMPARE(f.played().size(), heard ? 2 : 1);
    }

    // No start measured yet: aimed at the second itself, not at the tick
    // after it. Not armed for a bell two seconds away, nor while held.
    void withoutALeadItStartsAtTheSecond()
    {
        RingFixture f;
        f.add(RingFixture::at(8, 0, 5), "一");
        f.tickRange(RingFixture::at(8, 0, 0), RingFixture::at(8, 0, 3));
        QVERIFY(!f.engine.TimerStart.isActive());
        f.tickAt(8, 0, 4);
        QCOMPARE(f.engine.TimerStart.interval(), 998);
        f.clock.setTime(QTime(8, 0, 5, 0));
        f.engine.TimerStartTimer();
        f.tickAt(8, 0, 5);
        QCOMPARE(f.records(), QStringList{"08:00:05 一 完成 0"});
        QCOMPARE(f.played(), QStringList{"一.mp3"});
        f.engine.holdBells(QStringLiteral("紧急广播"));
        f.add(RingFixture::at(8, 0, 10), "二");
        f.board.Refresh();
        f.tickRange(RingFixture::at(8, 0, 6), RingFixture::at(8, 0, 9));
        QVERIFY(!f.engine.TimerStart.isActive());
    }
};

QTEST_GUILESS_MAIN(RingEarlyTest)
#include "tst_ringearly.moc"
