// The server and the client together on a private socket: answers now and
// later, the protocol's errors, notifications both ways, and the client's
// handling of pieces and bundles of lines.
#include "rpcclient.h"
#include "rpcpeer.h"
#include "rpcserver.h"
#include "rpctestutil.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <sys/stat.h>

namespace {

int errorCode(const QByteArray &line)
{
    return parsed(line).value("error").toObject().value("code").toInt();
}

} // namespace

class TestChannel : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void answersAndErrors_data();
    void answersAndErrors();
    void answersLater();
    void badLinesKeepTheConnection();
    void clientNotificationsAreNotAnswered();
    void finishedWritingStillAnswered();
    void notifyReachesEveryClient();
    void clientTakesPiecesAndBundles();
    void blockingCalls();
    void socketIsPrivate();

private:
    RpcResult callAndWait(RpcClient &client, const QString &method, const QJsonValue &params);

    SocketFolder m_folder;
    RpcServer *m_server = nullptr;
    int m_notified = 0;
};

void TestChannel::init()
{
    m_server = new RpcServer(this);
    m_notified = 0;
    m_server->registerMethod("Test.Echo", [](const QJsonValue &p) { return p; });
    m_server->registerMethod("Test.Fail", [](const QJsonValue &) {
        return RpcError{1001, QStringLiteral("音乐文件不存在：上课铃.mp3")};
    });
    m_server->registerMethod("Test.Square", [](const QJsonValue &p) -> RpcResult {
        const QJsonValue n = p.toObject().value("n");
        if (!n.isDouble())
            return RpcError::invalidParams(QStringLiteral("需要数字 n"));
        return n.toDouble() * n.toDouble();
    });
    m_server->registerMethod("Test.Throw", [](const QJsonValue &) -> RpcResult {
        throw std::runtime_error("disk gone");
    });
    m_server->registerMethod("Test.Count", [this](const QJsonValue &) {
        ++m_notified;
        return RpcResult();
    });
    m_server->registerAsyncMethod("Test.Later", [](const QJsonValue &p, RpcReply reply) {
        QTimer::singleShot(50, [reply, p] { reply.send(p); });
    });
    m_server->registerAsyncMethod("Test.Never", [](const QJsonValue &, RpcReply reply) {
        QTimer::singleShot(20, [reply] {}); // keeps it a moment, then drops it unanswered
    });
    m_server->registerAsyncMethod("Test.Twice", [](const QJsonValue &, RpcReply reply) {
        reply.send(1);
        reply.send(2);
    });
    QVERIFY(m_server->listen(m_folder.path()));
}

void TestChannel::cleanup()
{
    delete m_server;
    m_server = nullptr;
}

RpcResult TestChannel::callAndWait(RpcClient &client, const QString &method, const QJsonValue &params)
{
    std::optional<RpcResult> answer;
    client.call(method, params, [&](const RpcResult &r) { answer = r; });
    QDeadlineTimer deadline(5000);
    while (!answer && !deadline.hasExpired())
        spin();
    return answer.value_or(RpcError{-1, "test: no answer"});
}

void TestChannel::answersAndErrors_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QJsonValue>("params");
    QTest::addColumn<int>("code"); // 0: a result
    QTest::addColumn<QJsonValue>("result");

    const QJsonObject chinese{{"名称", QStringLiteral("上课铃")}};
    QTest::newRow("result") << "Test.Echo" << QJsonValue(chinese) << 0 << QJsonValue(chinese);
    QTest::newRow("computed") << "Test.Square" << QJsonValue(QJsonObject{{"n", 7}}) << 0 << QJsonValue(49);
    QTest::newRow("application error") << "Test.Fail" << QJsonValue() << 1001 << QJsonValue();
    QTest::newRow("invalid params") << "Test.Square" << QJsonValue(QJsonArray{1}) << int(RpcCode::InvalidParams)
                                    << QJsonValue();
    QTest::newRow("unknown method") << "No.Such" << QJsonValue() << int(RpcCode::MethodNotFound) << QJsonValue();
    QTest::newRow("handler throws") << "Test.Throw" << QJsonValue() << int(RpcCode::InternalError) << QJsonValue();
    QTest::newRow("answered later") << "Test.Later" << QJsonValue(QJsonArray{"a"}) << 0
                                    << QJsonValue(QJsonArray{"a"});
    QTest::newRow("dropped unanswered") << "Test.Never" << QJsonValue() << int(RpcCode::InternalError)
                                        << QJsonValue();
    QTest::newRow("the channel's version") << "Server.GetRPCVersion" << QJsonValue() << 0
                                           << QJsonValue(RpcServer::rpcVersion());
}

