// The server under clients that misbehave or crowd it: each stays that
// client's problem.
#include "rpcclient.h"
#include "rpcpeer.h"
#include "rpcserver.h"
#include "rpctestutil.h"

#include <QJsonArray>
#include <QTest>
#include <memory>
#include <vector>
#include <sys/wait.h>

class TestBounds : public QObject {
    Q_OBJECT
private slots:
    void init() { QVERIFY(m_f.start()); }
    void cleanup() { m_f.stop(); }
    void overlongLineClosesOnlyThatConnection();
    void nonReaderLosesNotificationsOnly_data();
    void nonReaderLosesNotificationsOnly();
    void nonReaderOfAnswersIsPaused();
    void connectionsPerUserBounded();
    void otherUsersRefused_data();
    void otherUsersRefused();

private:
    ServerFixture m_f;
};

void TestBounds::overlongLineClosesOnlyThatConnection()
{
    const qsizetype bound = m_f.server->bounds().maxLine;
    QCOMPARE(bound, 1024 * 1024);
    RawClient other;
    QVERIFY(other.connectTo(m_f.folder.path()));

    // A request exactly at the bound is served.
    const QByteArray head = R"({"jsonrpc":"2.0","id":1,"method":"Test.Echo","params":[")";
    const QByteArray tail = R"("]})";
    RawClient fits;
    QVERIFY(fits.connectTo(m_f.folder.path()));
    QVERIFY(fits.send(head + QByteArray(bound - head.size() - tail.size(), 'a') + tail + '\n'));
    QCOMPARE(parsed(fits.readLine(10000)).value("id"), QJsonValue(1));

    // One byte more, with or without its end, closes that connection only.
    for (const QByteArray &end : {QByteArray("\n"), QByteArray()}) {
        RawClient flood;
        QVERIFY(flood.connectTo(m_f.folder.path()));
        // Not checked: the server may close before the last bytes are sent.
        flood.send(head + QByteArray(bound + 1 - head.size() - tail.size(), 'a') + tail + end);
        QVERIFY(flood.waitClosed(10000));
        QVERIFY(flood.received().isEmpty());
    }
    QVERIFY(other.send(request(2, "Engine.Ping")));
    QCOMPARE(parsed(other.readLine()).value("result"), QJsonValue("pong"));
    QVERIFY(fits.send(request(3, "Engine.Ping")));
    QCOMPARE(parsed(fits.readLine()).value("id"), QJsonValue(3));
}

void TestBounds::nonReaderLosesNotificationsOnly_data()
{
    QTest::addColumn<int>("stuckClients");
    QTest::addColumn<qint64>("totalBound");
    QTest::newRow("one client, its own bound") << 1 << qint64(64 * 1024 * 1024);
    QTest::newRow("five clients, the bound of all") << 5 << qint64(8 * 1024 * 1024);
}

void TestBounds::nonReaderLosesNotificationsOnly()
{
    QFETCH(int, stuckClients);
    QFETCH(qint64, totalBound);
    RpcServer::Bounds bounds;
    bounds.maxUnsentTotal = totalBound;
    m_f.server->setBounds(bounds);
    std::vector<std::unique_ptr<RawClient>> stuck(stuckClients); // connect and never read
    for (auto &c : stuck) {
        c = std::make_unique<RawClient>();
        QVERIFY(c->connectTo(m_f.folder.path()));
    }
    RpcClient reader;
    int heard = 0;
    connect(&reader, &RpcClient::notification, this, [&heard] { ++heard; });
    reader.connectToServer(m_f.folder.path());
    QTRY_COMPARE(m_f.server->connectionCount(), stuckClients + 1);

    const QJsonArray payload{QString(64 * 1024, QLatin1Char('n'))};
    const qint64 lineSize = rpcNotificationLine("Test.OnBig", payload).size();
    const qint64 bound = qMin(stuckClients * bounds.maxUnsent, totalBound) + 2 * lineSize;
    constexpr int kSent = 200; // 13 MB to each: three times a client's bound
    for (int i = 0; i < kSent; ++i) {
        m_f.server->notify("Test.OnBig", payload);
        spin(0);
        QVERIFY2(m_f.server->unsentBytes() <= bound, qPrintable(QString::number(m_f.server->unsentBytes())));
    }
    // The client that reads misses nothing.
    QTRY_COMPARE(heard, kSent);
    const qint64 dropped = m_f.server->droppedNotifications();
    QVERIFY(dropped > 0);
    QVERIFY(dropped < kSent * stuckClients);

    // Once they read, they have every notification that was not dropped,
    // whole, and get new ones again.
    qint64 lines = 0;
    QDeadlineTimer deadline(30000);
    while (lines < kSent * stuckClients - dropped && !deadline.hasExpired()) {
        for (auto &c : stuck) {
            const QByteArray line = c->readLine(10);
            if (!line.isEmpty()) {
                QCOMPARE(parsed(line).value("params"), QJsonValue(payload));
                ++lines;
            }
        }
    }
    QCOMPARE(lines, kSent * stuckClients - dropped);
    QTRY_COMPARE(m_f.server->unsentBytes(), 0);
    m_f.server->notify("Test.OnSmall");
    for (auto &c : stuck)
        QCOMPARE(parsed(c->readLine()).value("method"), QJsonValue("Test.OnSmall"));
    QCOMPARE(m_f.server->droppedNotifications(), dropped);
}

