#include "ringfixture.h"

#include <QSqlQuery>

// The clock tick, the blink and the mode switch against the fake clock.
class RingTest : public QObject {
    Q_OBJECT
    using F = RingFixture;

private slots:
    void firstTickSwitchesToRunningMode()
    {
        F f;
        f.add(F::at(7, 0, 0), "early");
        f.add(F::at(9, 0, 0), "later");
        f.add(F::at(9, 30, 0), "sunday", "日");
        f.engine.start();
        QVERIFY(f.engine.TimerShiJian.isActive());
        QVERIFY(f.engine.TimerShiJian.isSingleShot());
        QCOMPARE(f.engine.TimerShiJian.timerType(), Qt::PreciseTimer);
        QVERIFY(f.engine.TimerShiJian.remainingTime() >= 500);
        QVERIFY(!f.board.running());
        QVERIFY(!f.engine.TimerShan.isActive());

        f.tickAt(8, 0, 1);
        QVERIFY(f.board.running());
        QCOMPARE(f.board.playCaption(), QStringLiteral("停  止"));
        QVERIFY(f.engine.TimerShan.isActive());
        QCOMPARE(f.board.labelNowTime(), QString::number(F::at(8, 0, 1)));
        QCOMPARE(f.board.clockText(), QStringLiteral("08:00:01"));
        QCOMPARE(f.board.gridRowCount(), 1 + 2 + 5); // today's entries only
        QCOMPARE(f.status(1), QStringLiteral("已过")); // past at start: never tried
        QVERIFY(f.records().isEmpty()); // and no record: nothing was tried
        QVERIFY(f.status(2).isEmpty());
        QCOMPARE(f.board.nextBellRow(), 2);
        // The clock is re-armed 2 ms after the next wall-clock second.
        QVERIFY(f.engine.TimerShiJian.remainingTime() > 990);
        QVERIFY(f.engine.TimerShiJian.remainingTime() <= 1000);

        // Later ticks do not switch again.
        f.tickAt(8, 0, 2);
        QVERIFY(f.board.running());
        QVERIFY(f.played().isEmpty());
    }

    void bellRingsAtItsSecondFromAPreparedFile()
    {
        F f;
        const qint64 t = F::at(8, 0, 5);
        f.add(t, "a");
        f.add(t + 10, "b");
        f.player.lengths["a.mp3"] = 3000;
        f.tickRange(t - 5, t - 1);
        QVERIFY(f.played().isEmpty());
        QCOMPARE(f.status(1), QString()); // waiting (the blink writes "等待")
        // Opened ahead while the player was idle: the second itself only starts it.
        QVERIFY(f.player.log.contains("open a.mp3"));
        const int before = f.player.log.size();
        f.tickAt(8, 0, 5);
        QCOMPARE(f.played(), QStringList{"a.mp3"});
        QCOMPARE(f.player.log.mid(before), QStringList{"play"});
        QCOMPARE(f.player.playTimes.last().time(), QTime(8, 0, 5, 2));
        QCOMPARE(f.board.progressMax(), 3000);
        QCOMPARE(f.board.yunXing(), QStringLiteral("a.mp3"));
        QCOMPARE(f.board.nextBellRow(), 1); // still the ringing row for its first second

        f.tickAt(8, 0, 6, 700);
        QCOMPARE(f.status(1), QStringLiteral("完成"));
        QCOMPARE(f.board.nextBellRow(), 2);
        QCOMPARE(f.board.progressPos(), 1698);
        QCOMPARE(f.board.yunXing(), QStringLiteral("a.mp3"));

        f.tickRange(t + 3, t + 9); // a has ended
        QCOMPARE(f.board.progressPos(), 0);
        QVERIFY(f.board.yunXing().isEmpty());
        f.tickAt(8, 0, 15);
        QCOMPARE(f.played(), (QStringList{"a.mp3", "b.mp3"}));
        QCOMPARE(f.messages.shown.size(), 0);
    }