void TestChannel::answersAndErrors()
{
    QFETCH(QString, method);
    QFETCH(QJsonValue, params);
    QFETCH(int, code);
    QFETCH(QJsonValue, result);
    RpcClient client;
    client.connectToServer(m_folder.path());
    const RpcResult r = callAndWait(client, method, params);
    QCOMPARE(r.isError() ? r.error().code : 0, code);
    if (code == 0)
        QCOMPARE(r.value(), result);
    else
        QVERIFY(!r.error().message.isEmpty());
    if (code == 1001)
        QCOMPARE(r.error().message, QStringLiteral("音乐文件不存在：上课铃.mp3"));
    // The connection still serves after any of them.
    QCOMPARE(callAndWait(client, "Test.Echo", QJsonArray{1}).value(), QJsonValue(QJsonArray{1}));
}

void TestChannel::answersLater()
{
    // Answers come in the order they are ready, each to its own id; a
    // method answering twice sends one answer only.
    RawClient raw;
    QVERIFY(raw.connectTo(m_folder.path()));
    QVERIFY(raw.send(R"({"jsonrpc":"2.0","id":1,"method":"Test.Later","params":["late"]})"
                     "\n"
                     R"({"jsonrpc":"2.0","id":2,"method":"Test.Twice"})"
                     "\n"
                     R"({"jsonrpc":"2.0","id":3,"method":"Test.Echo","params":["now"]})"
                     "\n"));
    QCOMPARE(parsed(raw.readLine()), (QJsonObject{{"jsonrpc", "2.0"}, {"id", 2}, {"result", 1}}));
    QCOMPARE(parsed(raw.readLine()).value("id"), QJsonValue(3));
    const QJsonObject late = parsed(raw.readLine());
    QCOMPARE(late.value("id"), QJsonValue(1));
    QCOMPARE(late.value("result"), QJsonValue(QJsonArray{"late"}));
    QCOMPARE(raw.readLine(300), QByteArray());
}

void TestChannel::badLinesKeepTheConnection()
{
    RawClient raw;
    QVERIFY(raw.connectTo(m_folder.path()));
    const struct {
        QByteArray line;
        int code;
        QJsonValue id;
    } cases[] = {
        {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":", RpcCode::ParseError, QJsonValue()},
        {"\xff\xfe garbage", RpcCode::ParseError, QJsonValue()},
        {R"([{"jsonrpc":"2.0","id":1,"method":"Test.Echo"}])", RpcCode::InvalidRequest, QJsonValue()},
        {R"({"jsonrpc":"2.0","id":"x","method":"No.Such"})", RpcCode::MethodNotFound, QJsonValue("x")},
        {R"({"id":4,"method":"Test.Echo"})", RpcCode::InvalidRequest, QJsonValue(4)},
    };
    for (const auto &c : cases) {
        QVERIFY(raw.send(c.line + "\r\n\n"));
        const QByteArray answer = raw.readLine();
        QCOMPARE(errorCode(answer), c.code);
        QCOMPARE(parsed(answer).value("id"), c.id);
        QVERIFY(parsed(answer).value("error").toObject().value("message").isString());
    }
    QVERIFY(raw.send(R"({"jsonrpc":"2.0","id":9,"method":"Test.Echo","params":{"ok":true}})" "\n"));
    QCOMPARE(parsed(raw.readLine()).value("result"), QJsonValue(QJsonObject{{"ok", true}}));
}