void TestBounds::nonReaderOfAnswersIsPaused()
{
    // 500 requests with 100 KB answers (50 MB) from a client that does not
    // read them: its requests wait, the answers do not pile up.
    RawClient greedy;
    QVERIFY(greedy.connectTo(m_f.folder.path()));
    QByteArray requests;
    constexpr int kRequests = 500;
    for (int i = 1; i <= kRequests; ++i)
        requests += request(i, "Test.Big");
    QVERIFY(greedy.send(requests));
    for (int i = 0; i < 100; ++i)
        spin(5);
    const qint64 bound = m_f.server->bounds().maxUnsent;
    QVERIFY2(m_f.server->unsentBytes() <= bound + 200 * 1024,
             qPrintable(QString::number(m_f.server->unsentBytes())));
    QVERIFY(m_f.pingAnswers()); // the others are served meanwhile

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

void TestBounds::connectionsPerUserBounded()
{
    RpcServer::Bounds bounds;
    bounds.maxPerUser = 3;
    m_f.server->setBounds(bounds);
    std::vector<std::unique_ptr<RawClient>> held;
    for (int i = 0; i < 3; ++i) {
        held.push_back(std::make_unique<RawClient>());
        QVERIFY(held.back()->connectTo(m_f.folder.path()));
    }
    QTRY_COMPARE(m_f.server->connectionCount(), 3);

    // The fourth is told why, and closed.
    RpcClient extra;
    extra.connectToServer(m_f.folder.path());
    std::optional<RpcResult> answer;
    extra.call("Engine.Ping", {}, [&](const RpcResult &r) { answer = r; });
    QTRY_VERIFY(answer.has_value());
    QCOMPARE(answer->error().code, RpcCode::TooManyConnections);
    QVERIFY(answer->error().message.contains(QStringLiteral("连接太多")));
    QTRY_VERIFY(!extra.isConnected());
    QCOMPARE(m_f.server->connectionCount(), 3);

    // Those held are served; when one leaves, a new one is let in.
    QVERIFY(held[0]->send(request(1, "Engine.Ping")));
    QCOMPARE(parsed(held[0]->readLine()).value("result"), QJsonValue("pong"));
    held[1]->close();
    QTRY_COMPARE(m_f.server->connectionCount(), 2);
    QVERIFY(m_f.pingAnswers());
}

void TestBounds::otherUsersRefused_data()
{
    QTest::addColumn<int>("uid");
    QTest::addColumn<bool>("served");
    QTest::newRow("this user") << int(::geteuid()) << true;
    QTest::newRow("another user") << 65534 << false;
}

void TestBounds::otherUsersRefused()
{
    QFETCH(int, uid);
    QFETCH(bool, served);
    if (::geteuid() != 0 && uid != int(::geteuid()))
        QSKIP("connecting as another user needs root");
    // Only the folder and the file keep others out in real use; opened here
    // so that the check of the peer is what refuses.
    const QByteArray path = QFile::encodeName(m_f.folder.path());
    QCOMPARE(::chmod(QFile::encodeName(m_f.folder.dir.path()).constData(), 0755), 0);
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
    QTRY_COMPARE(m_f.server->connectionCount(), 0);
}

QTEST_GUILESS_MAIN(TestBounds)
#include "tst_bounds.moc"
