#include "fakes.h"
#include "ringplayout.h"

#include <QTest>

// The bells on 铃声输出 without the engine: what the second of a bell
// opened ahead does, and where the next bell goes while one sounds.
class RingPlayoutTest : public QObject {
    Q_OBJECT

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
};

QTEST_GUILESS_MAIN(RingPlayoutTest)
#include "tst_ringplayout.moc"
