#include "ringfixture.h"
#include "zonestore.h"

#include <QSignalSpy>
#include <map>
#include <memory>

// Test playback in stopped mode, stepped by hand with the fake clock.
class TestPlaybackTest : public QObject {
    Q_OBJECT
    using F = RingFixture;

    // Stopped mode with the list a, b (file missing), c, selected at row.
    static void prepare(F &f, int row)
    {
        f.add(F::at(8, 0, 0), "a");
        f.add(F::at(9, 0, 0), "b", F::allDays(), true);
        f.add(F::at(10, 0, 0), "c");
        f.player.lengths["a.mp3"] = 2500;
        f.player.lengths["c.mp3"] = 1500;
        f.board.setLastEditedIndex(row - 1);
        f.board.Refresh();
        QCOMPARE(f.board.selectedRow(), row);
    }
    // A second passes: the tick runs, the players tell what ended, then
    // what they posted (the question) is shown.
    static inline bool s_inSlot = false;
    static void step(F &f, const QList<FakePlayer *> &zones = {})
    {
        f.clock.advanceMs(1000);
        s_inSlot = true;
        f.test.TimerCheckTimer();
        f.player.advance();
        for (FakePlayer *z : zones)
            z->advance();
        s_inSlot = false;
        QCoreApplication::sendPostedEvents();
    }

private slots:
    // The first row that cannot be played asks once whether to go on; the
    // test waits for the answer, and later failed rows are not asked about.
    void playsFromTheRowPastMissingFilesToTheEnd()
    {
        F f;
        prepare(f, 1);
        f.add(F::at(11, 0, 0), "d", F::allDays(), true);
        f.board.Refresh();
        int stepsInBox = 0;
        f.messages.whileOpen = [&](const FakeMessages::Shown &) {
            // Shown after the signal that met the failure, never inside it.
            QVERIFY(!s_inSlot);
            for (int i = 0; i < 3; ++i) {
                step(f);
                ++stepsInBox;
            }
            QCOMPARE(f.board.selectedRow(), 2);
            QCOMPARE(f.played(), QStringList{"a.mp3"});
        };
        f.test.ButtonCheckClick();
        QVERIFY(f.board.testing());
        QCOMPARE(f.board.checkCaption(), QStringLiteral("停止测试"));
        QVERIFY(!f.board.editingEnabled() && !f.board.playEnabled() && !f.board.adhocEnabled());
        QVERIFY(f.test.TimerCheck.isActive());
        QCOMPARE(f.test.TimerCheck.interval(), 1000);
        QCOMPARE(f.board.yunXing(), QStringLiteral("a.mp3"));
        QCOMPARE(f.played(), QStringList{"a.mp3"});
        QCOMPARE(f.board.progressMax(), 2500);

        step(f); // a still plays
        QCOMPARE(f.board.selectedRow(), 1);
        QCOMPARE(f.board.progressPos(), 1000);
        step(f);
        step(f); // a has ended: b fails, and the operator is asked
        QCOMPARE(stepsInBox, 3);
        QCOMPARE(f.messages.texts(), QStringList{TestPlayback::goOnQuestion(2, "b.mp3", BellBoard::kNotFound)});
        QCOMPARE(f.messages.shown[0].kind, QStringLiteral("Confirm"));
        QCOMPARE(f.board.yunXing(), QStringLiteral("b.mp3"));
        step(f); // on to c
        QCOMPARE(f.board.selectedRow(), 3);
        QCOMPARE(f.played(), (QStringList{"a.mp3", "c.mp3"}));
        step(f);
        step(f); // c has ended: d fails without a box
        QCOMPARE(f.board.selectedRow(), 4);
        QVERIFY(f.board.testing());
        step(f); // nothing follows: the test ends by itself
        QVERIFY(!f.board.testing());
        QCOMPARE(f.board.checkCaption(), QStringLiteral("测试播放"));
        QVERIFY(f.board.editingEnabled() && f.board.playEnabled());
        QVERIFY(!f.test.TimerCheck.isActive());
        QCOMPARE(f.board.selectedRow(), 4);
        QCOMPARE(f.messages.shown.size(), 1);
        step(f); // a stray tick does nothing
        QCOMPARE(f.played().size(), 2);
    }

