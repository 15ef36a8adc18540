// Which running program the emergency command believes. First the real
// engine (Instance in this process) and the small command run as its own
// process; then, as root only, processes forked under other accounts: the
// engine as one user, and fakes listening where root's command might look,
// which must never be told the command nor believed. Exits 77 before the
// root cases when not root.
#include "clienttext.h"
#include "emergencyclient.h"
#include "enginefinder.h"
#include "fakes.h"
#include "instance.h"
#include "rpcserver.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The engine's user in the root cases, and the account of the fakes.
constexpr uid_t kEngineUid = 65533;
constexpr uid_t kNobody = 65534;
// What a listener that is not the engine would answer, were it asked.
constexpr const char *kFakeAnswer = R"({"jsonrpc":"2.0","id":1,"result":{"text":"假的"}})";

// A process forked as another account: it may hold the lock for writing,
// may listen on a socket, answers every line with its answer and tells the
// test (a byte on a pipe) that a line reached it.
class Forked {
public:
    struct Role {
        uid_t uid = kNobody;
        std::string lockFile;  // taken with a write lock when set
        std::string socket;    // listened on when set
        std::string answer = R"({"jsonrpc":"2.0","id":1,"result":{"text":""}})";
    };
    explicit Forked(const Role &r) : m_role(r)
    {
        int ready[2], told[2];
        if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(told, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        const std::string reply = r.answer + "\n";
        m_pid = ::fork();
        if (m_pid == 0)
            child(ready[1], told[1], reply); // never returns
        ::close(ready[1]);
        ::close(told[1]);
        m_told = told[0];
        pollfd p{ready[0], POLLIN, 0};
        char c = 0;
        m_ready = ::poll(&p, 1, 10000) == 1 && ::read(ready[0], &c, 1) == 1 && c == 'r';
        ::close(ready[0]);
    }
    ~Forked()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_told >= 0)
            ::close(m_told);
    }
    bool ready() const { return m_ready; }
    pid_t pid() const { return m_pid; }
    // Whether a command line ever reached it.
    bool told() const
    {
        char c;
        return ::read(m_told, &c, 1) == 1;
    }

private:
    // Plain system calls only: this is a copy of a threaded process.
    [[noreturn]] void child(int ready, int told, const std::string &reply)
    {
        if (::setgroups(0, nullptr) != 0 || ::setgid(m_role.uid) != 0 || ::setuid(m_role.uid) != 0)
            ::_exit(2);
        if (!m_role.lockFile.empty()) {
            const int fd = ::open(m_role.lockFile.c_str(), O_RDWR);
            struct flock l {};
            l.l_type = F_WRLCK;
            l.l_whence = SEEK_SET;
            if (fd < 0 || ::fcntl(fd, F_SETLK, &l) != 0)
                ::_exit(3);
        }
        int server = -1;
        if (!m_role.socket.empty()) {
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            std::memcpy(addr.sun_path, m_role.socket.c_str(), m_role.socket.size());
            server = ::socket(AF_UNIX, SOCK_STREAM, 0);
            if (::bind(server, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(server, 4) != 0)
                ::_exit(4);
        }
        if (::write(ready, "r", 1) != 1)
            ::_exit(5);
        for (;;) {
            if (server < 0) {
                ::pause();
                continue;
            }
            const int c = ::accept(server, nullptr, nullptr);
            char buf[512];
            pollfd p{c, POLLIN, 0};
            if (c >= 0 && ::poll(&p, 1, 5000) == 1 && ::read(c, buf, sizeof buf) > 0) {
                (void)!::write(told, "L", 1);
                (void)!::write(c, reply.data(), reply.size());
            }
            if (c >= 0)
                ::close(c);
        }
    }

    Role m_role;
    pid_t m_pid = -1;
    int m_told = -1;
    bool m_ready = false;
};

// A work folder that other accounts may enter: data/ with a lock file, and a
// temporary folder (1777, as /tmp) that the command looks in.
struct Scene {
    QTemporaryDir dir;
    std::string root = dir.path().toStdString();
    std::string data = root + "/data";
    std::string lock = data + "/daling.lock";
    std::string tmp = root + "/tmp";
    explicit Scene(const QByteArray &lockText)
    {
        ::chmod(root.c_str(), 0755);
        ::mkdir(data.c_str(), 0755);
        ::mkdir(tmp.c_str(), 01777);
        QFile f(QString::fromStdString(lock));
        if (f.open(QIODevice::WriteOnly))
            f.write(lockText);
        f.close();
        (void)!::chown(lock.c_str(), kEngineUid, kEngineUid);
        qputenv("TMPDIR", QByteArray::fromStdString(tmp));
    }
    ~Scene() { qunsetenv("TMPDIR"); }
    std::string engineFolder() const { return tmp + "/daling-" + std::to_string(kEngineUid); }
    static bool folder(const std::string &path, uid_t owner, mode_t mode)
    {
        return ::mkdir(path.c_str(), mode) == 0 && ::chown(path.c_str(), owner, owner) == 0
            && ::chmod(path.c_str(), mode) == 0;
    }
};

