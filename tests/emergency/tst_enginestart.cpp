// No engine runs: the emergency command starts dalingd beside it, the alarm
// is heard at a null sink of the test's own PulseAudio server, and the
// engine goes on after the command has exited (the test ends it). Also the
// account root starts it as. Exits 77 where no PulseAudio server can run.
#include "audiotestutil.h"
#include "clienttext.h"
#include "enginefinder.h"
#include "enginestart.h"
#include "fakes.h"
#include "onsetrecorder.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The engine that holds the folder's lock, ended (SIGTERM, then SIGKILL) when
// the test is done with it, whatever failed.
struct EngineOf {
    std::string lock;
    pid_t pid() const
    {
        std::string why;
        const auto h = enginefinder::holder(lock, &why);
        return h ? h->pid : 0;
    }
    ~EngineOf()
    {
        const pid_t p = pid();
        if (p <= 0)
            return;
        ::kill(p, SIGTERM);
        if (!QTest::qWaitFor([&] { return pid() == 0; }, 10000))
            ::kill(p, SIGKILL);
    }
};

// The command in a runtime folder of its own, so that the engine it starts
// listens there and meets no other test's engine in /tmp.
int runCommand(const QString &program, const QStringList &args, QString *err)
{
    static QTemporaryDir runtime;
    ::chmod(QFile::encodeName(runtime.path()).constData(), 0700);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(60000))
        return -1;
    *err = QString::fromUtf8(p.readAllStandardError()).trimmed();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

} // namespace

class EngineStartTest : public QObject {
    Q_OBJECT
    PrivatePulse m_pulse;

private slots:
    void initTestCase() { QVERIFY(m_pulse.start(QStringLiteral("alarm"))); }

    void theCommandStartsTheEngineWhichIsHeardAndStays()
    {
        TempHome home;
        const QString command = home.place(QStringLiteral(DALING_EMERGENCY_BIN));
        QVERIFY(!command.isEmpty() && !home.place(QStringLiteral(DALINGD_BIN)).isEmpty());
        OnsetRecorder::Options o;
        o.device = "alarm.monitor";
        OnsetRecorder rec(o);
        std::string error;
        QVERIFY2(rec.start(&error), error.c_str());
        EngineOf engine{(home.path() + "data/daling.lock").toStdString()};
        QCOMPARE(engine.pid(), 0);

        const int64_t sent = OnsetRecorder::wallNs();
        QString err;
        const int rc = runCommand(command, {}, &err);
        QVERIFY2(rc == 0, qPrintable(err));
        // The engine it started holds the folder, and not as the command's child.
        const pid_t started = engine.pid();
        QVERIFY(started > 0);
        QVERIFY(::getpgid(started) == started && ::getsid(started) == started);
        QVERIFY2(rec.waitOnset(sent, 10000), "the alarm was not heard");
        // Still there, still ringing, after the command has gone.
        QTest::qWait(1500);
        QCOMPARE(engine.pid(), started);
        QVERIFY(rec.waitOnset(OnsetRecorder::wallNs() - 200'000'000, 2000));

        // A second command finds it running: no second engine.
        QCOMPARE(runCommand(command, {}, &err), 0);
        QCOMPARE(err, QStringLiteral("紧急广播已经在进行。"));
        QCOMPARE(runCommand(command, {"--stop"}, &err), 0);
        QCOMPARE(engine.pid(), started);
        // Ending an emergency never starts an engine; this one is ended here.
    }

    void aStopStartsNoEngine()
    {
        TempHome home;
        const QString command = home.place(QStringLiteral(DALING_EMERGENCY_BIN));
        QVERIFY(!command.isEmpty() && !home.place(QStringLiteral(DALINGD_BIN)).isEmpty());
        QString err;
        QCOMPARE(runCommand(command, {"--stop"}, &err), 1);
        QCOMPARE(err, QString::fromUtf8(clienttext::kNotRunningStop));
        QVERIFY(!QFile::exists(home.path() + "data/daling.lock"));
    }

    // Whom root starts the engine as: never root where an operator can be
    // told; the lock's text only where it names one of the folder's group.
    void theAccountRootStartsItAs_data()
    {
        QTest::addColumn<QString>("folderOwner"); // "root" or "nobody"
        QTest::addColumn<QString>("lockText");
        QTest::addColumn<QString>("as");          // "" : root itself
        QTest::newRow("an operator's own folder") << "nobody" << "" << "nobody";
        QTest::newRow("the package's folder, the last engine's operator") << "root" << "nobody 65534 1" << "nobody";
        QTest::newRow("the package's folder, nobody named") << "root" << "" << "";
        QTest::newRow("named root") << "root" << "root 0 1" << "";
        QTest::newRow("named an account that is no operator") << "root" << "daemon 1 1" << "";
        QTest::newRow("named no account") << "root" << "nosuchuser 1234 1" << "";
    }
    void theAccountRootStartsItAs()
    {
        QFETCH(QString, folderOwner);
        QFETCH(QString, lockText);
        QFETCH(QString, as);
        const bool haveDaemon = ::getpwnam("daemon");
        const passwd *found = ::getpwnam("nobody"); // getpwnam's buffer is reused: copied at once
        if (::geteuid() != 0 || !found || !haveDaemon)
            QSKIP("needs root and the accounts nobody and daemon");
        const passwd nobodyCopy = *found;
        const passwd *nobody = &nobodyCopy;
        // The operators' group: nobody's own, which daemon is not in.
        const gid_t operators = nobody->pw_gid;
        QTemporaryDir dir;
        const std::string data = dir.filePath("data").toStdString();
        QCOMPARE(::mkdir(data.c_str(), 03775), 0);
        QCOMPARE(::chown(data.c_str(), folderOwner == "root" ? 0 : nobody->pw_uid, operators), 0);
        QFile lock(QString::fromStdString(data + "/daling.lock"));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(lockText.toUtf8() + '\n');
        lock.close();
        const std::optional<enginestart::Account> got = enginestart::accountFor(data);
        QCOMPARE(got ? QString::fromStdString(got->name) : QString(), as);
        if (got)
            QCOMPARE(got->uid, nobody->pw_uid);
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return runWithRealSound<EngineStartTest>(argc, argv);
}

#include "tst_enginestart.moc"