void TestChannel::clientNotificationsAreNotAnswered()
{
    RawClient raw;
    QVERIFY(raw.connectTo(m_folder.path()));
    QVERIFY(raw.send(R"({"jsonrpc":"2.0","method":"Test.Count"})" "\n"
                     R"({"jsonrpc":"2.0","method":"No.Such"})" "\n"
                     R"({"jsonrpc":"2.0","method":"Test.Throw"})" "\n"
                     R"({"jsonrpc":"2.0","method":"Test.Never"})" "\n"
                     R"({"jsonrpc":"2.0","id":5,"method":"Test.Echo"})" "\n"));
    // The first line back is the answer to the one request.
    QCOMPARE(parsed(raw.readLine()).value("id"), QJsonValue(5));
    QCOMPARE(m_notified, 1);
    QCOMPARE(raw.readLine(300), QByteArray());

    RpcClient client;
    client.connectToServer(m_folder.path());
    client.notifyServer("Test.Count");
    QTRY_COMPARE(m_notified, 2);
}

void TestChannel::finishedWritingStillAnswered()
{
    // As `printf '…' | socat - UNIX-CONNECT:…` does: the requests, the last
    // without its line end, then the end of writing. Every answer comes,
    // also the later one, and then the end.
    RawClient raw;
    QVERIFY(raw.connectTo(m_folder.path()));
    QVERIFY(raw.send(R"({"jsonrpc":"2.0","id":1,"method":"Test.Later","params":["late"]})" "\n"
                     R"({"jsonrpc":"2.0","id":2,"method":"Test.Echo","params":["now"]})"));
    QCOMPARE(::shutdown(raw.fd(), SHUT_WR), 0);
    QCOMPARE(parsed(raw.readLine()).value("id"), QJsonValue(2));
    QCOMPARE(parsed(raw.readLine()).value("result"), QJsonValue(QJsonArray{"late"}));
    QVERIFY(raw.waitClosed());
    QTRY_COMPARE(m_server->connectionCount(), 0);
}

void TestChannel::notifyReachesEveryClient()
{
    std::vector<std::unique_ptr<RpcClient>> clients;
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<RpcClient>());
        spies.push_back(std::make_unique<QSignalSpy>(clients.back().get(), &RpcClient::notification));
        clients.back()->connectToServer(m_folder.path());
    }
    {
        RpcClient leaving;
        leaving.connectToServer(m_folder.path());
        QTRY_COMPARE(m_server->connectionCount(), 4);
    }
    QTRY_COMPARE(m_server->connectionCount(), 3);
    const QJsonObject params{{"时间", "08:00:00"}, {"铃声", QStringLiteral("上课铃")}};
    m_server->notify("Bell.OnRing", params);
    m_server->notify("Engine.OnStopped");
    for (auto &spy : spies) {
        QTRY_COMPARE(spy->size(), 2);
        QCOMPARE(spy->at(0).at(0).toString(), QString("Bell.OnRing"));
        QCOMPARE(spy->at(0).at(1).value<QJsonValue>(), QJsonValue(params));
        QCOMPARE(spy->at(1).at(0).toString(), QString("Engine.OnStopped"));
    }
    QCOMPARE(m_server->droppedNotifications(), 0);
}