// The command's whole answer, as daling-emergency would give it.
int command(const std::string &data, std::string *err)
{
    const auto args = emergencyclient::parse({}, "/", true);
    return emergencyclient::run(args, [&](const std::string &line, std::string *why) {
        return emergencyclient::ask(data, line, 3000, why);
    }, err);
}

} // namespace

class EngineFinderTest : public QObject {
    Q_OBJECT
private slots:
    // The small command, as its own process beside data/, reaches the engine
    // of that folder wherever its channel is (here a runtime folder that
    // the command's environment does not name); with none running and no
    // engine to start it says why.
    void theCommandReachesTheEngineThatHoldsTheFolder()
    {
        TempHome home;
        const QString command = home.place(QStringLiteral(DALING_EMERGENCY_BIN));
        QVERIFY(!command.isEmpty());
        const auto run = [&command](QString *err) {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove("XDG_RUNTIME_DIR");
            p.setProcessEnvironment(env);
            p.start(command, {"--zones", "操场"});
            if (!QTest::qWaitFor([&p] { return p.state() == QProcess::NotRunning; }, 20000))
                return -1;
            *err = QString::fromUtf8(p.readAllStandardError()).trimmed();
            return p.exitCode();
        };
        // With none running it starts dalingd beside it: none is here.
        QString err;
        QCOMPARE(run(&err), 1);
        QCOMPARE(err, QString::fromStdString(clienttext::engineNotStarted((home.path() + "dalingd").toStdString(),
                                                                          std::strerror(ENOENT))
                                             + clienttext::kNotStarted));

        // The lock held here, and the engine's JSON-RPC server of this
        // process listening where the command's environment does not say.
        QTemporaryDir runtime;
        ::chmod(QFile::encodeName(runtime.path()).constData(), 0700);
        Instance engine(home.path() + "data", QString());
        QCOMPARE(engine.claim(), Instance::Claim::First);
        RpcServer server;
        QVERIFY(server.listen(runtime.filePath("daling.sock")));
        QJsonObject got;
        server.registerMethod("Emergency.Start", [&got](const QJsonValue &params) -> RpcResult {
            got = params.toObject();
            return QJsonObject{{"text", "警报已响"}};
        });
        const int rc = run(&err);
        QVERIFY2(rc == 0, qPrintable(err));
        QCOMPARE(err, QStringLiteral("警报已响"));
        QCOMPARE(got.value("zones").toArray(), QJsonArray{"操场"});
        QVERIFY2(got.value("by").toString().startsWith("命令行"), qPrintable(got.value("by").toString()));
    }
};

