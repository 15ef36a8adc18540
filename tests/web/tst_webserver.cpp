// The remote control's server on 127.0.0.1 and a free port, driven as a
// browser and a script would: login and its cookie, the CSRF token, the
// role of each method, the body limit, the login lock, the WebSocket's
// checks and its pushed notifications, who started an emergency, logout,
// the history's download. Methods are a stand-in engine's on a real
// RpcServer; accounts are real (Argon2id) in a real store file.
#include "bellstore.h"
#include "fakes.h"
#include "rpcserver.h"
#include "webaccounts.h"
#include "webserver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QWebSocket>

namespace {

constexpr int kWaitMs = 30000; // Argon2id under the sanitizers, both cores busy
const QString kPassword = QStringLiteral("口令十分安全123");

struct Answer {
    int status = 0;
    QByteArray body;
    QList<QNetworkReply::RawHeaderPair> headers;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    QByteArray header(const QByteArray &name) const
    {
        for (const auto &[k, v] : headers)
            if (k.compare(name, Qt::CaseInsensitive) == 0)
                return v;
        return {};
    }
};

// Keeps no cookie: each request says its own.
class NoJar : public QNetworkCookieJar {
public:
    bool setCookiesFromUrl(const QList<QNetworkCookie> &, const QUrl &) override { return false; }
};

} // namespace

class WebServerTest : public QObject {
    Q_OBJECT

    struct Fixture {
        TempHome home;
        BellStore store;
        FakeClock clock;
        RpcServer rpc;
        std::unique_ptr<WebAccounts> accounts;
        std::unique_ptr<WebServer> server;
        QNetworkAccessManager net;
        QJsonValue lastEmergency;
        QJsonValue lastTest;
        bool https = false;
        explicit Fixture(bool withHttps = false) : https(withHttps)
        {
            QVERIFY(store.open(home.db()).isEmpty());
            accounts = std::make_unique<WebAccounts>(store);
            accounts->set("王老师", WebRole::Duty, kPassword);
            accounts->set("访客", WebRole::Viewer, kPassword);
            rpc.registerMethod("Engine.GetStatus", [](const QJsonValue &) { return QJsonObject{{"mode", "running"}}; });
            rpc.registerMethod("Mode.Set", [](const QJsonValue &p) { return p; });
            rpc.registerMethod("Window.Raise", [](const QJsonValue &) { return QJsonObject{}; });
            rpc.registerMethod("Test.Play", [this](const QJsonValue &p) {
                lastTest = p;
                return QJsonObject{};
            });
            rpc.registerMethod("Emergency.Start", [this](const QJsonValue &p) {
                lastEmergency = p;
                return QJsonObject{{"text", ""}};
            });
            WebServer::Services s;
            s.rpc = &rpc;
            s.accounts = accounts.get();
            s.clock = &clock;
            s.history = [](const QDate &d) {
                RingRecord r;
                r.date = d;
                r.time = 8 * 3600;
                r.name = "上课";
                r.music = "bell.wav";
                r.result = BellStatus::Done;
                return QList<RingRecord>{r};
            };
            server = std::make_unique<WebServer>(s);
            RemoteSettings settings;
            settings.address = "127.0.0.1";
            if (https) {
                // An EC key: the server tries RSA first.
                settings.certificate = home.path() + "cert.pem";
                settings.key = home.path() + "key.pem";
                QCOMPARE(QProcess::execute("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt",
                                                       "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1",
                                                       "-subj", "/CN=127.0.0.1", "-keyout", settings.key,
                                                       "-out", settings.certificate}),
                         0);
            }
            QCOMPARE(server->start(settings), QString());
            QVERIFY(server->port() > 0);
            QCOMPARE(server->https(), https);
            net.setCookieJar(new NoJar);
            // The test's own certificate, made a moment ago.
            QObject::connect(&net, &QNetworkAccessManager::sslErrors, &net,
                             [](QNetworkReply *reply, const QList<QSslError> &) { reply->ignoreSslErrors(); });
        }
        QUrl url(const QString &path) const
        {
            return QUrl(QStringLiteral("%1://127.0.0.1:%2%3").arg(https ? "https" : "http").arg(server->port()).arg(path));
        }
        QString origin() const { return QStringLiteral("http://127.0.0.1:%1").arg(server->port()); }
        Answer request(const QByteArray &verb, const QString &path, const QByteArray &body = {},
                       const QList<QPair<QByteArray, QByteArray>> &headers = {})
        {
            QNetworkRequest r(url(path));
            r.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
            for (const auto &[k, v] : headers)
                r.setRawHeader(k, v);
            QNetworkReply *reply = net.sendCustomRequest(r, verb, body);
            QSignalSpy done(reply, &QNetworkReply::finished);
            if (!done.wait(kWaitMs))
                return {};
            Answer a{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll(),
                     reply->rawHeaderPairs()};
            reply->deleteLater();
            return a;
        }
        Answer login(const QString &name, const QString &password)
        {
            return request("POST", "/api/login",
                           QJsonDocument(QJsonObject{{"name", name}, {"password", password}}).toJson());
        }
        struct Session {
            QByteArray cookie;
            QByteArray csrf;
        };
        Session session(const QString &name)
        {
            const Answer a = login(name, kPassword);
            const QByteArray setCookie = a.header("Set-Cookie");
            return {setCookie.left(setCookie.indexOf(';')), a.json().value("csrf").toString().toLatin1()};
        }
        Answer rpcCall(const Session &s, const QString &method, const QJsonObject &params = {}, bool withCsrf = true)
        {
            QList<QPair<QByteArray, QByteArray>> h{{"Cookie", s.cookie}};
            if (withCsrf)
                h.append({"X-CSRF-Token", s.csrf});
            return request("POST", "/api/rpc",
                           QJsonDocument(QJsonObject{{"jsonrpc", "2.0"}, {"id", 1}, {"method", method}, {"params", params}})
                               .toJson(QJsonDocument::Compact),
                           h);
        }
    };

    // A WebSocket with the given cookie and Origin; whether it stays open.
    static bool webSocketStays(QWebSocket &ws, const QUrl &url, const QByteArray &cookie)
    {
        QNetworkRequest r(url);
        if (!cookie.isEmpty())
            r.setRawHeader("Cookie", cookie);
        QSignalSpy closed(&ws, &QWebSocket::disconnected);
        QSignalSpy opened(&ws, &QWebSocket::connected);
        ws.open(r);
        if (!opened.wait(kWaitMs))
            return false;
        // The server checks right after the upgrade: a refused one closes now.
        return closed.isEmpty() && !closed.wait(1500) && ws.state() == QAbstractSocket::ConnectedState;
    }