    // The record's delay is what is heard: the output's own latency is added
    // once the player knows it, unless the figure is no real output's.
    void theRecordedDelayAddsTheOutputsLatency_data()
    {
        QTest::addColumn<qint64>("latency");
        QTest::addColumn<QString>("record");
        QTest::newRow("a sound card") << qint64(40) << "08:00:05 a 完成 42";
        QTest::newRow("not known") << qint64(0) << "08:00:05 a 完成 2";
        QTest::newRow("a sink ahead of real time") << qint64(1500) << "08:00:05 a 完成 2";
    }
    void theRecordedDelayAddsTheOutputsLatency()
    {
        QFETCH(qint64, latency);
        QFETCH(QString, record);
        F f;
        f.add(F::at(8, 0, 5), "a");
        f.player.lengths["a.mp3"] = 10000;
        f.player.latencyMs = f.spare.latencyMs = latency;
        f.tickRange(F::at(8, 0, 3), F::at(8, 0, 5));
        QTest::qWait(RingEngine::kLatencyReadMs + 200);
        QCOMPARE(f.records(), QStringList{record});
    }

    void aBellDueWhileAnotherPlaysIsOpenedAheadOnTheSecondPlayer()
    {
        F f;
        const qint64 t = F::at(8, 0, 5);
        f.add(t, "long");
        f.add(t + 5, "next");
        f.add(t + 8, "third");
        f.player.lengths["long.mp3"] = 60000;
        f.player.lengths["next.mp3"] = 60000;
        f.tickRange(t - 2, t + 4);
        // Preparing never cuts the playing bell: the next one waits on the spare.
        QVERIFY(f.player.isPlaying());
        QVERIFY(!f.player.log.contains("open next.mp3"));
        QCOMPARE(f.spare.log, QStringList{"open next.mp3"});
        const int before = f.player.log.size();
        f.tickAt(8, 0, 10);
        // At its second the engine only stops the one and starts the other.
        QCOMPARE(f.player.log.mid(before), QStringList{"stop"});
        QCOMPARE(f.spare.log.last(), QStringLiteral("play"));
        QCOMPARE(&f.engine.activePlayer(), static_cast<AudioPlayer *>(&f.spare));
        // And back again for the third, opened on the first player meanwhile.
        f.tickRange(t + 6, t + 8);
        QCOMPARE(f.played(), (QStringList{"long.mp3", "next.mp3", "third.mp3"}));
        QCOMPARE(f.player.log.mid(before), (QStringList{"stop", "close", "open third.mp3", "play"}));
        for (const QDateTime &at : f.player.playTimes)
            QCOMPARE(at.time().msec(), 2);
        QCOMPARE(f.records(), (QStringList{"08:00:05 long 完成 2", "08:00:10 next 完成 2",
                                           "08:00:13 third 完成 2"}));
    }

    void entriesWithTheSameTimeRingOnce()
    {
        F f;
        const qint64 t = F::at(8, 0, 5);
        f.add(t, "x");
        f.add(t, "y");
        f.tickRange(t - 3, t + 1);
        QCOMPARE(f.board.yunXing(), QStringLiteral("x.mp3")); // the file that sounds
        f.tickRange(t + 2, t + 3);
        QCOMPARE(f.played(), QStringList{"x.mp3"});
        QCOMPARE(f.status(1), QStringLiteral("完成"));
        QCOMPARE(f.status(2), QStringLiteral("完成"));
        QCOMPARE(f.board.nextBellRow(), 3);
    }

    void missingFileShowsMessageAndTheDayGoesOn()
    {
        F f;
        const qint64 t = F::at(8, 0, 5);
        const qint64 missing = f.add(t, "gone", F::allDays(), true);
        f.add(t + 3, "next");
        f.add(t + 5, "gone too", F::allDays(), true);
        f.add(t + 8, "last");
        // Ticks go on inside the open box: the next bells ring meanwhile.
        int nested = 0;
        f.messages.whileOpen = [&](const FakeMessages::Shown &) {
            for (qint64 s = t + 1; s <= t + 9; ++s) {
                ++nested;
                f.tickAt(int(s / 3600), int(s % 3600 / 60), int(s % 60));
                f.engine.TimerShanTimer();
                QCOMPARE(f.status(1), QStringLiteral("失败"));
            }
        };
        f.tickRange(t - 2, t);
        QCOMPARE(nested, 9);
        QCOMPARE(f.messages.texts(), QStringList{BellBoard::kNotFound});
        QCOMPARE(f.messages.shown[0].kind, QStringLiteral("plain"));
        QCOMPARE(f.board.day().faultOf({missing, t}), BellStatus::Failed);
        QCOMPARE(f.played(), (QStringList{"next.mp3", "last.mp3"}));
        QCOMPARE(f.player.playTimes[0].time(), QTime(8, 0, 8, 2));
        QCOMPARE(f.player.playTimes[1].time(), QTime(8, 0, 13, 2));
        // The second failure, while the first box is open, opens no second box.
        QCOMPARE(f.status(3), QStringLiteral("失败"));
        QCOMPARE(f.board.day().faultCount(), 2);
        f.messages.whileOpen = nullptr;

        // The failed marks survive the blink and reloads; never rung again.
        f.tickRange(t + 10, t + 12);
        f.engine.TimerShanTimer();
        QCOMPARE(f.status(1), QStringLiteral("失败"));
        f.engine.ButtonPlayClick();
        f.engine.ButtonPlayClick();
        QCOMPARE(f.status(1), QStringLiteral("失败"));
        QCOMPARE(f.status(2), QStringLiteral("完成"));
        QCOMPARE(f.status(3), QStringLiteral("失败"));
        QCOMPARE(f.played().size(), 2);
        QCOMPARE(f.messages.shown.size(), 1);
    }

