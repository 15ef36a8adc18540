// 200 idle pages at a real dalingd (its web on 127.0.0.1 and a free port, a
// private PulseAudio's null sink): half of them WebSockets that read nothing
// they are sent, half raw connections that sent their upgrade and never read
// again. A bell due a few seconds later still rings at its second, a reading
// page is told so, and the channel still answers. The bound is the engine
// test's loose one (both cores may be busy); the figures belong to bench/web.
#include "audiotestutil.h"
#include "bellstore.h"
#include "fakes.h"
#include "remotesettings.h"
#include "settings.h"
#include "webaccounts.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A bell's start may be this late and still count as at its second.
constexpr qint64 kLateMs = 1500;
constexpr int kReadingNothing = 100;
constexpr int kNotReading = 100;

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

class WebIdleTest : public QObject {
    Q_OBJECT
    PrivatePulse m_pulse;

private slots:
    void initTestCase() { QVERIFY(m_pulse.start(QStringLiteral("idle"))); }

    void twoHundredIdlePagesDelayNoBell()
    {
        TempHome home;
        QTemporaryDir runtime;
        QVERIFY(!makeTone(home.music() + "bell.wav", 0.5).isEmpty());
        const QString exe = home.place(QStringLiteral(DALINGD_BIN));
        const quint16 port = freePort();
        QVERIFY(port > 0);
        // Time for the engine to start and the pages to connect, under the
        // sanitizers on a busy machine.
        const qint64 dueSec = QTime::currentTime().msecsSinceStartOfDay() / 1000 + 25;
        const QString due = QTime::fromMSecsSinceStartOfDay(int(dueSec * 1000)).toString("HH:mm:ss");
        {
            BellStore store;
            QVERIFY(store.open(home.db()).isEmpty());
            store.insert({0, dueSec, "午休", "bell.wav", "日一二三四五六", "1", "", {}});
            Settings settings(store);
            RemoteSettings web;
            web.port = port;
            web.address = "127.0.0.1";
            web.save(settings);
            WebAccounts(store).set("值班室", WebRole::Viewer, "值班室的口令2026");
        }
        QProcess engine;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("NOTIFY_SOCKET");
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        env.insert("QT_QPA_PLATFORM", "");
        engine.setProcessEnvironment(env);
        engine.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        engine.start(exe, {});
        QVERIFY(engine.waitForStarted(5000));
        const auto stop = qScopeGuard([&engine] {
            if (engine.state() != QProcess::NotRunning) {
                ::kill(pid_t(engine.processId()), SIGTERM);
                engine.waitForFinished(15000);
            }
        });
        QVERIFY(QTest::qWaitFor([port] {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, port);
            return s.waitForConnected(200);
        }, 20000));

        // One login serves every page (the throttle counts failures only,
        // but a school's office opens one session per browser).
        const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(port);
        QNetworkAccessManager net;
        QNetworkRequest login(QUrl(origin + "/api/login"));
        login.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        QNetworkReply *reply = net.post(login, R"({"name":"值班室","password":"值班室的口令2026"})");
        QVERIFY(QTest::qWaitFor([reply] { return reply->isFinished(); }, 20000));
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
        const QByteArray setCookie = reply->rawHeader("Set-Cookie");
        const QByteArray cookie = setCookie.left(setCookie.indexOf(';'));
        reply->deleteLater();
        QVERIFY(!cookie.isEmpty());
        QNetworkRequest upgrade(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/ws").arg(port)));
        upgrade.setRawHeader("Cookie", cookie);

        // The page that watches: it reads everything.
        QWebSocket watcher(origin);
        QList<QJsonObject> received;
        connect(&watcher, &QWebSocket::textMessageReceived, this,
                [&received](const QString &text) { received << QJsonDocument::fromJson(text.toUtf8()).object(); });
        watcher.open(upgrade);
        QVERIFY(QTest::qWaitFor([&] { return watcher.state() == QAbstractSocket::ConnectedState; }, 20000));

        // Pages left open in a drawer: connected, nothing read from them.
        std::vector<std::unique_ptr<QWebSocket>> idle;
        for (int i = 0; i < kReadingNothing; ++i) {
            idle.push_back(std::make_unique<QWebSocket>(origin));
            idle.back()->open(upgrade);
        }
        // Connections whose reader froze right after the upgrade: the
        // engine's notifications pile up at them.
        std::vector<int> frozen;
        const auto closeFrozen = qScopeGuard([&frozen] {
            for (int fd : frozen)
                ::close(fd);
        });
        const QByteArray handshake = "GET /api/ws HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port)
            + "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
              "Sec-WebSocket-Version: 13\r\nOrigin: " + origin.toLatin1() + "\r\nCookie: " + cookie + "\r\n\r\n";
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (int i = 0; i < kNotReading; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            QVERIFY(fd >= 0);
            frozen.push_back(fd);
            QVERIFY2(::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0,
                     qPrintable(QString::number(i)));
            QCOMPARE(::send(fd, handshake.constData(), handshake.size(), MSG_NOSIGNAL), ssize_t(handshake.size()));
        }
        QVERIFY(QTest::qWaitFor([&] {
            return std::all_of(idle.begin(), idle.end(),
                               [](const auto &s) { return s->state() == QAbstractSocket::ConnectedState; });
        }, 30000));
        QVERIFY2(QTime::currentTime().msecsSinceStartOfDay() / 1000 < dueSec - 1, "the pages took too long to connect");

        const auto statusOf = [&received, &due](const QString &status) -> std::optional<QJsonObject> {
            for (const QJsonObject &m : std::as_const(received)) {
                const QJsonObject p = m.value("params").toObject();
                if (m.value("method").toString() == "Bell.OnStatus" && p.value("time").toString() == due
                    && p.value("status").toString() == status)
                    return p;
            }
            return std::nullopt;
        };
        QVERIFY2(QTest::qWaitFor([&] { return statusOf("播放").has_value(); }, 40000), "the bell was not told playing");
        const qint64 delayMs = statusOf("播放")->value("delayMs").toInteger(-1);
        QVERIFY2(delayMs >= 0 && delayMs < kLateMs, qPrintable(QString::number(delayMs)));
        QVERIFY2(QTest::qWaitFor([&] { return statusOf("完成").has_value(); }, 15000), "the bell did not end 完成");

        // The channel still answers a page, and nobody idle was dropped.
        watcher.sendTextMessage(R"({"jsonrpc":"2.0","id":41,"method":"Day.GetBells"})");
        QVERIFY(QTest::qWaitFor([&] {
            return std::any_of(received.begin(), received.end(), [](const QJsonObject &m) {
                return m.value("id").toInt() == 41 && m.value("result").toObject().contains("bells");
            });
        }, 10000));
        QVERIFY(std::all_of(idle.begin(), idle.end(),
                            [](const auto &s) { return s->state() == QAbstractSocket::ConnectedState; }));
        for (int fd : {frozen.front(), frozen.back()}) {
            char head[12];
            QCOMPARE(::recv(fd, head, sizeof head, MSG_DONTWAIT | MSG_PEEK), ssize_t(sizeof head));
            QCOMPARE(QByteArray(head, sizeof head), "HTTP/1.1 101");
        }
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return runWithRealSound<WebIdleTest>(argc, argv);
}
#include "tst_webidle.moc"
