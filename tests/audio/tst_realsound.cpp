// Real sound through PulseAudio: the test script starts a server (with a null
// sink "test_null"). So that other suites running at the same time cannot
// add their sounds, the test loads a null sink of its own on that server and
// makes it the player's output; what the player sends there is recorded from
// the sink's monitor (PulseAudio simple API, with wall-clock times) and must
// be there, when it should be. Skips where no server runs.
#include "audiotestutil.h"
#include "fakes.h"
#include "mpvplayer.h"
#include "onsetrecorder.h"

#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <vector>

using Mode = AudioPlayer::Mode;

class RealSoundTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<OnsetRecorder> m_rec;
    QByteArray m_module; // index of our null sink's module
    QString path(const QString &name) const { return m_dir.filePath(name); }

    static qint64 now() { return OnsetRecorder::wallNs(); }
    static double msBetween(int64_t a, int64_t b) { return double(b - a) / 1e6; }
    // Sounds recorded since `t0` (after waiting for the output to go quiet).
    std::vector<OnsetRecorder::Sound> soundsSince(int64_t t0)
    {
        m_rec->waitQuiet(150, 5000);
        std::vector<OnsetRecorder::Sound> out;
        for (const auto &s : m_rec->sounds())
            if (s.endNs > t0)
                out.push_back(s);
        return out;
    }
    static QByteArray describe(const std::vector<OnsetRecorder::Sound> &sounds, int64_t t0)
    {
        QByteArray text;
        for (const auto &s : sounds)
            text += QByteArray::number(msBetween(t0, s.startNs), 'f', 1) + ".."
                    + QByteArray::number(msBetween(t0, s.endNs), 'f', 1) + " ms ";
        return text.isEmpty() ? "nothing" : text;
    }

private slots:
    void initTestCase()
    {
        if (runOutput("pactl", {"info"}).isEmpty())
            QSKIP("no PulseAudio server (the test script starts one)");
        const QByteArray sink = "daling_audio_test_" + QByteArray::number(QCoreApplication::applicationPid());
        m_module = runOutput("pactl", {"load-module", "module-null-sink", "sink_name=" + sink,
                                       "rate=44100", "channels=2"}).trimmed();
        QVERIFY2(!m_module.isEmpty(), "cannot load a null sink");
        // The player plays to the default sink: PULSE_SINK names it.
        qputenv("PULSE_SINK", sink);
        QVERIFY(m_dir.isValid());
        QVERIFY(!makeTone(path("bell.wav"), 1.0, 880).isEmpty());
        QVERIFY(!makeTone(path("bell.mp3"), 2.0, 660).isEmpty());
        QVERIFY(!makeTone(path("low.ogg"), 1.0, 440).isEmpty());
        OnsetRecorder::Options options;
        options.device = sink.toStdString() + ".monitor";
        m_rec = std::make_unique<OnsetRecorder>(options);
        std::string error;
        QVERIFY2(m_rec->start(&error), error.c_str());
    }

    void aBellSoundsWhenPlayed_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("wav") << "bell.wav";
        QTest::newRow("mp3") << "bell.mp3";
    }
    void aBellSoundsWhenPlayed()
    {
        QFETCH(QString, file);
        m_rec->waitQuiet(200, 5000);
        const int64_t t0 = now();
        MpvPlayer p(MpvPlayer::Output::System);
        p.setFileName(path(file));
        openWaiting(p);
        QCOMPARE(p.currentOutput(), QStringLiteral("pulse"));
        QThread::msleep(300); // opened, not playing: silence
        const int64_t played = now();
        p.play();
        QCOMPARE(p.mode(), Mode::Playing);
        QVERIFY(pollUntil([&] { return p.mode() == Mode::Stopped; }, int(p.length()) + 3000));
        const auto sounds = soundsSince(t0);
        QVERIFY2(sounds.size() == 1, describe(sounds, played));
        QVERIFY2(sounds[0].startNs > played - 20'000'000 && sounds[0].startNs < played + 300'000'000,
                 describe(sounds, played));
        const double heard = msBetween(sounds[0].startNs, sounds[0].endNs);
        QVERIFY2(qAbs(heard - p.length()) < 100, describe(sounds, played));
    }

    void stopAndPauseSilence()
    {
        MpvPlayer p(MpvPlayer::Output::System);
        p.setFileName(path("bell.mp3"));
        openWaiting(p);
        m_rec->waitQuiet(200, 5000);
        const int64_t played = now();
        p.play();
        QThread::msleep(400);
        const int64_t paused = now();
        p.pause();
        QThread::msleep(400);
        const int64_t resumed = now();
        p.pause();
        QThread::msleep(300);
        const int64_t stopped = now();
        p.stop();
        QThread::msleep(300);
        const auto sounds = soundsSince(played);
        QVERIFY2(sounds.size() == 2, describe(sounds, played));
        // Silent from pause to resume, and after stop.
        QVERIFY2(sounds[0].endNs < paused + 60'000'000, describe(sounds, played));
        QVERIFY2(sounds[1].startNs > resumed - 20'000'000, describe(sounds, played));
        QVERIFY2(sounds[1].endNs < stopped + 60'000'000, describe(sounds, played));
    }

    void threePlayersMix()
    {
        MpvPlayer one(MpvPlayer::Output::System);
        one.setFileName(path("bell.wav"));
        openWaiting(one);
        m_rec->waitQuiet(200, 5000);
        int64_t t0 = now();
        one.play();
        QVERIFY(pollUntil([&] { return one.mode() == Mode::Stopped; }, 4000));
        auto sounds = soundsSince(t0);
        QVERIFY2(sounds.size() == 1, describe(sounds, t0));
        const int singlePeak = sounds[0].peak;

        std::vector<std::unique_ptr<MpvPlayer>> players;
        for (const char *f : {"bell.wav", "bell.mp3", "low.ogg"}) {
            players.push_back(std::make_unique<MpvPlayer>(MpvPlayer::Output::System));
            players.back()->setFileName(path(f));
            openWaiting(*players.back());
        }
        m_rec->waitQuiet(200, 5000);
        t0 = now();
        for (auto &p : players)
            p->play();
        for (auto &p : players)
            QCOMPARE(p->mode(), Mode::Playing);
        QVERIFY(pollUntil([&] {
            for (auto &p : players)
                if (p->mode() == Mode::Playing)
                    return false;
            return true;
        }, 5000));
        sounds = soundsSince(t0);
        QVERIFY2(sounds.size() == 1, describe(sounds, t0));
        // Three tones add up: louder than one alone, as long as the longest.
        QVERIFY2(sounds[0].peak > singlePeak * 3 / 2,
                 qPrintable(QStringLiteral("%1 vs %2").arg(sounds[0].peak).arg(singlePeak)));
        QVERIFY2(qAbs(msBetween(sounds[0].startNs, sounds[0].endNs) - 2000) < 100, describe(sounds, t0));
    }

    void cleanupTestCase()
    {
        if (m_rec)
            m_rec->stop();
        if (!m_module.isEmpty())
            runOutput("pactl", {"unload-module", m_module});
    }
};

QTEST_GUILESS_MAIN(RealSoundTest)
#include "tst_realsound.moc"
