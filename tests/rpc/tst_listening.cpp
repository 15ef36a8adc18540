// The server keeps listening when the system takes its socket file or its
// file descriptors away, and keeps answering with a thousand clients held.
#include "rpcclient.h"
#include "rpcpeer.h"
#include "rpcserver.h"
#include "rpctestutil.h"

#include <QJsonArray>
#include <QTest>
#include <memory>
#include <vector>
#include <QDir>
#include <QTimer>
#include <sys/resource.h>

namespace {

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

class TestListening : public QObject {
    Q_OBJECT
private slots:
    void init() { QVERIFY(m_f.start()); }
    void cleanup() { m_f.stop(); }
    void fileLimitRaised();
    void socketFileComesBack_data();
    void socketFileComesBack();
    void failedAcceptListensAgain();
    void manyIdleAndOneSlowClient();

private:
    ServerFixture m_f;
};

void TestListening::fileLimitRaised()
{
    FileLimit limit;
    QVERIFY(limit.setSoft(qMin<rlim_t>(limit.saved.rlim_max, 256)));
    QCOMPARE(rpcRaiseFileLimit(), qint64(limit.saved.rlim_max));
    rlimit now{};
    ::getrlimit(RLIMIT_NOFILE, &now);
    QCOMPARE(now.rlim_cur, limit.saved.rlim_max);
}

void TestListening::socketFileComesBack_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("removed") << "removed";
    QTest::newRow("replaced by a plain file") << "replaced";
    // A while with no folder to listen in: the server retries.
    QTest::newRow("its folder removed, then made again") << "folder";
}

void TestListening::socketFileComesBack()
{
    QFETCH(QString, how);
    RpcClient before;
    before.connectToServer(m_f.folder.path());
    QVERIFY(before.waitForConnected(1000));
    QTRY_COMPARE(m_f.server->connectionCount(), 1);
    QVERIFY(QFile::remove(m_f.folder.path()));
    if (how == "replaced") {
        QFile junk(m_f.folder.path());
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("not a socket");
    } else if (how == "folder") {
        const QByteArray dir = QFile::encodeName(m_f.folder.dir.path());
        QCOMPARE(::rmdir(dir.constData()), 0);
        for (int i = 0; i < 60; ++i) // several failed retries
            spin(5);
        QVERIFY(!rpcPathAnswers(m_f.folder.path()));
        QCOMPARE(::mkdir(dir.constData(), 0700), 0);
    }
    QTRY_VERIFY_WITH_TIMEOUT(rpcPathAnswers(m_f.folder.path()), 5000);
    QVERIFY(m_f.pingAnswers());
    // Clients connected before keep their connection.
    std::optional<RpcResult> answer;
    before.call("Engine.Ping", {}, [&](const RpcResult &r) { answer = r; });
    QTRY_VERIFY(answer.has_value());
    QCOMPARE(answer->value(), QJsonValue("pong"));
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(m_f.folder.path()).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0600u);
}

void TestListening::failedAcceptListensAgain()
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
    const bool connected = client.connectTo(m_f.folder.path(), 1000);
    const bool dropped = client.waitClosed(2000);
    const int served = m_f.server->connectionCount();
    for (const int fd : filler)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &limit.saved);
    QVERIFY(connected);
    QVERIFY(dropped);
    QCOMPARE(served, 0);
    QTRY_VERIFY_WITH_TIMEOUT(m_f.pingAnswers(), 5000);
    QVERIFY(m_f.server->isListening());
}

void TestListening::manyIdleAndOneSlowClient()
{
    rpcRaiseFileLimit();
    constexpr int kIdle = 1000;
    RpcServer::Bounds bounds;
    bounds.maxPerUser = kIdle + 10;
    m_f.server->setBounds(bounds);
    std::vector<std::unique_ptr<RawClient>> idle(kIdle);
    for (auto &c : idle) {
        c = std::make_unique<RawClient>();
        QVERIFY(c->connectTo(m_f.folder.path()));
    }
    QTRY_COMPARE(m_f.server->connectionCount(), kIdle);

    // A client that sends its request a byte at a time, slowly.
    RawClient slow;
    QVERIFY(slow.connectTo(m_f.folder.path()));
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
    fresh.connectToServer(m_f.folder.path());
    std::optional<RpcResult> answer;
    fresh.call("Engine.Ping", {}, [&](const RpcResult &r) { answer = r; });
    QTRY_VERIFY(answer.has_value());
    QCOMPARE(answer->value(), QJsonValue("pong"));
    QVERIFY2(sent < slowRequest.size(), "answered only after the slow client finished");
    // The slow one is served once its line is whole.
    QCOMPARE(parsed(slow.readLine(20000)).value("id"), QJsonValue(7));

    idle.clear();
    QTRY_COMPARE(m_f.server->connectionCount(), 2);
}

QTEST_GUILESS_MAIN(TestListening)
#include "tst_listening.moc"
