// A PC without a sound card: the sound server's only sink is its stand-in
// "auto_null" (PipeWire, PulseAudio's module-always-sink). Nothing would be
// heard, so the player says there is no output instead of playing into it.
// A null sink loaded on purpose under another name is an output as any, and
// the player learns its latency once a file sounds.
#include "audiotestutil.h"
#include "fakes.h"
#include "mpvplayer.h"

#include <QTest>

class DummyOutputTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    PrivatePulse m_server;

    AudioError::Cause openCause(QString *text)
    {
        MpvPlayer p(MpvPlayer::Output::System);
        p.setFileName(m_dir.filePath("a.wav"));
        try {
            openWaiting(p);
        } catch (const AudioError &e) {
            *text = e.text();
            return e.cause();
        }
        return AudioError::Cause::Pending; // opened
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(!makeTone(m_dir.filePath("a.wav"), 1.0).isEmpty());
        QVERIFY2(m_server.start("auto_null"), "pulseaudio did not come up");
    }

    void onlyTheStandInIsNoOutput()
    {
        QString text;
        QCOMPARE(openCause(&text), AudioError::Cause::Output);
        QVERIFY2(text.contains(QStringLiteral("没有声音输出设备")) && text.contains("auto_null"), qPrintable(text));

        // A sink of its own name beside it: the stand-in is not alone.
        QVERIFY(!runOutput("pactl", {"load-module", "module-null-sink", "sink_name=school_null"}).isEmpty());
        QCOMPARE(openCause(&text), AudioError::Cause::Pending);

        MpvPlayer p(MpvPlayer::Output::System);
        p.setFileName(m_dir.filePath("a.wav"));
        openWaiting(p);
        QCOMPARE(p.outputLatencyMs(), 0); // not sounded yet
        p.play();
        // A null sink reports what it buffers (more than a second here), not
        // what a loudspeaker adds; the figure only has to arrive.
        QVERIFY(pollUntil([&] { return p.outputLatencyMs() > 0; }, 3000));
        qInfo("output latency as libmpv's position tells it: %lld ms", p.outputLatencyMs());
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return runWithRealSound<DummyOutputTest>(argc, argv);
}
#include "tst_dummyoutput.moc"
