// A player kept to its output (a zone's), on a PulseAudio server of the
// test's own with the default sink "dflt" and the zone's sink "kept": when
// "kept" is unloaded, the server may not move the player's stream to dflt.
// Playing, the file stops at once, interrupted; opened, it is dropped; until
// the sink is back, play() fails as an output failure, and then it plays
// there again. Nothing is ever heard on dflt.
#include "audiotestutil.h"
#include "fakes.h"
#include "mpvplayer.h"
#include "onsetrecorder.h"

#include <QSignalSpy>
#include <QTest>

class KeptOutputTest : public QObject {
    Q_OBJECT
    PrivatePulse m_pulse;
    QString m_server;
    QTemporaryDir m_dir;
    QString m_tone;

    QString pactl(const QStringList &args)
    {
        return QString::fromLatin1(runOutput("pactl", QStringList{"--server=" + m_server} + args).trimmed());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_pulse.start(QStringLiteral("dflt")));
        m_server = QString::fromLocal8Bit(qgetenv("PULSE_SERVER"));
        qunsetenv("PULSE_SINK");
        pactl({"set-default-sink", "dflt"});
        m_tone = makeTone(m_dir.filePath("tone.wav"), 3.0);
        QVERIFY(!m_tone.isEmpty());
    }

    void theOutputGoes_data()
    {
        QTest::addColumn<bool>("playing"); // else only opened
        QTest::newRow("while it plays") << true;
        QTest::newRow("while it waits opened") << false;
    }
    void theOutputGoes()
    {
        QFETCH(bool, playing);
        QString module = pactl({"load-module", "module-null-sink", "sink_name=kept"});
        QVERIFY(!module.isEmpty());
        OnsetRecorder::Options o;
        o.device = "dflt.monitor";
        OnsetRecorder dflt(o);
        std::string error;
        QVERIFY2(dflt.start(&error), error.c_str());

        MpvPlayer p(MpvPlayer::Output::System, QStringLiteral("pulse/kept"));
        p.setNeverElsewhere(true);
        QSignalSpy ended(&p, &AudioPlayer::ended);
        p.setFileName(m_tone);
        openWaiting(p);
        QCOMPARE(p.missingOutput(), QString());
        if (playing) {
            p.play();
            QTest::qWait(500);
        }
        QElapsedTimer gone;
        gone.start();
        pactl({"unload-module", module});
        if (playing) {
            QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 3000);
            // Measured, not bounded (pactl's own run is part of it).
            qInfo("stopped %lld ms after the unload began", gone.elapsed());
            QCOMPARE(ended.first().at(0).toBool(), true);
            QVERIFY(p.interrupted());
            QCOMPARE(p.mode(), AudioPlayer::Mode::Stopped);
        } else {
            QTest::qWait(500);
            QVERIFY(ended.isEmpty());
        }
        // Away: no start anywhere.
        try {
            p.play();
            QFAIL("played with its output away");
        } catch (const AudioError &e) {
            QVERIFY2(e.isOutputFailure(), qPrintable(e.text()));
        }
        QVERIFY(!p.isPlaying());
        // Back: it plays there again.
        module = pactl({"load-module", "module-null-sink", "sink_name=kept"});
        QTest::qWait(300);
        openWaiting(p);
        QCOMPARE(p.missingOutput(), QString());
        p.play();
        QVERIFY(p.isPlaying());
        p.close();
        pactl({"unload-module", module});
        QTest::qWait(300); // the recording catches up
        dflt.stop();
        QCOMPARE(dflt.sounds().size(), size_t(0));
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return runWithRealSound<KeptOutputTest>(argc, argv);
}
#include "tst_keptoutput.moc"