private slots:
    void loginSetsAStrictCookieAndAnswersTheCsrfToken()
    {
        Fixture f;
        const Answer ok = f.login("王老师", kPassword);
        QCOMPARE(ok.status, 200);
        QCOMPARE(ok.json().value("role").toString(), QString("值班"));
        QVERIFY(ok.json().value("csrf").toString().size() >= 40);
        const QByteArray cookie = ok.header("Set-Cookie");
        QVERIFY(cookie.startsWith(WebServer::kCookie + '='));
        QVERIFY(cookie.contains("HttpOnly"));
        QVERIFY(cookie.contains("SameSite=Strict"));
        QVERIFY(!cookie.contains("Secure")); // plain HTTP: a Secure cookie would never come back
        const Answer wrong = f.login("王老师", "口令十分安全124");
        QCOMPARE(wrong.status, 401);
        QCOMPARE(wrong.json().value("error").toString(), WebServer::kLoginFailedText);
        QVERIFY(wrong.header("Set-Cookie").isEmpty());
        QCOMPARE(f.login("王老师", "").status, 400);
    }

    void underHttpsTheCookieIsSecure()
    {
        Fixture f(true);
        const Answer ok = f.login("王老师", kPassword);
        QCOMPARE(ok.status, 200);
        QVERIFY(ok.header("Set-Cookie").contains("Secure"));
        const QByteArray cookie = ok.header("Set-Cookie").left(ok.header("Set-Cookie").indexOf(';'));
        QCOMPARE(f.request("GET", "/api/session", {}, {{"Cookie", cookie}}).status, 200);
    }

    void nothingIsServedWithoutASession()
    {
        Fixture f;
        const QList<QPair<QByteArray, QString>> requests{
            {"GET", "/api/session"}, {"POST", "/api/rpc"}, {"POST", "/api/logout"},
            {"GET", "/api/history?date=2026-12-07"}, {"GET", "/api/history/export?date=2026-12-07&format=csv"}};
        for (const auto &[verb, path] : requests) {
            const Answer a = f.request(verb, path, R"({"jsonrpc":"2.0","id":1,"method":"Engine.GetStatus"})",
                                       {{"Cookie", WebServer::kCookie + "=forged"}});
            QVERIFY2(a.status == 401, qPrintable(path));
        }
        // The page itself is public (its login form).
        const Answer page = f.request("GET", "/");
        QCOMPARE(page.status, 200);
        QVERIFY(page.body.contains("连接已断开，正在重连…"));
    }

    void aChangeWithoutItsCsrfTokenIsRefused()
    {
        Fixture f;
        const Fixture::Session s = f.session("王老师");
        QVERIFY(!s.cookie.isEmpty());
        QCOMPARE(f.rpcCall(s, "Mode.Set", {{"running", false}}, false).status, 403);
        Fixture::Session forged = s;
        forged.csrf = f.session("访客").csrf; // another session's token
        QCOMPARE(f.rpcCall(forged, "Mode.Set", {{"running", false}}).status, 403);
        const Answer ok = f.rpcCall(s, "Mode.Set", {{"running", false}});
        QCOMPARE(ok.status, 200);
        QCOMPARE(ok.json().value("result").toObject().value("running").toBool(true), false);
        // A POST from another site's page is refused whatever it carries.
        QCOMPARE(f.request("POST", "/api/rpc", R"({"jsonrpc":"2.0","id":1,"method":"Engine.GetStatus"})",
                           {{"Cookie", s.cookie}, {"X-CSRF-Token", s.csrf}, {"Origin", "http://evil.example"}})
                     .status,
                 403);
    }

    void eachMethodIsCheckedAgainstTheRole_data()
    {
        QTest::addColumn<QString>("account");
        QTest::addColumn<QString>("method");
        QTest::addColumn<int>("error"); // 0: answered
        QTest::newRow("viewer reads") << "访客" << "Engine.GetStatus" << 0;
        QTest::newRow("viewer switches") << "访客" << "Mode.Set" << int(RpcCode::Forbidden);
        QTest::newRow("viewer emergency") << "访客" << "Emergency.Start" << int(RpcCode::Forbidden);
        QTest::newRow("duty switches") << "王老师" << "Mode.Set" << 0;
        QTest::newRow("never over the network") << "王老师" << "Window.Raise" << int(RpcCode::MethodNotFound);
    }
    void eachMethodIsCheckedAgainstTheRole()
    {
        QFETCH(QString, account);
        QFETCH(QString, method);
        QFETCH(int, error);
        Fixture f;
        const Answer a = f.rpcCall(f.session(account), method, {{"running", true}});
        QCOMPARE(a.status, 200);
        const QJsonObject e = a.json().value("error").toObject();
        QCOMPARE(e.value("code").toInt(), error);
        if (error == RpcCode::Forbidden)
            QCOMPARE(e.value("message").toString(), WebServer::kForbiddenText);
    }

    void largeBodiesAreRefused()
    {
        Fixture f;
        const Fixture::Session s = f.session("王老师");
        QByteArray justFits = R"({"jsonrpc":"2.0","id":1,"method":"Engine.GetStatus"})";
        justFits.append(QByteArray(WebServer::kMaxBody - justFits.size(), ' '));
        QCOMPARE(f.request("POST", "/api/rpc", justFits, {{"Cookie", s.cookie}, {"X-CSRF-Token", s.csrf}}).status, 200);
        for (const qsizetype size : {WebServer::kMaxBody + 1, qsizetype(10 * 1024 * 1024)}) {
            const QByteArray big(size, 'x');
            QCOMPARE(f.request("POST", "/api/login", big).status, 413);
        }
    }

    void fiveFailuresLockTheAccount()
    {
        Fixture f;
        for (int i = 0; i < LoginThrottle::kMaxFailures; ++i)
            QCOMPARE(f.login("王老师", "wrong password").status, 401);
        const Answer locked = f.login("王老师", kPassword);
        QCOMPARE(locked.status, 429);
        QCOMPARE(locked.json().value("error").toString(), LoginThrottle::lockedText());
        f.clock.advanceMs(qint64(LoginThrottle::kLockSeconds) * 1000 + 1000);
        // The address is locked too (five failures from it): it also passes.
        QCOMPARE(f.login("王老师", kPassword).status, 200);
    }

    void theWebSocketChecksOriginAndSession()
    {
        Fixture f;
        const Fixture::Session s = f.session("访客");
        const QUrl ws(QStringLiteral("ws://127.0.0.1:%1/api/ws").arg(f.server->port()));
        QWebSocket foreign("http://evil.example");
        QVERIFY(!webSocketStays(foreign, ws, s.cookie));
        QWebSocket noCookie(f.origin());
        QVERIFY(!webSocketStays(noCookie, ws, {}));
        QWebSocket otherPath(f.origin());
        QVERIFY(!webSocketStays(otherPath, QUrl(ws.toString().replace("/api/ws", "/elsewhere")), s.cookie));
        QWebSocket page(f.origin());
        QVERIFY(webSocketStays(page, ws, s.cookie));
        QCOMPARE(f.server->webSocketCount(), 1);

        // Requests and answers, and the engine's notifications pushed.
        QSignalSpy got(&page, &QWebSocket::textMessageReceived);
        page.sendTextMessage(R"({"jsonrpc":"2.0","id":7,"method":"Mode.Set","params":{"running":true}})");
        QVERIFY(got.wait(kWaitMs));
        const QJsonObject refused = QJsonDocument::fromJson(got.takeFirst().at(0).toString().toUtf8()).object();
        QCOMPARE(refused.value("id").toInt(), 7);
        QCOMPARE(refused.value("error").toObject().value("code").toInt(), int(RpcCode::Forbidden));
        f.rpc.notify("Bell.OnStatus", QJsonObject{{"id", 3}, {"status", "完成"}});
        QVERIFY(got.wait(kWaitMs));
        QCOMPARE(QJsonDocument::fromJson(got.takeFirst().at(0).toString().toUtf8()).object().value("method").toString(),
                 QString("Bell.OnStatus"));

        // Logout ends the session and closes its page's socket.
        QSignalSpy closed(&page, &QWebSocket::disconnected);
        QCOMPARE(f.request("POST", "/api/logout", {}, {{"Cookie", s.cookie}, {"X-CSRF-Token", s.csrf}}).status, 200);
        QVERIFY(closed.size() > 0 || closed.wait(kWaitMs));
        QCOMPARE(f.request("GET", "/api/session", {}, {{"Cookie", s.cookie}}).status, 401);
        QTRY_COMPARE(f.server->webSocketCount(), 0);
    }

    void anEmergencyNamesTheAccountAndAddress()
    {
        Fixture f;
        const Answer a = f.rpcCall(f.session("王老师"), "Emergency.Start", {{"by", "somebody else"}});
        QCOMPARE(a.status, 200);
        QCOMPARE(f.lastEmergency.toObject().value("by").toString(), QString("远程控制 王老师（127.0.0.1）"));
        // A bell now, too: the history names who rang it.
        QCOMPARE(f.rpcCall(f.session("王老师"), "Test.Play", {{"id", 1}, {"by", "somebody else"}}).status, 200);
        QCOMPARE(f.lastTest.toObject().value("by").toString(), QString("远程控制 王老师（127.0.0.1）"));
        QCOMPARE(f.lastTest.toObject().value("id").toInt(), 1);
    }

    void theHistoryIsReadAndDownloaded()
    {
        Fixture f;
        const Fixture::Session s = f.session("访客");
        const Answer rows = f.request("GET", "/api/history?date=2026-12-07", {}, {{"Cookie", s.cookie}});
        QCOMPARE(rows.status, 200);
        QCOMPARE(rows.json().value("rows").toArray().at(0).toObject().value("cells").toArray().at(1).toString(),
                 QString("上课"));
        QCOMPARE(f.request("GET", "/api/history?date=7.12.2026", {}, {{"Cookie", s.cookie}}).status, 400);
        const Answer csv = f.request("GET", "/api/history/export?date=2026-12-07&format=csv", {}, {{"Cookie", s.cookie}});
        QCOMPARE(csv.status, 200);
        QVERIFY(csv.body.startsWith("\xEF\xBB\xBF"));
        QVERIFY(csv.header("Content-Disposition").contains("attachment"));
        const Answer xls = f.request("GET", "/api/history/export?date=2026-12-07&format=xls", {}, {{"Cookie", s.cookie}});
        QVERIFY(xls.body.startsWith("\xD0\xCF\x11\xE0")); // the compound file's signature
    }
};

QTEST_MAIN(WebServerTest)
#include "tst_webserver.moc"
