#include "fakes.h"
#include "ringplayout.h"

#include <QTest>

// The bells on 铃声输出 without the engine: what the second of a bell
// opened ahead does, and where the next bell goes while one sounds.
class RingPlayoutTest : public QObject {
    Q_OBJECT

    // A player whose starts cost the clock what it is told, one after the
    // other.
    struct CostlyPlayer : FakePlayer {
        CostlyPlayer(FakeClock *clock) : FakePlayer(clock), c(clock) {}
        FakeClock *c;
        QList<qint64> costs;
        void play() override
        {
            if (!costs.isEmpty())
                c->advanceMs(costs.takeFirst());
            FakePlayer::play();
        }
    };

    struct F {
        TempHome home;
        BellStore store;
        FakeClock clock;
        AppPaths paths{home.path()};
        BellBoard board{store, clock, paths};
        FakePlayer main{&clock};
        FakePlayer spare{&clock};
        RingPlayout playout{board, main, &spare};
        static constexpr qint64 kDay = 2461382LL * 86400;
        F()
        {
            home.touchMusic("a.mp3");
            home.touchMusic("b.mp3");
        }
        QString path(const QString &name) const { return paths.musicFile(name); }
    };

private slots:
    void openedAheadOnlyPlaysAtItsSecond()
    {
        F f;
        const BellKey a{1, 100};
        QCOMPARE(f.playout.idle(), &f.main);
        f.playout.openAhead(&f.main, a, F::kDay, f.path("a.mp3"));
        QCOMPARE(f.main.log, QStringList{"open a.mp3"});
        AudioPlayer *loading = nullptr;
        QCOMPARE(f.playout.start(a, F::kDay, "a.mp3", &loading), &f.main);
        QCOMPARE(f.main.log, (QStringList{"open a.mp3", "play"}));
        // Opened ahead for another entry (or day): opened again at the second.
        f.playout.openAhead(&f.main, a, F::kDay, f.path("a.mp3"));
        f.main.log.clear();
        QCOMPARE(f.playout.start(a, F::kDay + 86400, "a.mp3", &loading), &f.main);
        QVERIFY(f.main.log.contains("open a.mp3"));
    }

    void nextBellWhileOneSoundsGoesToTheSpare()
    {
        F f;
        AudioPlayer *loading = nullptr;
        QCOMPARE(f.playout.start({1, 100}, F::kDay, "a.mp3", &loading), &f.main);
        QCOMPARE(f.playout.idle(), &f.spare);
        f.playout.openAhead(&f.spare, {2, 102}, F::kDay, f.path("b.mp3"));
        QVERIFY(f.main.isPlaying()); // untouched until the next second
        QCOMPARE(f.playout.start({2, 102}, F::kDay, "b.mp3", &loading), &f.spare);
        QVERIFY(!f.main.isPlaying()); // cut by the next bell
        QCOMPARE(f.spare.played, QStringList{"b.mp3"});
        f.playout.setActive(&f.spare);
        QCOMPARE(&f.playout.active(), &f.spare);
        QCOMPARE(f.playout.idle(), &f.main);
        f.spare.pause(); // a paused bell is stopped too
        f.playout.stop();
        QCOMPARE(f.spare.mode(), AudioPlayer::Mode::Stopped);
    }

    void bothSoundingNoneIsIdle()
    {
        F f;
        AudioPlayer *loading = nullptr;
        f.playout.start({1, 100}, F::kDay, "a.mp3", &loading);
        f.spare.setFileName(f.path("b.mp3"));
        f.spare.open();
        f.spare.play();
        QCOMPARE(f.playout.idle(), nullptr);
    }

    void anOpenAheadIsTriedOncePerEntry()
    {
        F f;
        const BellKey a{1, 100};
        QVERIFY(f.playout.tryOnce(a, F::kDay));
        QVERIFY(!f.playout.tryOnce(a, F::kDay));
        QVERIFY(f.playout.tryOnce(a, F::kDay + 86400)); // tomorrow's
        QVERIFY(f.playout.tryOnce({2, 100}, F::kDay));
        f.playout.forget(true); // stopped mode, a hold
        QVERIFY(f.playout.tryOnce(a, F::kDay));
    }

    void aSlowFileStillLoadingAtItsSecond()
    {
        F f;
        const BellKey a{1, 100};
        f.main.slowOpen = true;
        f.playout.openAhead(&f.main, a, F::kDay, f.path("a.mp3"));
        AudioPlayer *loading = nullptr;
        QCOMPARE(f.playout.start(a, F::kDay, "a.mp3", &loading), nullptr);
        QCOMPARE(loading, &f.main);
        QCOMPARE(f.main.playCount, 0);
        // Its load done before its second: started with play() only.
        f.playout.openAhead(&f.main, a, F::kDay, f.path("a.mp3"));
        f.main.slowOpen = false;
        f.main.finishOpen();
        f.playout.opened(&f.main);
        f.main.log.clear();
        QCOMPARE(f.playout.start(a, F::kDay, "a.mp3", &loading), &f.main);
        QCOMPARE(f.main.log, QStringList{"play"});
    }

