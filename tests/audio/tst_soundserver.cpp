// The sound system is chosen once and asked through that driver alone: on a
// PulseAudio machine nothing of another driver's probing (PipeWire's
// "can't load default config client.conf" above all) reaches the log. And an
// output is named by the description its server gives it, also once it is
// gone. On a PulseAudio server of the test's own.
#include "audiotestutil.h"
#include "fakes.h"
#include "loaderrors.h"
#include "mpvplayer.h"
#include "soundserver.h"

#include <QTemporaryFile>
#include <QTest>
#include <unistd.h>

namespace {

// What the process writes to its standard error (libraries write there
// directly) and what goes through Qt's logging, while it lives.
class LogCapture {
public:
    LogCapture()
    {
        s_lines.clear();
        s_previous = qInstallMessageHandler(handler);
        std::fflush(stderr);
        if (m_file.open()) {
            m_saved = ::dup(2);
            ::dup2(m_file.handle(), 2);
        }
    }
    ~LogCapture() { take(); }
    QString take()
    {
        if (m_saved >= 0) {
            std::fflush(stderr);
            ::dup2(m_saved, 2);
            ::close(m_saved);
            m_saved = -1;
            qInstallMessageHandler(s_previous);
            m_file.seek(0);
            s_lines << QString::fromUtf8(m_file.readAll());
        }
        return s_lines.join(u'\n');
    }

private:
    static void handler(QtMsgType, const QMessageLogContext &, const QString &text) { s_lines << text; }
    static inline QStringList s_lines;
    static inline QtMessageHandler s_previous = nullptr;
    QTemporaryFile m_file;
    int m_saved = -1;
};

} // namespace

class SoundServerTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    PrivatePulse m_server;

    // A null sink the operator described; its module's index.
    static QString loadSink(const QString &name, const QString &description)
    {
        return QString::fromLatin1(runOutput("pactl", {"load-module", "module-null-sink", "sink_name=" + name,
                                                       "sink_properties=device.description=" + description})
                                       .trimmed());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(!makeTone(m_dir.filePath("a.wav"), 0.3).isEmpty());
        QVERIFY2(m_server.start("room_a"), "pulseaudio did not come up");
    }

    void onlyTheChosenDriverIsAsked()
    {
        QVERIFY(!loadSink("zoneB", "ZoneB").isEmpty());
        LogCapture log;
        QList<AudioOutputDevice> offered;
        {
            MpvPlayer p(MpvPlayer::Output::System);
            p.setOutputDevice("pulse/zoneB");
            p.setFileName(m_dir.filePath("a.wav"));
            openWaiting(p);
            QVERIFY(p.missingOutput().isEmpty());
            p.play();
            QVERIFY(pollUntil([&] { return !p.isPlaying(); }, 5000));
            offered = p.outputDevices();
        }
        const QString text = log.take();
        QCOMPARE(SoundServer::driver(), "pulse");
        for (const char *other : {"pipewire", "client.conf", "pw.conf", "jack", "sdl"})
            QVERIFY2(!text.contains(QLatin1String(other), Qt::CaseInsensitive), qPrintable(text));
        QStringList names;
        for (const AudioOutputDevice &d : offered) {
            names << d.name;
            if (d.name == u"pulse/zoneB")
                QCOMPARE(d.description, QStringLiteral("ZoneB"));
        }
        QVERIFY2(names.contains("pulse/zoneB") && names.contains("pulse/room_a"), qPrintable(names.join(' ')));
        for (const QString &n : names)
            QVERIFY2(n == u"auto" || n.startsWith(u"pulse/"), qPrintable(n));
    }

    // A zone whose output went away stays silent with a note that names
    // the output as the operator knows it.
    void aMissingOutputIsNamedByItsDescription()
    {
        const QString module = loadSink("zoneC", "ZoneC");
        QVERIFY(!module.isEmpty());
        MpvPlayer p(MpvPlayer::Output::System);
        p.setOutputDevice("pulse/zoneC");
        p.setFileName(m_dir.filePath("a.wav"));
        openWaiting(p);
        QVERIFY(p.missingOutput().isEmpty());
        p.close();

        QCOMPARE(QProcess::execute("pactl", {"unload-module", module}), 0);
        openWaiting(p);
        const QString missing = p.missingOutput();
        QCOMPARE(missing, QStringLiteral("pulse/zoneC"));
        QCOMPARE(LoadErrors::missingOutput(SoundServer::label(missing)), QStringLiteral("声音输出「ZoneC」不存在"));
        // An output no list ever showed keeps its device name.
        QCOMPARE(SoundServer::label("pulse/never_seen"), QStringLiteral("pulse/never_seen"));
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return runWithRealSound<SoundServerTest>(argc, argv);
}
#include "tst_soundserver.moc"
