// Ducking heard at the output: a broadcast tone (440 Hz) plays through one
// real player, a bell tone (880 Hz) through another; the null sink's monitor
// is recorded, and the broadcast's level while the bell sounds must be at
// most a quarter of its level before. Each tone is measured on its own
// frequency, so the bell does not count as broadcast.
// Exits 77 (skipped) without a PulseAudio server, and while the real player
// cannot change its volume.
#include "../audio/audiotestutil.h"
#include "ducking.h"
#include "fakes.h"
#include "mpvplayer.h"

#include <QApplication>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

namespace {
bool g_skipped = false;

QByteArray run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(20000) || p.exitCode() != 0)
        return {};
    return p.readAllStandardOutput();
}

constexpr int kRate = 44100;

// Amplitude of one frequency in a window of samples (Goertzel).
double level(const QList<qint16> &s, int from, int count, double hz)
{
    const double w = 2 * M_PI * hz / kRate, c = 2 * std::cos(w);
    double a = 0, b = 0;
    for (int i = from; i < from + count && i < s.size(); ++i) {
        const double x = s[i] + c * a - b;
        b = a;
        a = x;
    }
    return std::sqrt(a * a + b * b - c * a * b) / count;
}
} // namespace

class TestDuckingSound : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (run("pactl", {"info"}).isEmpty()) {
            g_skipped = true;
            QSKIP("no PulseAudio server (the test script starts one)");
        }
        MpvPlayer probe(MpvPlayer::Output::System);
        probe.setVolume(50);
        if (probe.volume() != 50) {
            g_skipped = true;
            QSKIP("the player cannot change its volume yet");
        }
    }

    void broadcastIsLowWhileTheBellSounds()
    {
        const QByteArray sink = "daling_duck_" + QByteArray::number(QCoreApplication::applicationPid());
        const QByteArray module = run("pactl", {"load-module", "module-null-sink",
                                                "sink_name=" + sink, "rate=44100", "channels=1"}).trimmed();
        QVERIFY(!module.isEmpty());
        auto unload = qScopeGuard([&] { run("pactl", {"unload-module", module}); });
        qputenv("PULSE_SINK", sink);
        QTemporaryDir dir;
        const QString talk = makeTone(dir.filePath("talk.wav"), 5.0, 440);
        const QString ring = makeTone(dir.filePath("bell.wav"), 1.5, 880);
        QVERIFY(!talk.isEmpty() && !ring.isEmpty());

        QProcess rec;
        const QString raw = dir.filePath("out.raw");
        rec.start("parec", {"-d", sink + ".monitor", "--format=s16le", "--rate=44100",
                            "--channels=1", "--raw", raw});
        QVERIFY(rec.waitForStarted());
        auto stopRecording = qScopeGuard([&] {
            rec.terminate();
            rec.waitForFinished(3000);
        });
        // An idle null sink renders ahead of real time; the recording hears
        // the present only once real time has caught up.
        QTest::qWait(2500);

        MpvPlayer broadcast(MpvPlayer::Output::System), bell(MpvPlayer::Output::System);
        Ducking ducking(broadcast, nullptr);
        BellSoundWatch watch(bell);
        connect(&watch, &BellSoundWatch::started, &ducking, &Ducking::bellStarted);
        connect(&watch, &BellSoundWatch::ended, &ducking, &Ducking::bellEnded);
        broadcast.setFileName(talk);
        openWaiting(broadcast);
        broadcast.play();
        QTest::qWait(1500);
        bell.setFileName(ring);
        openWaiting(bell);
        bell.play();
        watch.bellRang();
        QTest::qWait(2500); // the bell, and the way back
        QCOMPARE(broadcast.volume(), 100);
        QCOMPARE(broadcast.mode(), AudioPlayer::Mode::Playing); // it kept its place
        broadcast.close();
        bell.close();
        stopRecording.dismiss();
        rec.terminate();
        rec.waitForFinished(3000);

        QFile f(raw);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QList<qint16> s(bytes.size() / 2);
        memcpy(s.data(), bytes.constData(), size_t(s.size()) * 2);
        // The bell's onset: the first 20 ms window where 880 Hz is loud.
        const int win = kRate / 50;
        int onset = -1;
        for (int i = 0; i + win < s.size() && onset < 0; i += win)
            if (level(s, i, win, 880) > 500)
                onset = i;
        QVERIFY2(onset > kRate / 2, "no bell recorded after the broadcast began");
        // The broadcast's full level: the loudest tenth of a second in the
        // second before the bell (the monitor's first moments may still be
        // silence). While the bell sounds: the loudest tenth after the ramp.
        auto loudest = [&](int from, int until) {
            double m = 0;
            for (int i = std::max(0, from); i + kRate / 10 <= until; i += kRate / 20)
                m = std::max(m, level(s, i, kRate / 10, 440));
            return m;
        };
        const double before = loudest(onset - kRate, onset - kRate / 10);
        const double during = loudest(onset + kRate * 4 / 10, onset + kRate * 9 / 10);
        qInfo("broadcast level before the bell %.0f, during it %.0f", before, during);
        QVERIFY2(before > 500, "the broadcast was not heard before the bell");
        QVERIFY(during <= before / 4);
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    TestDuckingSound t;
    const int rc = QTest::qExec(&t, argc, argv);
    return g_skipped ? 77 : rc;
}
#include "tst_duckingsound.moc"