void TestChannel::clientTakesPiecesAndBundles()
{
    // A fake server that answers in the worst ways a stream may deliver:
    // one byte at a time, and several lines in one write, out of order.
    SocketFolder folder;
    QLocalServer fake;
    QVERIFY(fake.listen(folder.path()));
    RpcClient client;
    QSignalSpy notes(&client, &RpcClient::notification);
    QList<int> order;
    client.connectToServer(folder.path());
    for (int i = 0; i < 3; ++i)
        client.call("Test.Echo", i, [&order, i](const RpcResult &r) {
            QCOMPARE(r.value().toInt(), i * 10);
            order << i;
        });
    QTRY_VERIFY(fake.hasPendingConnections());
    QLocalSocket *peer = fake.nextPendingConnection();
    QTRY_COMPARE(peer->peek(4096).count('\n'), 3);
    for (const char c : rpcResponseLine(1, 0)) {
        peer->write(&c, 1);
        peer->flush();
        spin(1);
    }
    QTRY_COMPARE(order, QList<int>{0});
    peer->write(rpcNotificationLine("Bell.OnRing", QJsonObject{{"n", 1}}) + "\n"
                + rpcResponseLine(3, 20) + rpcResponseLine(99, 0) + rpcResponseLine(2, 10));
    QTRY_COMPARE(order, (QList<int>{0, 2, 1}));
    QCOMPARE(notes.size(), 1);
    QCOMPARE(notes.at(0).at(0).toString(), QString("Bell.OnRing"));
    QCOMPARE(notes.at(0).at(1).value<QJsonValue>(), QJsonValue(QJsonObject{{"n", 1}}));
}

void TestChannel::blockingCalls()
{
    SocketFolder folder;
    ServerThread thread(folder.path(), [](RpcServer &s) {
        s.registerMethod("Engine.Ping", [](const QJsonValue &) { return QJsonValue("pong"); });
        s.registerAsyncMethod("Test.Slow", [](const QJsonValue &, RpcReply reply) {
            QTimer::singleShot(300, [reply] { reply.send(QJsonValue("late")); });
        });
    });
    QVERIFY(thread.listening());
    QCOMPARE(rpcCall(folder.path(), "Engine.Ping").value(), QJsonValue("pong"));

    RpcClient client;
    client.connectToServer(folder.path());
    QVERIFY(client.waitForConnected(2000));
    // Too slow for the time given: no answer, and its late answer later
    // reaches nobody without disturbing the next call.
    QCOMPARE(client.callSync("Test.Slow", {}, 100).error().code, RpcCode::NoAnswer);
    QThread::msleep(400);
    QCOMPARE(client.callSync("Engine.Ping", {}, 2000).value(), QJsonValue("pong"));
    QCOMPARE(client.callSync("No.Such", {}, 2000).error().code, RpcCode::MethodNotFound);

    thread.run([](RpcServer &s) { s.close(); });
    QCOMPARE(client.callSync("Engine.Ping", {}, 2000).error().code, RpcCode::NotConnected);
    QCOMPARE(rpcCall(folder.path(), "Engine.Ping").error().code, RpcCode::NotConnected);

    // Asynchronous calls without a server get their callback too, later.
    RpcClient nobody;
    nobody.connectToServer(folder.path());
    bool called = false;
    nobody.call("Engine.Ping", {}, [&](const RpcResult &r) {
        called = true;
        QCOMPARE(r.error().code, RpcCode::NotConnected);
    });
    QVERIFY(!called);
    QTRY_VERIFY(called);
}

void TestChannel::socketIsPrivate()
{
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(m_folder.path()).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0600u);

    // A second server on the same path is refused; the first keeps serving.
    RpcServer second;
    QVERIFY(!second.listen(m_folder.path()));
    RpcClient client;
    client.connectToServer(m_folder.path());
    QCOMPARE(callAndWait(client, "Test.Echo", QJsonArray{1}).value(), QJsonValue(QJsonArray{1}));

    // A folder others can enter is refused.
    QTemporaryDir open;
    QVERIFY(QFile::setPermissions(open.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                   | QFile::ReadOther | QFile::ExeOther));
    RpcServer third;
    QVERIFY(!third.listen(open.filePath("daling.sock")));
    QVERIFY(!QFile::exists(open.filePath("daling.sock")));

    // A dead socket file left behind (a crashed engine's) is replaced.
    SocketFolder stale;
    {
        const QByteArray name = QFile::encodeName(stale.path());
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        ::close(fd);
        QVERIFY(QFile::exists(stale.path()));
        QVERIFY(!rpcPathAnswers(stale.path()));
    }
    RpcServer fourth;
    QVERIFY(fourth.listen(stale.path()));
    QVERIFY(rpcPathAnswers(stale.path()));
}

QTEST_GUILESS_MAIN(TestChannel)
#include "tst_channel.moc"
