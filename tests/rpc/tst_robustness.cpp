// The server under clients that misbehave or crowd it, and under a system
// that takes its socket or its file descriptors away: each stays one
// client's problem, and the server keeps listening.
#include "rpcclient.h"
#include "rpcpeer.h"
#include "rpcserver.h"
#include "rpctestutil.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>
#include <QTimer>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

namespace {

QByteArray request(int id, const QString &method, const QJsonValue &params = QJsonValue())
{
    return rpcRequestLine(id, method, params);
}

QJsonObject parsed(const QByteArray &line)
{
    return QJsonDocument::fromJson(line).object();
}

int openFiles()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

// Restores the open files limit a test lowered.
struct FileLimit {
    rlimit saved{};
    FileLimit() { ::getrlimit(RLIMIT_NOFILE, &saved); }
    ~FileLimit() { ::setrlimit(RLIMIT_NOFILE, &saved); }
    bool setSoft(rlim_t soft)
    {
        rlimit l = saved;
        l.rlim_cur = soft;
        return ::setrlimit(RLIMIT_NOFILE, &l) == 0;
    }
};

} // namespace

class TestRobustness : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void overlongLineClosesOnlyThatConnection();
    void nonReaderLosesNotificationsOnly();
    void nonReaderOfAnswersIsPaused();
    void fileLimitRaised();
    void connectionsPerUserBounded();
    void otherUsersRefused_data();
    void otherUsersRefused();
    void socketFileComesBack_data();
    void socketFileComesBack();
    void failedAcceptListensAgain();
    void manyIdleAndOneSlowClient();

private:
    bool pingAnswers(const QString &path);

    SocketFolder m_folder;
    RpcServer *m_server = nullptr;
};

void TestRobustness::init()
{
    m_server = new RpcServer(this);
    m_server->registerMethod("Engine.Ping", [](const QJsonValue &) { return QJsonValue("pong"); });
    m_server->registerMethod("Test.Echo", [](const QJsonValue &p) { return p; });
    m_server->registerMethod("Test.Big", [](const QJsonValue &) {
        return QJsonValue(QString(100 * 1024, QLatin1Char('x')));
    });
    QVERIFY(m_server->listen(m_folder.path()));
}

void TestRobustness::cleanup()
{
    delete m_server;
    m_server = nullptr;
    ::chmod(QFile::encodeName(m_folder.dir.path()).constData(), 0700); // opened by a test
}

bool TestRobustness::pingAnswers(const QString &path)
{
    RawClient raw;
    if (!raw.connectTo(path, 1000) || !raw.send(request(1, "Engine.Ping")))
        return false;
    return parsed(raw.readLine(3000)).value("result") == QJsonValue("pong");
}

void TestRobustness::overlongLineClosesOnlyThatConnection()
{
    const qsizetype bound = m_server->bounds().maxLine;
    QCOMPARE(bound, 1024 * 1024);
    RawClient other;
    QVERIFY(other.connectTo(m_folder.path()));

    // A request exactly at the bound is served.
    const QByteArray head = R"({"jsonrpc":"2.0","id":1,"method":"Test.Echo","params":[")";
    const QByteArray tail = R"("]})";
    RawClient fits;
    QVERIFY(fits.connectTo(m_folder.path()));
    QVERIFY(fits.send(head + QByteArray(bound - head.size() - tail.size(), 'a') + tail + '\n'));
    QCOMPARE(parsed(fits.readLine(10000)).value("id"), QJsonValue(1));

    // One byte more, with or without its end, closes that connection only.
    for (const QByteArray &end : {QByteArray("\n"), QByteArray()}) {
        RawClient flood;
        QVERIFY(flood.connectTo(m_folder.path()));
        QVERIFY(flood.send(head + QByteArray(bound + 1 - head.size() - tail.size(), 'a') + tail + end));
        QVERIFY(flood.waitClosed(10000));
        QVERIFY(flood.received().isEmpty());
    }
    QVERIFY(other.send(request(2, "Engine.Ping")));
    QCOMPARE(parsed(other.readLine()).value("result"), QJsonValue("pong"));
    QVERIFY(fits.send(request(3, "Engine.Ping")));
    QCOMPARE(parsed(fits.readLine()).value("id"), QJsonValue(3));
}