class RootTest : public QObject {
    Q_OBJECT
private slots:
    // The engine runs as one user and has no channel where the command
    // looks; something else listens there and would answer that the alarm sounds.
    void aChannelThatIsNotTheEnginesIsNotBelieved_data()
    {
        QTest::addColumn<int>("fakeUid");
        QTest::addColumn<QString>("setUp"); // how the engine user's temp folder came to be
        QTest::addColumn<QString>("why");
        QTest::newRow("another account made the folder first") << int(kNobody) << "nobody's" << "属于用户「nobody」";
        QTest::newRow("the folder is open to all") << int(kNobody) << "open" << "别的用户也能改动";
        QTest::newRow("the folder is a link") << int(kNobody) << "link" << "是符号链接";
        QTest::newRow("the same user's other process") << int(kEngineUid) << "private" << "不是运行铃声系统的进程";
    }
    void aChannelThatIsNotTheEnginesIsNotBelieved()
    {
        QFETCH(int, fakeUid);
        QFETCH(QString, setUp);
        QFETCH(QString, why);
        // The lock's text names the engine's user, as the engine writes it.
        Scene s(QByteArray("teacher ") + QByteArray::number(kEngineUid) + " 1\n");
        const std::string folder = s.engineFolder();
        if (setUp == "nobody's")
            QVERIFY(Scene::folder(folder, kNobody, 0700));
        else if (setUp == "open")
            QVERIFY(Scene::folder(folder, kEngineUid, 0777));
        else if (setUp == "private")
            QVERIFY(Scene::folder(folder, kEngineUid, 0700));
        std::string listenAt = folder + "/daling.sock";
        if (setUp == "link") {
            QVERIFY(Scene::folder(s.tmp + "/elsewhere", kNobody, 0700));
            QCOMPARE(::symlink((s.tmp + "/elsewhere").c_str(), folder.c_str()), 0);
            listenAt = s.tmp + "/elsewhere/daling.sock";
        }
        Forked engine({kEngineUid, s.lock, "", ""});
        QVERIFY(engine.ready());
        Forked fake({uid_t(fakeUid), "", listenAt, kFakeAnswer});
        QVERIFY(fake.ready());

        std::string err;
        QCOMPARE(command(s.data, &err), 1);
        QVERIFY2(QString::fromStdString(err).contains(why), err.c_str());
        QVERIFY2(QString::fromStdString(err).endsWith(QString::fromUtf8(clienttext::kNotStarted)), err.c_str());
        QVERIFY(!fake.told());
    }

    // An operator wrote another user into the lock file, and that user's
    // private channel answers: the holder's real user is asked instead.
    void theLockHoldersRealUserCountsNotTheLocksText()
    {
        Scene s(QByteArray("zhang ") + QByteArray::number(kNobody) + " 1\n");
        const std::string fakeFolder = s.tmp + "/daling-" + std::to_string(kNobody);
        QVERIFY(Scene::folder(fakeFolder, kNobody, 0700));
        QVERIFY(Scene::folder(s.engineFolder(), kEngineUid, 0700));
        Forked fake({kNobody, "", fakeFolder + "/daling.sock", kFakeAnswer});
        Forked engine({kEngineUid, s.lock, s.engineFolder() + "/daling.sock",
                       R"({"jsonrpc":"2.0","id":1,"result":{"text":"真的"}})"});
        QVERIFY(fake.ready() && engine.ready());

        std::string why;
        const auto holder = enginefinder::holder(s.lock, &why);
        QVERIFY2(holder, why.c_str());
        QCOMPARE(holder->pid, engine.pid());
        QCOMPARE(holder->uid, kEngineUid);
        std::string err;
        QCOMPARE(command(s.data, &err), 0);
        QCOMPARE(err, std::string("真的"));
        QVERIFY(engine.told());
        QVERIFY(!fake.told());
    }

    // Anyone who may read the lock file may take a read lock on it; that
    // never makes them the engine.
    void aReadLockIsNoEngine()
    {
        Scene s("");
        ::chmod(s.lock.c_str(), 0644);
        const std::string folder = s.tmp + "/daling-" + std::to_string(kNobody);
        QVERIFY(Scene::folder(folder, kNobody, 0700));
        Forked reader({kNobody, "", folder + "/daling.sock", kFakeAnswer});
        QVERIFY(reader.ready());
        // Its read lock, taken by a second fork of the same account.
        const pid_t locker = ::fork();
        if (locker == 0) {
            if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                ::_exit(2);
            const int fd = ::open(s.lock.c_str(), O_RDONLY);
            struct flock l {};
            l.l_type = F_RDLCK;
            l.l_whence = SEEK_SET;
            if (fd < 0 || ::fcntl(fd, F_SETLK, &l) != 0)
                ::_exit(3);
            ::pause();
            ::_exit(0);
        }
        std::string why;
        QVERIFY(QTest::qWaitFor([&] { return !enginefinder::holder(s.lock, &why) && !why.empty(); }, 5000));
        std::string err;
        const int rc = command(s.data, &err);
        ::kill(locker, SIGKILL);
        ::waitpid(locker, nullptr, 0);
        QCOMPARE(rc, 1);
        QCOMPARE(err, clienttext::lockNotAnEngine(locker, "nobody") + clienttext::kNotStarted);
        QVERIFY(!reader.told());
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    EngineFinderTest plain;
    if (const int rc = QTest::qExec(&plain, argc, argv))
        return rc;
    if (::geteuid() != 0) {
        std::puts("SKIP: the other accounts' cases need root");
        return 77;
    }
    RootTest asRoot;
    return QTest::qExec(&asRoot, argc, argv);
}

#include "tst_enginefinder.moc"
