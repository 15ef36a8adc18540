// No sound output: a bell that cannot sound is never taken for rung. Its
// start is tried again while its catch-up window lasts; then the operator is
// told, and the next bell rings once the output is back. This test runs with no PulseAudio server reachable and
// no ALSA configuration.
#include "mpvplayer.h"
#include "ringfixture.h"

class NoOutputTest : public QObject {
    Q_OBJECT

    // Plays like FakePlayer, but the output can be pulled away.
    class UnpluggedPlayer : public TimedPlayer {
    public:
        using TimedPlayer::TimedPlayer;
        bool outputGone = true;
        void play() override
        {
            if (outputGone)
                throw AudioError("no output", AudioError::Cause::Output);
            TimedPlayer::play();
        }
    };

private slots:
    void theOperatorIsToldAndTheNextBellRings()
    {
        RingFixture f;
        UnpluggedPlayer player(&f.clock);
        RingEngine engine(f.board, player, f.messages, f.clock);
        engine.setCatchUpSeconds(3); // a short window: told after three seconds of retries
        f.add(RingFixture::at(8, 0, 5), "first");
        f.add(RingFixture::at(8, 0, 9), "second");
        for (int s = 0; s <= 12; ++s) {
            if (s == 9)
                player.outputGone = false;
            f.clock.setTime(QTime(8, 0, s, 2));
            if (s == 8)
                QVERIFY(f.messages.shown.isEmpty()); // still within the window
            if (s == 9) {
                QCOMPARE(f.messages.texts(), QStringList{BellBoard::kNoOutput});
                QCOMPARE(f.status(1), QStringLiteral("失败"));
            }
            RingFixture::tickOf(engine);
        }
        QCOMPARE(player.played, QStringList{"second.mp3"});
        QCOMPARE(player.playTimes.first().time(), QTime(8, 0, 9, 2));
        QCOMPARE(f.messages.shown.size(), 1);
    }

    void theRealPlayerWithoutAnyOutput()
    {
        RingFixture f;
        const QString tone = makeTone(f.home.music() + "tone.wav", 1.0);
        if (tone.isEmpty())
            QSKIP("ffmpeg is missing");
        MpvPlayer player(MpvPlayer::Output::System);
        RingEngine engine(f.board, player, f.messages, f.clock);
        engine.setCatchUpSeconds(3);
        f.store.insert({0, RingFixture::at(8, 0, 3), "铃", "tone.wav", RingFixture::allDays(), "", ""});
        for (int s = 0; s <= 7; ++s) {
            f.clock.setTime(QTime(8, 0, s, 2));
            RingFixture::tickOf(engine);
        }
        QCOMPARE(f.messages.texts(), QStringList{BellBoard::kNoOutput});
        QVERIFY(!player.isPlaying());
        QCOMPARE(f.status(1), QStringLiteral("失败"));
    }
};

QTEST_GUILESS_MAIN(NoOutputTest)
#include "tst_nooutput.moc"