void TestRobustness::nonReaderLosesNotificationsOnly()
{
    RawClient stuck; // connects and never reads
    QVERIFY(stuck.connectTo(m_folder.path()));
    RpcClient reader;
    int heard = 0;
    connect(&reader, &RpcClient::notification, this, [&heard] { ++heard; });
    reader.connectToServer(m_folder.path());
    QTRY_COMPARE(m_server->connectionCount(), 2);

    const qint64 bound = m_server->bounds().maxUnsent;
    const QJsonArray payload{QString(64 * 1024, QLatin1Char('n'))};
    constexpr int kSent = 200; // 13 MB: three times the bound
    for (int i = 0; i < kSent; ++i) {
        m_server->notify("Test.OnBig", payload);
        spin(0);
        QVERIFY2(m_server->unsentBytes() <= 2 * bound + 200 * 1024,
                 qPrintable(QString::number(m_server->unsentBytes())));
    }
    QTRY_COMPARE(heard, kSent);
    const qint64 dropped = m_server->droppedNotifications();
    QVERIFY(dropped > 0);
    QVERIFY(dropped < kSent);

    // Once it reads, it has every notification that was not dropped, whole,
    // and gets new ones again.
    int lines = 0;
    QDeadlineTimer deadline(20000);
    while (lines < kSent - dropped && !deadline.hasExpired()) {
        const QByteArray line = stuck.readLine(100);
        if (!line.isEmpty()) {
            QCOMPARE(parsed(line).value("params"), QJsonValue(payload));
            ++lines;
        }
    }
    QCOMPARE(lines, kSent - dropped);
    m_server->notify("Test.OnSmall");
    QCOMPARE(parsed(stuck.readLine()).value("method"), QJsonValue("Test.OnSmall"));
    QCOMPARE(m_server->droppedNotifications(), dropped);
}

void TestRobustness::nonReaderOfAnswersIsPaused()
{
    // 500 requests with 100 KB answers (50 MB) from a client that does not
    // read them: its requests wait, the answers do not pile up.
    RawClient greedy;
    QVERIFY(greedy.connectTo(m_folder.path()));
    QByteArray requests;
    constexpr int kRequests = 500;
    for (int i = 1; i <= kRequests; ++i)
        requests += request(i, "Test.Big");
    QVERIFY(greedy.send(requests));
    for (int i = 0; i < 100; ++i)
        spin(5);
    const qint64 bound = m_server->bounds().maxUnsent;
    QVERIFY2(m_server->unsentBytes() <= bound + 200 * 1024,
             qPrintable(QString::number(m_server->unsentBytes())));
    QVERIFY(pingAnswers(m_folder.path())); // the others are served meanwhile

    int answers = 0;
    QDeadlineTimer deadline(60000);
    while (answers < kRequests && !deadline.hasExpired()) {
        const QByteArray line = greedy.readLine(100);
        if (!line.isEmpty()) {
            QCOMPARE(parsed(line).value("id").toInt(), answers + 1);
            ++answers;
        }
    }
    QCOMPARE(answers, kRequests);
}

void TestRobustness::fileLimitRaised()
{
    FileLimit limit;
    QVERIFY(limit.setSoft(qMin<rlim_t>(limit.saved.rlim_max, 256)));
    QCOMPARE(rpcRaiseFileLimit(), qint64(limit.saved.rlim_max));
    rlimit now{};
    ::getrlimit(RLIMIT_NOFILE, &now);
    QCOMPARE(now.rlim_cur, limit.saved.rlim_max);
}

void TestRobustness::connectionsPerUserBounded()
{
    RpcServer::Bounds bounds;
    bounds.maxPerUser = 3;
    m_server->setBounds(bounds);
    std::vector<std::unique_ptr<RawClient>> held;
    for (int i = 0; i < 3; ++i) {
        held.push_back(std::make_unique<RawClient>());
        QVERIFY(held.back()->connectTo(m_folder.path()));
    }
    QTRY_COMPARE(m_server->connectionCount(), 3);

    // The fourth is told why, and closed.
    RpcClient extra;
    extra.connectToServer(m_folder.path());
    std::optional<RpcResult> answer;
    extra.call("Engine.Ping", {}, [&](const RpcResult &r) { answer = r; });
    QTRY_VERIFY(answer.has_value());
    QCOMPARE(answer->error().code, RpcCode::TooManyConnections);
    QVERIFY(answer->error().message.contains(QStringLiteral("连接太多")));
    QTRY_VERIFY(!extra.isConnected());
    QCOMPARE(m_server->connectionCount(), 3);

    // Those held are served; when one leaves, a new one is let in.
    QVERIFY(held[0]->send(request(1, "Engine.Ping")));
    QCOMPARE(parsed(held[0]->readLine()).value("result"), QJsonValue("pong"));
    held[1]->close();
    QTRY_COMPARE(m_server->connectionCount(), 2);
    QVERIFY(pingAnswers(m_folder.path()));
}

void TestRobustness::otherUsersRefused_data()
{
    QTest::addColumn<int>("uid");
    QTest::addColumn<bool>("served");
    QTest::newRow("this user") << int(::geteuid()) << true;
    QTest::newRow("another user") << 65534 << false;
}