    // A row whose time is no second of the day is skipped, never counted:
    // every bell after it rings; after the last one nothing blinks.
    void rowsWithoutAValidTimeCostNoBell()
    {
        F f;
        const qint64 t = F::at(8, 0, 5);
        f.add(t, "a");
        f.add(t + 3, "b");
        QSqlQuery q(f.store.database());
        for (const char *bad : {"'08:00:06'", "-1", "28806.5"})
            QVERIFY(q.exec(QStringLiteral("insert into daling (时间, 名称, 音乐, 周期) values (%1, 'bad', "
                                          "'a.mp3', '日一二三四五六')").arg(QLatin1String(bad))));
        f.tickRange(t - 3, t + 10);
        f.engine.TimerShanTimer();
        f.engine.TimerShanTimer();
        QCOMPARE(f.played(), (QStringList{"a.mp3", "b.mp3"}));
        QCOMPARE(f.records(), (QStringList{"08:00:05 a 完成 2", "08:00:08 b 完成 2"}));
        QStringList shown;
        for (int r = 1; r <= 5; ++r)
            shown << f.status(r);
        QCOMPARE(shown, (QStringList{"时间无效", "完成", "时间无效", "完成", "时间无效"}));
        QVERIFY(f.status(6).isEmpty());
        QVERIFY(f.messages.shown.isEmpty());
    }

    void aLateTickDoesNotLoseTheBell()
    {
        F f;
        const qint64 t = F::at(8, 0, 5);
        f.add(t, "a");
        f.tickRange(t - 3, t - 1);
        f.tickAt(8, 0, 6, 400); // the tick for 08:00:05 came 1.4 s late
        QCOMPARE(f.played(), QStringList{"a.mp3"});
        f.tickAt(8, 0, 7, 900); // and the next one late again: the Refresh still comes
        QCOMPARE(f.status(1), QStringLiteral("完成"));
        QCOMPARE(f.board.nextBellRow(), 2);
        // Two ticks in one second (a timer firing early) ring nothing twice.
        f.tickAt(8, 0, 7, 950);
        QCOMPARE(f.played().size(), 1);
    }

    void aClockSetBackNeverRingsTwice()
    {
        F f;
        const qint64 t = F::at(8, 0, 5);
        f.add(t, "a");
        f.add(t + 30, "b");
        f.tickRange(t - 2, t + 3);
        QCOMPARE(f.played(), QStringList{"a.mp3"});
        f.tickAt(8, 0, 0); // set back by eight seconds
        f.engine.ButtonPlayClick();
        f.engine.ButtonPlayClick(); // the reload puts "a" back in front of the cursor
        QCOMPARE(f.board.nextBellRow(), 1);
        f.tickRange(t - 4, t + 30);
        QCOMPARE(f.played(), (QStringList{"a.mp3", "b.mp3"}));
        QCOMPARE(f.status(1), QStringLiteral("完成"));

        // Set back across midnight: the 00:00:00 bell rings once.
        F g(QDateTime(QDate(2026, 12, 7), QTime(23, 59, 58)));
        g.add(0, "midnight");
        const QDate mon(2026, 12, 7), tue(2026, 12, 8);
        g.tickAt(QDateTime(mon, QTime(23, 59, 58, 2)));
        g.tickAt(QDateTime(mon, QTime(23, 59, 59, 2)));
        for (int s = 0; s <= 3; ++s)
            g.tickAt(QDateTime(tue, QTime(0, 0, s, 2)));
        g.tickAt(QDateTime(mon, QTime(23, 59, 59, 2)));
        for (int s = 0; s <= 3; ++s)
            g.tickAt(QDateTime(tue, QTime(0, 0, s, 2)));
        QCOMPARE(g.played(), QStringList{"midnight.mp3"});
    }

