// The emergency command's side of the channel, over a real unix socket: a
// scripted engine answers (or does not) the way a running engine might,
// and the command's exit code and message must say what happened.
#include "clienttext.h"
#include "emergencyclient.h"

#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

// A listener that takes one connection, reads the request line and writes
// the scripted lines back; "close" ends the connection at once, "wait"
// keeps it open and says nothing.
class ScriptedEngine {
public:
    ScriptedEngine(const std::string &path, QStringList script) : m_script(std::move(script))
    {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, path.c_str(), path.size());
        m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::bind(m_listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(m_listener, 1) != 0)
            return;
        m_thread = std::thread([this] { serve(); });
    }
    ~ScriptedEngine()
    {
        m_done = true;
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_listener);
    }
    bool listening() const { return m_thread.joinable(); }
    std::string request() const
    {
        std::lock_guard lock(m_mutex);
        return m_request;
    }

private:
    void serve()
    {
        pollfd p{m_listener, POLLIN, 0};
        if (::poll(&p, 1, 5000) != 1)
            return;
        const int c = ::accept(m_listener, nullptr, nullptr);
        std::string got;
        char buf[1024];
        pollfd r{c, POLLIN, 0};
        while (got.find('\n') == std::string::npos && ::poll(&r, 1, 5000) == 1) {
            const ssize_t n = ::read(c, buf, sizeof buf);
            if (n <= 0)
                break;
            got.append(buf, size_t(n));
        }
        {
            std::lock_guard lock(m_mutex);
            m_request = got.substr(0, got.find('\n'));
        }
        for (const QString &line : m_script) {
            if (line == "close")
                break;
            if (line == "wait") {
                while (!m_done)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                break;
            }
            const QByteArray out = line.toUtf8() + '\n';
            (void)!::write(c, out.constData(), size_t(out.size()));
        }
        ::close(c);
    }

    QStringList m_script;
    int m_listener = -1;
    std::thread m_thread;
    std::atomic<bool> m_done = false;
    mutable std::mutex m_mutex;
    std::string m_request;
};

QString result(const char *text, int id = emergencyclient::kRequestId)
{
    return QStringLiteral(R"({"jsonrpc":"2.0","id":%1,"result":{"text":"%2"}})").arg(id).arg(QString::fromUtf8(text));
}

} // namespace

class EmergencyClientTest : public QObject {
    Q_OBJECT
private slots:
    void theAnswerDecidesTheExitCode_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("script"); // empty: nothing listens
        QTest::addColumn<int>("rc");
        QTest::addColumn<QString>("said");
        const QString starting = QStringLiteral(R"({"jsonrpc":"2.0","method":"Emergency.OnChanged","params":{"active":true}})");
        QTest::newRow("result") << QStringList{"--emergency"} << QStringList{result("")} << 0 << "";
        QTest::newRow("result naming silent zones")
            << QStringList{"--emergency"} << QStringList{result("以下分区没有播出：乙")} << 0 << "以下分区没有播出：乙";
        QTest::newRow("notifications before the answer")
            << QStringList{"--emergency"}
            << QStringList{starting, R"({"jsonrpc":"2.0","method":"Bands.OnChanged","params":{"bands":[]}})", result("好")}
            << 0 << "好";
        QTest::newRow("another request's answer is not ours")
            << QStringList{"--emergency"} << QStringList{result("别人的", 7), result("我们的")} << 0 << "我们的";
        QTest::newRow("a line end of CR LF") << QStringList{"--emergency"} << QStringList{result("好") + "\r"} << 0 << "好";
        QTest::newRow("error") << QStringList{"--emergency", "/x.mp3"}
                               << QStringList{R"({"jsonrpc":"2.0","id":1,"error":{"code":1,"message":"找不到声音文件 /x.mp3。"}})"}
                               << 1 << "找不到声音文件 /x.mp3。";
        QTest::newRow("error to a line it could not read")
            << QStringList{"--emergency"}
            << QStringList{R"({"jsonrpc":"2.0","id":null,"error":{"code":-32700,"message":"请求不是有效的 JSON"}})"} << 1
            << "请求不是有效的 JSON";
        QTest::newRow("stop") << QStringList{"--emergency-stop"} << QStringList{result("现在没有紧急广播。")} << 0
                              << "现在没有紧急广播。";
        QTest::newRow("no answer: closed") << QStringList{"--emergency"} << QStringList{starting, "close"} << 1
                                           << QString::fromUtf8(clienttext::kNotRunningStart);
        QTest::newRow("no answer: silent") << QStringList{"--emergency"} << QStringList{"wait"} << 1
                                           << QString::fromUtf8(clienttext::kNotRunningStart);
        QTest::newRow("not reached") << QStringList{"--emergency"} << QStringList{} << 1
                                     << QString::fromUtf8(clienttext::kNotRunningStart);
        QTest::newRow("stop not reached") << QStringList{"--emergency-stop"} << QStringList{} << 1
                                          << QString::fromUtf8(clienttext::kNotRunningStop);
    }
    void theAnswerDecidesTheExitCode()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, script);
        QFETCH(int, rc);
        QFETCH(QString, said);
        QTemporaryDir dir;
        const std::string socket = dir.filePath("daling.sock").toStdString();
        std::unique_ptr<ScriptedEngine> engine;
        if (!script.isEmpty()) {
            engine = std::make_unique<ScriptedEngine>(socket, script);
            QVERIFY(engine->listening());
        }
        std::vector<std::string> argv;
        for (const QString &a : args)
            argv.push_back(a.toStdString());
        std::string err;
        const int got = emergencyclient::run(emergencyclient::parse(argv, "/"), [&](const std::string &line, std::string *) {
            return emergencyclient::send(socket, line, 800);
        }, &err);
        QCOMPARE(QString::fromStdString(err), said);
        QCOMPARE(got, rc);
        if (engine)
            QVERIFY(QByteArray::fromStdString(engine->request()).startsWith("{\"id\":1,\"jsonrpc\":\"2.0\",\"method\":\"Emergency."));
    }

    // The engine's answer while it starts is told apart, so that the command
    // that started it asks again instead of giving up.
    void stillStartingIsToldApart_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<bool>("starting");
        QTest::newRow("starting") << QStringLiteral(R"({"jsonrpc":"2.0","id":1,"error":{"code":1,"message":"%1"}})")
                                         .arg(QString::fromUtf8(clienttext::kEngineStarting))
                                  << true;
        QTest::newRow("another refusal") << R"({"jsonrpc":"2.0","id":1,"error":{"code":1,"message":"没有名为「操场」的分区。"}})"
                                         << false;
        QTest::newRow("the same text as a result")
            << QStringLiteral(R"({"jsonrpc":"2.0","id":1,"result":{"text":"%1"}})").arg(QString::fromUtf8(clienttext::kEngineStarting))
            << false;
        QTest::newRow("no JSON") << QString::fromUtf8(clienttext::kEngineStarting) << false;
    }
    void stillStartingIsToldApart()
    {
        QFETCH(QString, reply);
        QFETCH(bool, starting);
        QCOMPARE(emergencyclient::stillStarting(reply.toStdString()), starting);
    }
};

QTEST_GUILESS_MAIN(EmergencyClientTest)
#include "tst_client.moc"