void TestRobustness::otherUsersRefused()
{
    QFETCH(int, uid);
    QFETCH(bool, served);
    if (::geteuid() != 0 && uid != int(::geteuid()))
        QSKIP("connecting as another user needs root");
    // Only the folder and the file keep others out in real use; opened here
    // so that the check of the peer is what refuses.
    const QByteArray path = QFile::encodeName(m_folder.path());
    QCOMPARE(::chmod(QFile::encodeName(m_folder.dir.path()).constData(), 0755), 0);
    QCOMPARE(::chmod(path.constData(), 0666), 0);

    const pid_t child = ::fork();
    if (child == 0) {
        // Only system calls here: the child of a threaded process.
        if (uid != int(::geteuid()) && (::setgid(gid_t(uid)) != 0 || ::setuid(uid_t(uid)) != 0))
            ::_exit(10);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            ::_exit(11);
        const char line[] = "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"Engine.Ping\"}\n";
        if (::send(fd, line, sizeof line - 1, MSG_NOSIGNAL) < 0)
            ::_exit(0); // closed before it could even ask
        timeval timeout{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        char buf[256];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        // 1: answered; 0: closed unanswered (a reset when the request was unread)
        ::_exit(n > 0 ? 1 : n == 0 || errno == ECONNRESET ? 0 : 12);
    }
    QVERIFY(child > 0);
    int status = 0;
    QDeadlineTimer deadline(10000);
    while (::waitpid(child, &status, WNOHANG) == 0 && !deadline.hasExpired())
        spin(5);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), served ? 1 : 0);
    QTRY_COMPARE(m_server->connectionCount(), 0);
}

void TestRobustness::socketFileComesBack_data()
{
    QTest::addColumn<bool>("replaceWithFile");
    QTest::newRow("removed") << false;
    QTest::newRow("replaced by a plain file") << true;
}

void TestRobustness::socketFileComesBack()
{
    QFETCH(bool, replaceWithFile);
    RpcClient before;
    before.connectToServer(m_folder.path());
    QVERIFY(before.waitForConnected(1000));
    QVERIFY(QFile::remove(m_folder.path()));
    if (replaceWithFile) {
        QFile junk(m_folder.path());
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("not a socket");
    }
    QTRY_VERIFY_WITH_TIMEOUT(rpcPathAnswers(m_folder.path()), 5000);
    QVERIFY(pingAnswers(m_folder.path()));
    // Clients connected before keep their connection.
    std::optional<RpcResult> answer;
    before.call("Engine.Ping", {}, [&](const RpcResult &r) { answer = r; });
    QTRY_VERIFY(answer.has_value());
    QCOMPARE(answer->value(), QJsonValue("pong"));
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(m_folder.path()).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0600u);
}

void TestRobustness::failedAcceptListensAgain()
{
    // Every descriptor but one taken, and that one by a client: the server's
    // accept() fails and Qt closes the listener (the client is dropped with
    // it). Closing it frees a descriptor, so the server listens again at once.
    FileLimit limit;
    QVERIFY(limit.setSoft(rlim_t(openFiles() + 16)));
    std::vector<int> filler;
    for (int fd; (fd = ::dup(0)) >= 0;)
        filler.push_back(fd);
    QCOMPARE(errno, EMFILE);
    ::close(filler.back());
    filler.pop_back();
    RawClient client;
    const bool connected = client.connectTo(m_folder.path(), 1000);
    const bool dropped = client.waitClosed(2000);
    const int served = m_server->connectionCount();
    for (const int fd : filler)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &limit.saved);
    QVERIFY(connected);
    QVERIFY(dropped);
    QCOMPARE(served, 0);
    QTRY_VERIFY_WITH_TIMEOUT(pingAnswers(m_folder.path()), 5000);
    QVERIFY(m_server->isListening());
}

void TestRobustness::manyIdleAndOneSlowClient()
{
    rpcRaiseFileLimit();
    constexpr int kIdle = 1000;
    RpcServer::Bounds bounds;
    bounds.maxPerUser = kIdle + 10;
    m_server->setBounds(bounds);
    std::vector<std::unique_ptr<RawClient>> idle(kIdle);
    for (auto &c : idle) {
        c = std::make_unique<RawClient>();
        QVERIFY(c->connectTo(m_folder.path()));
    }
    QTRY_COMPARE(m_server->connectionCount(), kIdle);

    // A client that sends its request a byte at a time, slowly.
    RawClient slow;
    QVERIFY(slow.connectTo(m_folder.path()));
    const QByteArray slowRequest = request(7, "Engine.Ping");
    qsizetype sent = 0;
    QTimer trickle;
    connect(&trickle, &QTimer::timeout, this, [&] {
        if (sent < slowRequest.size())
            slow.send(slowRequest.mid(sent++, 1));
    });
    trickle.start(100);
    spin(250);

    RpcClient fresh;
    fresh.connectToServer(m_folder.path());
    std::optional<RpcResult> answer;
    fresh.call("Engine.Ping", {}, [&](const RpcResult &r) { answer = r; });
    QTRY_VERIFY(answer.has_value());
    QCOMPARE(answer->value(), QJsonValue("pong"));
    QVERIFY2(sent < slowRequest.size(), "answered only after the slow client finished");
    // The slow one is served once its line is whole.
    QCOMPARE(parsed(slow.readLine(20000)).value("id"), QJsonValue(7));

    idle.clear();
    QTRY_COMPARE(m_server->connectionCount(), 2);
}

QTEST_GUILESS_MAIN(TestRobustness)
#include "tst_robustness.moc"