    // A slow file is no missing file: the test waits for it and plays it.
    // The test steps on the moment the player says the row ended, not at
    // the next tick; the tick alone never moves on from a row that plays,
    // and no tick runs once the test is over.
    void stepsOnWhenThePlayerSaysTheRowEnded()
    {
        F f;
        prepare(f, 1);
        QSignalSpy testing(&f.test, &TestPlayback::testing);
        f.test.ButtonCheckClick();
        QCOMPARE(testing.count(), 1);
        f.clock.advanceMs(2500); // a's end, between two ticks
        f.player.advance();
        QCOMPARE(f.board.selectedRow(), 2);
        QCOMPARE(f.board.yunXing(), QStringLiteral("b.mp3"));
        QCOMPARE(f.messages.shown.size(), 0); // its question waits for the slot to return
        QCoreApplication::sendPostedEvents();
        QCOMPARE(f.messages.shown.size(), 1);
        step(f); // b failed: passed at the tick
        QCOMPARE(f.board.selectedRow(), 3);
        QCOMPARE(f.played(), (QStringList{"a.mp3", "c.mp3"}));
        f.clock.advanceMs(1000);
        f.test.TimerCheckTimer(); // c plays on (1.5 s): a tick does not pass it
        QCOMPARE(f.board.selectedRow(), 3);
        QCOMPARE(f.board.progressPos(), 1000);
        f.clock.advanceMs(500);
        f.player.advance();
        QVERIFY(!f.board.testing());
        QVERIFY(!f.test.TimerCheck.isActive());
        // Ended by itself past the last row: told, as a stop is.
        QCOMPARE(testing.count(), 2);
        QCOMPARE(testing.last().first().toBool(), false);
    }

    void waitsForASlowFile()
    {
        F f;
        prepare(f, 1);
        f.player.slowOpen = true;
        f.test.ButtonCheckClick();
        f.player.slowOpen = false;
        step(f);
        step(f);
        QVERIFY(f.messages.shown.isEmpty());
        QCOMPARE(f.board.selectedRow(), 1);
        f.player.finishOpen();
        QCOMPARE(f.played(), QStringList{"a.mp3"});
        QCOMPARE(f.board.progressMax(), 2500);
        step(f);
        QCOMPARE(f.board.selectedRow(), 1);
    }

    void stoppedInTheMiddle()
    {
        F f;
        prepare(f, 3);
        f.player.lengths["c.mp3"] = 60000;
        QSignalSpy stopped(&f.player, &AudioPlayer::stopped), testing(&f.test, &TestPlayback::testing);
        f.test.ButtonCheckClick();
        step(f);
        QVERIFY(f.player.isPlaying());
        f.test.ButtonCheckClick();
        QVERIFY(!f.board.testing());
        QCOMPARE(stopped.count(), 1);
        QCOMPARE(testing.count(), 2);
        QVERIFY(!f.player.isPlaying());
        QCOMPARE(f.player.log.last(), QStringLiteral("stop"));
        QVERIFY(!f.test.TimerCheck.isActive());
        QCOMPARE(f.board.selectedRow(), 3);
        QVERIFY(f.messages.shown.isEmpty());
    }

    // No ends the test at the failed row; a stop pressed after a failed row
    // (nothing open to stop) shows no player error, and 开始 is free at once.
    void aFailedRowEndsTheTestQuietly_data()
    {
        QTest::addColumn<bool>("answerNo");
        QTest::newRow("operator answers No") << true;
        QTest::newRow("operator stops after Yes") << false;
    }
    void aFailedRowEndsTheTestQuietly()
    {
        QFETCH(bool, answerNo);
        F f;
        prepare(f, 2);
        f.messages.answers = {answerNo ? Messages::Answer::No : Messages::Answer::Yes};
        f.test.ButtonCheckClick();
        QCOMPARE(f.messages.shown.size(), 1);
        if (!answerNo)
            f.test.ButtonCheckClick(); // must not throw "No MCI device open"
        QVERIFY(!f.board.testing());
        QVERIFY(f.board.playEnabled());
        QVERIFY(!f.test.TimerCheck.isActive());
        QCOMPARE(f.messages.shown.size(), 1);
        QCOMPARE(f.board.selectedRow(), 2);
        QVERIFY(f.played().isEmpty());
    }