    // A clock stepped forward (a suspend, an NTP correction) rings the
    // latest bell due within the catch-up window, late, with its delay;
    // older ones are marked 错过.
    void forwardJumpsRingOnlyWithinTheWindow_data()
    {
        QTest::addColumn<int>("window");
        QTest::addColumn<QTime>("jumpTo");
        QTest::addColumn<QStringList>("records"); // of a (08:00:02) and b (08:00:20)
        const QString missed = QStringLiteral(" 错过 - ") + RingEngine::kMissedReason;
        QTest::newRow("25 s over a bell, default window")
            << -1 << QTime(8, 0, 25) << QStringList{"08:00:02 a" + missed, "08:00:20 b 完成 5002"};
        QTest::newRow("61 s, past the default window")
            << -1 << QTime(8, 1, 21) << QStringList{"08:00:02 a" + missed, "08:00:20 b" + missed};
        QTest::newRow("window 0, a tick one second late")
            << 0 << QTime(8, 0, 21) << QStringList{"08:00:02 a" + missed, "08:00:20 b" + missed};
        QTest::newRow("window 300") << 300 << QTime(8, 1, 25)
            << QStringList{"08:00:02 a" + missed, "08:00:20 b 完成 65002"};
    }
    void forwardJumpsRingOnlyWithinTheWindow()
    {
        QFETCH(int, window);
        QFETCH(QTime, jumpTo);
        QFETCH(QStringList, records);
        {
            F f;
            QCOMPARE(f.engine.catchUpSeconds(), 60);
            if (window >= 0)
                f.engine.setCatchUpSeconds(window);
            f.add(F::at(8, 0, 2), "a");
            f.add(F::at(8, 0, 20), "b");
            f.add(F::at(8, 1, 30), "c");
            f.tickAt(8, 0, 0);
            f.tickAt(jumpTo.hour(), jumpTo.minute(), jumpTo.second());
            f.tickRange(jumpTo.msecsSinceStartOfDay() / 1000 + 1, F::at(8, 1, 31));
            QCOMPARE(f.records(), records + QStringList{"08:01:30 c 完成 2"});
            QCOMPARE(f.status(1), QStringLiteral("错过"));
            QCOMPARE(f.status(2), records[1].contains("完成") ? QStringLiteral("完成") : QStringLiteral("错过"));
            QVERIFY(f.messages.shown.isEmpty());
            // No silent rows: the band names the latest bell that did not ring.
            QCOMPARE(f.alerts.notRungCount(), int(records.filter(QStringLiteral("错过")).size()));
            QVERIFY(f.alerts.notRungText().startsWith(records.last().contains("错过")
                ? QStringLiteral("08:00:20 b 没有响：") : QStringLiteral("08:00:02 a 没有响：")));
        }
        if (QByteArray(QTest::currentDataTag()) != "25 s over a bell, default window")
            return;
        {
            F f;
            f.add(F::at(8, 30, 0), "missed");
            f.add(F::at(9, 59, 59), "just now");
            f.add(F::at(10, 0, 5), "ahead");
            f.tickAt(8, 0, 0);
            f.tickAt(10, 0, 0); // +2 h
            QCOMPARE(f.played(), QStringList{"just now.mp3"});
            f.tickRange(F::at(10, 0, 1), F::at(10, 0, 6));
            QCOMPARE(f.played(), (QStringList{"just now.mp3", "ahead.mp3"}));
            // Never started: it says so, through every reload, without a box.
            QCOMPARE(f.status(1), QStringLiteral("错过"));
            f.engine.TimerShanTimer();
            QCOMPARE(f.status(1), QStringLiteral("错过"));
            QVERIFY(f.messages.shown.isEmpty());
            QCOMPARE(f.records().first(),
                     QStringLiteral("08:30:00 missed 错过 - ") + RingEngine::kMissedReason);
        }
    }