    // How early a bell may start: the median of the player's latest starts,
    // never more than the bound.
    void theLeadIsTheMedianOfTheLatestStarts_data()
    {
        QTest::addColumn<QList<qint64>>("costs");
        QTest::addColumn<qint64>("lead");
        QTest::newRow("none measured") << QList<qint64>{} << qint64(0);
        QTest::newRow("one") << QList<qint64>{4} << qint64(4);
        QTest::newRow("a stall among them") << QList<qint64>{4, 5, 200, 4, 3} << qint64(4);
        QTest::newRow("only the latest count") << QList<qint64>{9, 9, 9, 9, 9, 9, 2, 2, 2, 2, 3, 3, 3} << qint64(2);
        QTest::newRow("a slow output, bounded") << QList<qint64>{60, 70, 80} << RingPlayout::kMaxStartLeadMs;
    }
    void theLeadIsTheMedianOfTheLatestStarts()
    {
        QFETCH(QList<qint64>, costs);
        QFETCH(qint64, lead);
        F f;
        CostlyPlayer main(&f.clock);
        RingPlayout playout(f.board, main, &f.spare);
        main.costs = costs;
        AudioPlayer *loading = nullptr;
        for (int i = 0; i < costs.size(); ++i) {
            playout.openAhead(&main, {1, 100 + i}, F::kDay, f.path("a.mp3"));
            playout.start({1, 100 + i}, F::kDay, "a.mp3", &loading);
            main.stop();
        }
        playout.openAhead(&main, {2, 200}, F::kDay, f.path("b.mp3"));
        QCOMPARE(playout.ready(F::kDay), (std::optional<BellKey>(BellKey{2, 200})));
        QCOMPARE(playout.startLeadMs(), lead);
        // The spare's own starts are not the main player's.
        playout.openAhead(&f.spare, {3, 300}, F::kDay, f.path("b.mp3"));
        QCOMPARE(playout.startLeadMs(), 0);
    }

    // An early start measures from when its timer was aimed: a late
    // wake-up is part of what the next start must allow for.
    void aLateWakeUpCountsInTheLead()
    {
        F f;
        CostlyPlayer main(&f.clock);
        RingPlayout playout(f.board, main, &f.spare);
        main.costs = {1};
        playout.openAhead(&main, {1, 100}, F::kDay, f.path("a.mp3"));
        const QDateTime aim = f.clock.now();
        f.clock.advanceMs(2);
        playout.startEarly({1, 100}, F::kDay, aim);
        QVERIFY(main.isPlaying());
        main.stop();
        playout.openAhead(&main, {2, 200}, F::kDay, f.path("b.mp3"));
        QCOMPARE(playout.startLeadMs(), 3);
    }

    void anEarlyStartIsTakenAtItsSecondOrStopped()
    {
        F f;
        const BellKey a{1, 100};
        AudioPlayer *loading = nullptr;
        f.playout.openAhead(&f.main, a, F::kDay, f.path("a.mp3"));
        f.clock.setTime(QTime(8, 0, 0, 996));
        f.playout.startEarly(a, F::kDay, f.clock.now());
        QVERIFY(f.main.isPlaying());
        QCOMPARE(f.playout.ready(F::kDay), std::nullopt);
        // Its second takes it as it sounds: no second play().
        f.clock.setTime(QTime(8, 0, 1, 2));
        QCOMPARE(f.playout.start(a, F::kDay, "a.mp3", &loading), &f.main);
        QCOMPARE(f.main.log, (QStringList{"open a.mp3", "play"}));
        QCOMPARE(f.playout.startedAt().time(), QTime(8, 0, 0, 996));
        // Another bell at that second: the early one is stopped first.
        f.main.stop();
        f.playout.openAhead(&f.main, a, F::kDay, f.path("a.mp3"));
        f.playout.startEarly(a, F::kDay, f.clock.now());
        QCOMPARE(f.playout.start({2, 100}, F::kDay, "b.mp3", &loading), &f.main);
        QCOMPARE(f.main.played, (QStringList{"a.mp3", "a.mp3", "b.mp3"}));
        // Nothing at that second (stopped mode, a new day): forgotten, silent.
        f.main.stop();
        f.playout.openAhead(&f.spare, a, F::kDay, f.path("a.mp3"));
        f.playout.startEarly(a, F::kDay, f.clock.now());
        QVERIFY(f.spare.isPlaying());
        f.playout.forget();
        QVERIFY(!f.spare.isPlaying());
    }
};

QTEST_GUILESS_MAIN(RingPlayoutTest)
#include "tst_ringplayout.moc"