    void startingOnAnEmptyRowOrInRunningMode()
    {
        F f;
        prepare(f, 1);
        f.board.setSelectedRow(5); // an empty row below the list
        f.test.ButtonCheckClick();
        QCOMPARE(f.messages.texts(), QStringList{TestPlayback::goOnQuestion(5, {}, BellBoard::kNotFound)});
        step(f);
        QVERIFY(!f.board.testing());
        QCOMPARE(f.messages.shown.size(), 1);

        // A path in the music cell is refused like a missing file.
        f.store.insert({0, 100, "escape", "../data/dbDaLing.db", F::allDays(), "", ""});
        f.board.Refresh();
        f.board.setSelectedRow(1);
        f.test.ButtonCheckClick();
        QCOMPARE(f.messages.shown.size(), 2);
        QVERIFY(f.played().isEmpty());
        f.test.ButtonCheckClick(); // nothing is open: nothing to stop, no error
        QVERIFY(!f.board.testing());

        // In running mode the button does nothing.
        f.engine.ButtonPlayClick();
        QVERIFY(f.board.running());
        f.test.ButtonCheckClick();
        QVERIFY(!f.board.testing());
        QVERIFY(!f.test.TimerCheck.isActive());
    }

    // A row whose bell has zones plays in each of them, as it rings, and
    // the test steps on once the last has ended; stopping stops them all; a
    // zone that stays silent is named in the question; rows without zones
    // play on the main player.
    void aBellWithZonesIsTestedInItsZones()
    {
        F f;
        ZoneStore zones(f.store);
        const qint64 jia = zones.add({0, "甲", "pulse/jia", 0});
        const qint64 yi = zones.add({0, "乙", "pulse/yi", 0});
        f.engine.setZones(zones.list());
        std::map<QString, std::unique_ptr<TimedPlayer>> players;
        f.engine.zonePlayer = [&](const Zone &z) -> AudioPlayer * {
            auto &p = players[z.output];
            p = std::make_unique<TimedPlayer>(&f.clock);
            return p.get();
        };
        f.test.zonePlayer = [&f](qint64 z) { return f.engine.playerOfZone(z); };
        f.test.zoneName = [&f](qint64 z) { return f.engine.zoneName(z); };
        f.home.touchMusic("z.mp3");
        f.store.insert({0, F::at(7, 0, 0), "both", "z.mp3", F::allDays(), "", "", {jia, yi}});
        prepare(f, 1);
        TimedPlayer *a = static_cast<TimedPlayer *>(f.engine.playerOfZone(jia));
        TimedPlayer *b = static_cast<TimedPlayer *>(f.engine.playerOfZone(yi));
        a->defaultLength = 1500;
        b->defaultLength = 3500;

        f.test.ButtonCheckClick();
        QCOMPARE(a->played, QStringList{"z.mp3"});
        QCOMPARE(b->played, QStringList{"z.mp3"});
        QVERIFY(f.played().isEmpty());
        step(f, {a, b});
        step(f, {a, b}); // 甲 has ended, 乙 still plays
        QCOMPARE(f.board.selectedRow(), 1);
        step(f, {a, b});
        step(f, {a, b});
        QCOMPARE(f.board.selectedRow(), 2); // then row a, on the main player
        QCOMPARE(f.played(), QStringList{"a.mp3"});
        f.test.ButtonCheckClick();

        f.board.setSelectedRow(1);
        b->outputDown = true;
        f.test.ButtonCheckClick();
        QCOMPARE(f.messages.texts(),
                 QStringList{TestPlayback::goOnQuestion(1, "z.mp3", OutputGroup::silentZonesText(
                                                                       {"乙（" + BellBoard::kNoOutput + "）"}))});
        QVERIFY(a->isPlaying());
        f.test.ButtonCheckClick(); // stopped: every zone falls silent
        QVERIFY(!a->isPlaying() && !b->isPlaying());
        QCOMPARE(a->log.last(), QStringLiteral("stop"));
    }
};

QTEST_GUILESS_MAIN(TestPlaybackTest)
#include "tst_testplayback.moc"