    void midnightReloadsBeforeTheRingCheck_data()
    {
        QTest::addColumn<int>("firstTickMs"); // when the first tick of the new day comes
        QTest::newRow("on time") << 2;
        QTest::newRow("1.4 s late") << 1400;
    }
    void midnightReloadsBeforeTheRingCheck()
    {
        QFETCH(int, firstTickMs);
        const QDate mon(2026, 12, 7), tue(2026, 12, 8);
        F f(QDateTime(mon, QTime(23, 59, 57)));
        f.add(F::at(23, 59, 59), "monday late", "一");
        f.add(0, "tuesday zero", "二");
        f.add(3, "monday early", "一");
        f.add(5, "tuesday five", "二");
        f.tickAt(QDateTime(mon, QTime(23, 59, 57, 2)));
        f.tickAt(QDateTime(mon, QTime(23, 59, 58, 2)));
        f.tickAt(QDateTime(mon, QTime(23, 59, 59, 2)));
        QCOMPARE(f.played(), QStringList{"monday late.mp3"});
        f.tickAt(QDateTime(tue, QTime(0, 0, 0).addMSecs(firstTickMs)));
        QCOMPARE(f.board.dateText(), QStringLiteral(" 12月8日 周二"));
        QCOMPARE(f.name(1), QStringLiteral("tuesday zero"));
        QCOMPARE(f.played(), (QStringList{"monday late.mp3", "tuesday zero.mp3"}));
        for (int s = firstTickMs > 1000 ? 2 : 1; s <= 6; ++s)
            f.tickAt(QDateTime(tue, QTime(0, 0, s, 2)));
        QCOMPARE(f.played(), (QStringList{"monday late.mp3", "tuesday zero.mp3", "tuesday five.mp3"}));
        QCOMPARE(f.board.gridRowCount(), 1 + 2 + 5);
    }

    void aLateTickAfterMidnightStillRingsYesterdaysLastBell_data()
    {
        QTest::addColumn<bool>("missing");
        QTest::newRow("rings") << false;
        QTest::newRow("fails, box open across midnight") << true;
    }
    void aLateTickAfterMidnightStillRingsYesterdaysLastBell()
    {
        QFETCH(bool, missing);
        const QDate mon(2026, 12, 7), tue(2026, 12, 8);
        F f(QDateTime(mon, QTime(23, 59, 57)));
        f.add(F::at(23, 59, 59), "monday late", "一", missing);
        f.add(2, "tuesday two", "二");
        f.messages.whileOpen = [&](const FakeMessages::Shown &) {
            for (int s = 1; s <= 3; ++s)
                f.tickAt(QDateTime(tue, QTime(0, 0, s, 2)));
        };
        f.tickAt(QDateTime(mon, QTime(23, 59, 57, 2)));
        f.tickAt(QDateTime(mon, QTime(23, 59, 58, 2)));
        f.tickAt(QDateTime(tue, QTime(0, 0, 0, 400))); // the tick for 23:59:59, 1.4 s late
        if (!missing) {
            QCOMPARE(f.played(), QStringList{"monday late.mp3"});
            for (int s = 1; s <= 3; ++s)
                f.tickAt(QDateTime(tue, QTime(0, 0, s, 2)));
        } else {
            QCOMPARE(f.messages.texts(), QStringList{BellBoard::kNotFound});
        }
        // The new day's list came in (inside the box too) and its bell rang.
        QCOMPARE(f.name(1), QStringLiteral("tuesday two"));
        QCOMPARE(f.played().last(), QStringLiteral("tuesday two.mp3"));
        QCOMPARE(f.player.playTimes.last(), QDateTime(tue, QTime(0, 0, 2, 2)));
        QCOMPARE(f.played().size(), missing ? 1 : 2);
        QCOMPARE(f.board.day().faultCount(), 0); // yesterday's failure is not today's
    }

