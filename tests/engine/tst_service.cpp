// dalingd as systemd runs it: no display, its readiness and watchdog told
// on a notify socket of the test's own, a bell rung at its second on a null
// sink of a private PulseAudio server and recorded 完成, a second engine on
// the same folder refused, SIGTERM an orderly end. Bounds are loose (both
// cores may be busy); the onset's figures belong to bench/ring.
#include "audiotestutil.h"
#include "bellstore.h"
#include "fakes.h"
#include "onsetrecorder.h"
#include "ringhistory.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

class ServiceTest : public QObject {
    Q_OBJECT
    PrivatePulse m_pulse;

    // A datagram socket where the engine's sd_notify lands.
    struct NotifySocket {
        int fd = -1;
        QString path;
        QStringList got;
        explicit NotifySocket(const QString &p) : path(p)
        {
            fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            sockaddr_un a{};
            a.sun_family = AF_UNIX;
            qstrncpy(a.sun_path, QFile::encodeName(p).constData(), sizeof a.sun_path);
            if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
                fd = -1;
        }
        ~NotifySocket()
        {
            if (fd >= 0)
                ::close(fd);
        }
        void read()
        {
            char buf[4096];
            for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;)
                got += QString::fromUtf8(buf, int(n)).split(u'\n', Qt::SkipEmptyParts);
        }
        bool waitFor(const QString &line, int ms)
        {
            return QTest::qWaitFor([&] { read(); return got.contains(line); }, ms);
        }
    };

    static QProcessEnvironment serviceEnv(const QString &runtime, const QString &notify)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.insert("QT_QPA_PLATFORM", "");
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.insert("NOTIFY_SOCKET", notify);
        return env;
    }

private slots:
    void initTestCase() { QVERIFY(m_pulse.start(QStringLiteral("dflt"))); }

    void ringsWithoutADisplayAndTellsSystemd()
    {
        TempHome home;
        QTemporaryDir runtime;
        QVERIFY(!makeTone(home.music() + "bell.wav", 1.0).isEmpty());
        const QString exe = home.path() + "dalingd";
        QVERIFY(QFile::copy(QStringLiteral(DALINGD_BIN), exe));
        QFile(exe).setPermissions(QFile::permissions(QStringLiteral(DALINGD_BIN)));

        OnsetRecorder::Options o;
        o.device = "dflt.monitor";
        OnsetRecorder rec(o);
        std::string error;
        QVERIFY2(rec.start(&error), error.c_str());

        // The bell comes 5 s from now: the start under the sanitizers takes
        // a while, and the engine must be ticking before it.
        const QDateTime now = QDateTime::currentDateTime();
        const QDateTime due = now.addSecs(5).addMSecs(-now.time().msec());
        const qint64 dueSec = due.time().msecsSinceStartOfDay() / 1000;
        {
            BellStore store;
            QVERIFY(store.open(home.db()).isEmpty());
            store.insert({0, dueSec, "早读", "bell.wav", "日一二三四五六", "1", "", {}});
        }
        NotifySocket notify(runtime.filePath("notify"));
        QVERIFY(notify.fd >= 0);

        QProcess engine;
        engine.setProcessEnvironment(serviceEnv(runtime.path(), notify.path));
        engine.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        engine.start(exe, {});
        QVERIFY(engine.waitForStarted(5000));
        QVERIFY2(notify.waitFor("READY=1", 8000), qPrintable(notify.got.join('|')));
        QVERIFY(notify.waitFor("WATCHDOG=1", 3000));

        // One engine per folder: a second start is refused and says so.
        QProcess second;
        second.setProcessEnvironment(serviceEnv(runtime.path(), QString()));
        second.start(exe, {});
        QVERIFY(second.waitForFinished(15000));
        QCOMPARE(second.exitCode(), 1);
        QVERIFY(QString::fromLocal8Bit(second.readAllStandardError()).contains(QStringLiteral("已经在运行")));

        const int64_t dueNs = due.toMSecsSinceEpoch() * 1'000'000;
        const auto onset = rec.waitOnset(dueNs - 500'000'000, 10000);
        QVERIFY2(onset, "the bell was not heard");
        QVERIFY2(*onset - dueNs < 1'500'000'000, qPrintable(QString::number((*onset - dueNs) / 1e6)));
        QVERIFY(rec.waitQuiet(300, 5000));
        // Each tick is told, not only the first.
        notify.got.clear();
        QVERIFY(notify.waitFor("WATCHDOG=1", 3000));

        ::kill(pid_t(engine.processId()), SIGTERM);
        QVERIFY(engine.waitForFinished(15000));
        QCOMPARE(engine.exitStatus(), QProcess::NormalExit);
        QCOMPARE(engine.exitCode(), 0);
        QVERIFY(notify.waitFor("STOPPING=1", 1000));

        BellStore store;
        QVERIFY(store.open(home.db()).isEmpty());
        QCOMPARE(RingHistory(store).outcomes(due.date()).of(dueSec, "早读"), BellStatus::Done);
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return runWithRealSound<ServiceTest>(argc, argv);
}
#include "tst_service.moc"
