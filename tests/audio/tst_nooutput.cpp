// A machine where no sound output can be opened: the PulseAudio server is
// unreachable (PULSE_SERVER names a socket that does not exist) and ALSA has
// no device (ALSA_CONFIG_PATH is empty). A bell that cannot sound must never
// be reported as played: open() or play() throws, and Mode is not Playing.
#include "audiotestutil.h"
#include "fakes.h"
#include "mpvplayer.h"

#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

using Mode = AudioPlayer::Mode;

class NoOutputTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_tone;

private slots:
    void initTestCase()
    {
        QVERIFY(qEnvironmentVariable("PULSE_SERVER").contains("nonexistent"));
        QVERIFY(m_dir.isValid());
        m_tone = makeTone(m_dir.filePath("tone.mp3"), 1.0);
        QVERIFY(!m_tone.isEmpty());
    }

    void systemOutputRefusesToPlay()
    {
        MpvPlayer p(MpvPlayer::Output::System);
        p.setFileName(m_tone);
        QString text;
        try {
            openWaiting(p);
            p.play();
        } catch (const AudioError &e) {
            text = e.text();
        }
        QVERIFY2(!text.isEmpty(), "neither open nor play failed");
        QVERIFY2(text.contains("声音输出") && text.contains(m_tone), qPrintable(text));
        QVERIFY(p.mode() != Mode::Playing);
        QVERIFY(!p.isPlaying());
        QThread::msleep(200);
        QVERIFY(p.mode() != Mode::Playing);
        // Every later try says the same, never Playing.
        for (int i = 0; i < 2; ++i) {
            bool threw = false;
            try {
                openWaiting(p);
                p.play();
            } catch (const AudioError &) {
                threw = true;
            }
            QVERIFY(threw);
            QVERIFY(p.mode() != Mode::Playing);
        }
    }

    // The server goes away while a bell plays: the player turns Stopped by
    // itself, and the next play says why instead of pretending.
    void outputLostWhilePlaying()
    {
        PrivatePulse server;
        if (!server.start("lost_null"))
            QSKIP("pulseaudio cannot be started here");
        {
            MpvPlayer p(MpvPlayer::Output::System);
            p.setFileName(m_tone);
            openWaiting(p);
            QCOMPARE(p.currentOutput(), QStringLiteral("pulse"));
            p.play();
            QCOMPARE(p.mode(), Mode::Playing);
            QThread::msleep(200);
            server.signal(SIGKILL);
            QVERIFY(pollUntil([&] { return p.mode() != Mode::Playing; }, 3000));
            QCOMPARE(p.mode(), Mode::Stopped);
            QVERIFY(p.interrupted());
            QVERIFY(p.position() < p.length());
            QVERIFY_THROWS_EXCEPTION(AudioError, p.play());
            QVERIFY(p.mode() != Mode::Playing);
            p.close();
            QVERIFY(!p.interrupted());
        }
    }

    // The null output, for tests and benchmarks, is unaffected.
    void nullOutputStillPlays()
    {
        MpvPlayer p(MpvPlayer::Output::Null);
        p.setFileName(m_tone);
        openWaiting(p);
        p.play();
        QCOMPARE(p.mode(), Mode::Playing);
        QVERIFY(pollUntil([&] { return p.position() > 100; }, 3000));
    }
};

QTEST_GUILESS_MAIN(NoOutputTest)
#include "tst_nooutput.moc"