    void reloadsAtOneTenAndThirtySeconds()
    {
        F f(QDateTime(QDate(2026, 12, 7), QTime(0, 0, 0)));
        f.add(F::at(12, 0, 0), "noon");
        f.tickRange(0, 0);
        QCOMPARE(f.board.gridRowCount(), 1 + 1 + 5);
        // Entries stored behind the engine's back appear at the reloads.
        f.add(F::at(13, 0, 0), "one");
        f.tickRange(1, 1);
        QCOMPARE(f.board.gridRowCount(), 1 + 2 + 5);
        f.add(F::at(14, 0, 0), "two");
        f.tickRange(2, 9);
        QCOMPARE(f.board.gridRowCount(), 1 + 2 + 5);
        f.tickRange(10, 10);
        QCOMPARE(f.board.gridRowCount(), 1 + 3 + 5);
        f.add(F::at(15, 0, 0), "three");
        f.tickRange(11, 29);
        QCOMPARE(f.board.gridRowCount(), 1 + 3 + 5);
        f.tickRange(30, 31);
        QCOMPARE(f.board.gridRowCount(), 1 + 4 + 5);

        // A running test keeps its selection: no reload in stopped mode then.
        f.engine.ButtonPlayClick();
        f.board.setSelectedRow(3);
        f.player.defaultLength = 48LL * 3600 * 1000; // still playing after the day's change
        f.test.ButtonCheckClick();
        f.clock.set(QDateTime(QDate(2026, 12, 8), QTime(0, 0, 0, 2)));
        f.engine.TimerShiJianTimer();
        f.tickRange(1, 1);
        QCOMPARE(f.board.selectedRow(), 3);
        QVERIFY(f.board.testing());
    }

    void switchingModeWhileABellPlays()
    {
        F f;
        const qint64 t = F::at(8, 0, 5);
        f.add(t, "a");
        f.add(t + 60, "b");
        f.add(t + 120, "sunday", "日");
        f.tickRange(t - 1, t + 2);
        QVERIFY(f.player.isPlaying());
        QVERIFY(f.board.yunXing() == QStringLiteral("a.mp3"));
        f.engine.ButtonPlayClick();
        QVERIFY(!f.board.running());
        QCOMPARE(f.board.playCaption(), QStringLiteral("开  始"));
        QVERIFY(f.board.editingEnabled() && f.board.checkEnabled());
        QVERIFY(!f.player.isPlaying());
        QCOMPARE(f.player.log.last(), QStringLiteral("stop"));
        QVERIFY(!f.engine.TimerShan.isActive());
        QCOMPARE(f.board.gridRowCount(), 1 + 3 + 5); // every entry, no status
        for (int r = 1; r <= 3; ++r)
            QVERIFY(f.status(r).isEmpty());
        f.tickRange(t + 3, t + 3);
        QVERIFY(f.board.yunXing().isEmpty());
        QCOMPARE(f.board.progressPos(), 0);

        // In stopped mode nothing rings.
        f.tickRange(t + 4, t + 61);
        QCOMPARE(f.played(), QStringList{"a.mp3"});
        f.engine.ButtonPlayClick();
        QVERIFY(f.board.running());
        QVERIFY(f.engine.TimerShan.isActive());
        QCOMPARE(f.board.gridRowCount(), 1 + 2 + 5);
        QCOMPARE(f.board.nextBellRow(), 3);
    }

    void blinkSequence()
    {
        F f;
        const qint64 t = F::at(8, 0, 5);
        f.add(t, "a");
        f.add(t + 30, "b");
        f.tickRange(t - 3, t - 2);
        QStringList seen;
        auto blink = [&] {
            f.engine.TimerShanTimer();
            seen << f.status(1) + "|" + f.status(2);
        };
        blink();
        blink();
        blink();
        f.tickRange(t - 1, t + 1); // rings, then the Refresh
        blink();
        blink();
        blink();
        f.tickRange(t + 2, t + 5); // a (5 s) has ended
        blink();
        blink();
        QCOMPARE(seen, (QStringList{"等待|", "|", "等待|", "播放|", "|", "播放|", "完成|等待",
                                    "完成|"}));
        QVERIFY(f.engine.TimerShan.isActive());
        // Stopped mode: the blink does nothing and stays off.
        f.engine.ButtonPlayClick();
        f.engine.TimerShanTimer();
        QVERIFY(!f.engine.TimerShan.isActive());
        QCOMPARE(f.status(1), QString());
    }
};

QTEST_GUILESS_MAIN(RingTest)
#include "tst_ring.moc"
