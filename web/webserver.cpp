// The server's routing, its answers and what every request is checked for.
#include "webserver.h"

#include "rpcserver.h"
#include "webaccounts.h"
#include "weblog.h"
#include "webreply.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace webhttp {

QByteArray header(const QHttpServerRequest &request, const QByteArray &name)
{
    for (const auto &[key, value] : request.headers())
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

QString cookie(const QByteArray &cookieHeader, const QByteArray &name)
{
    for (const QByteArray &part : cookieHeader.split(';')) {
        const QByteArray p = part.trimmed();
        if (p.startsWith(name + '='))
            return QString::fromLatin1(p.mid(name.size() + 1));
    }
    return {};
}

} // namespace webhttp

namespace {

struct StaticFile {
    const char *path;
    const char *resource;
    const char *type;
};
constexpr StaticFile kFiles[] = {
    {"/", ":/web/index.html", "text/html; charset=utf-8"},
    {"/index.html", ":/web/index.html", "text/html; charset=utf-8"},
    {"/app.js", ":/web/app.js", "text/javascript; charset=utf-8"},
    {"/style.css", ":/web/style.css", "text/css; charset=utf-8"},
};

} // namespace

WebServer::WebServer(Services services, QObject *parent)
    : QAbstractHttpServer(parent), m_services(std::move(services)), m_sessions(*m_services.clock),
      m_throttle(*m_services.clock), m_sweep(new QTimer(this))
{
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &WebServer::acceptWebSockets);
    // Sessions that went idle close their pages' sockets.
    m_sweep->setInterval(30'000);
    connect(m_sweep, &QTimer::timeout, this, &WebServer::checkWebSockets);
    m_sweep->start();
}

WebServer::~WebServer()
{
    for (auto it = m_sockets.cbegin(); it != m_sockets.cend(); ++it)
        m_services.rpc->unsubscribe(it->subscription);
}

QString WebServer::start(const RemoteSettings &settings)
{
    m_https = settings.https();
    if (m_https) {
        QFile certFile(settings.certificate);
        QFile keyFile(settings.key);
        if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly))
            return QStringLiteral("无法读取证书或密钥文件。");
        const QList<QSslCertificate> chain = QSslCertificate::fromDevice(&certFile, QSsl::Pem);
        const QByteArray pem = keyFile.readAll();
        QSslKey key(pem, QSsl::Rsa, QSsl::Pem);
        if (key.isNull())
            key = QSslKey(pem, QSsl::Ec, QSsl::Pem);
        if (chain.isEmpty() || key.isNull())
            return QStringLiteral("证书或密钥文件不是有效的 PEM 文件。");
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        ssl.setLocalCertificateChain(chain);
        ssl.setPrivateKey(key);
        sslSetup(ssl);
    }
    const QHostAddress address = settings.address.isEmpty() ? QHostAddress(QHostAddress::Any)
                                                             : QHostAddress(settings.address);
    m_port = listen(address, quint16(settings.port));
    if (m_port == 0) {
        const QString why = QStringLiteral("远程控制无法在 %1 端口 %2 上监听。")
                                .arg(settings.address.isEmpty() ? QStringLiteral("所有地址") : settings.address)
                                .arg(settings.port);
        qCWarning(lcWeb).noquote() << why;
        return why;
    }
    qCInfo(lcWeb).noquote() << "remote control listening on" << address.toString() << "port" << m_port
                            << (m_https ? "(HTTPS)" : "(plain HTTP)");
    if (!m_https)
        qCWarning(lcWeb).noquote() << RemoteSettings::plainHttpWarning();
    return {};
}

QString WebServer::expectedOrigin(const QByteArray &host) const
{
    return (m_https ? QStringLiteral("https://") : QStringLiteral("http://")) + QString::fromLatin1(host);
}

QByteArray WebServer::cookieHeader(const QString &token, bool clear) const
{
    QByteArray c = kCookie + '=' + (clear ? QByteArray() : token.toLatin1())
        + "; Path=/; HttpOnly; SameSite=Strict";
    if (clear)
        c += "; Max-Age=0";
    if (m_https)
        c += "; Secure";
    return c;
}

std::optional<WebServer::Client> WebServer::client(const QHttpServerRequest &request, bool use)
{
    const QString token = webhttp::cookie(webhttp::header(request, "Cookie"), kCookie);
    if (token.isEmpty())
        return std::nullopt;
    const std::optional<WebSession> s = use ? m_sessions.find(token) : m_sessions.peek(token);
    if (!s)
        return std::nullopt;
    return Client{token, *s, request.remoteAddress().toString()};
}

bool WebServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    // Qt 6.4 hands every upgrade to its WebSocket server after this, and
    // answers it there; admit() checks it then.
    if (webhttp::header(request, "Upgrade").compare("websocket", Qt::CaseInsensitive) == 0)
        return true;
    const QString path = request.url().path();
    const bool post = request.method() == QHttpServerRequest::Method::Post;
    const bool get = request.method() == QHttpServerRequest::Method::Get
        || request.method() == QHttpServerRequest::Method::Head;
    if (request.body().size() > kMaxBody
        || webhttp::header(request, "Content-Length").toLongLong() > kMaxBody) {
        qCWarning(lcWeb).noquote() << "refused a body of" << request.body().size() << "bytes from"
                                   << request.remoteAddress().toString();
        webreply::error(socket, 413, QStringLiteral("请求太大。"), true);
        return true;
    }
    if (!path.startsWith(u"/api/")) {
        for (const StaticFile &f : kFiles) {
            if (get && path == QLatin1String(f.path)) {
                QFile file(QString::fromLatin1(f.resource));
                file.open(QIODevice::ReadOnly);
                webreply::send(socket, 200, f.type, file.readAll());
                return true;
            }
        }
        webreply::error(socket, 404, QStringLiteral("没有这个页面。"));
        return true;
    }
    // Sent by browsers with every POST and WebSocket: a page of another
    // site never passes.
    if (const QByteArray origin = webhttp::header(request, "Origin");
        post && !origin.isEmpty() && QString::fromLatin1(origin) != expectedOrigin(webhttp::header(request, "Host"))) {
        qCWarning(lcWeb).noquote() << "refused a request from origin" << origin.left(200) << "at"
                                   << request.remoteAddress().toString();
        webreply::error(socket, 403, QStringLiteral("请求来自别的网站，已拒绝。"));
        return true;
    }
    if (post && path == u"/api/login") {
        login(request, socket);
        return true;
    }
    const std::optional<Client> c = client(request, true);
    if (!c) {
        webreply::error(socket, 401, QStringLiteral("请先登录。"));
        return true;
    }
    if (post && !WebSessions::csrfMatches(c->session, QString::fromLatin1(webhttp::header(request, "X-CSRF-Token")))) {
        qCWarning(lcWeb).noquote() << c->session.account << "at" << c->address << "sent" << path
                                   << "without its CSRF token; refused";
        webreply::error(socket, 403, QStringLiteral("页面已过期，请刷新后再试。"));
        return true;
    }
    if (get && path == u"/api/session") {
        webreply::json(socket, 200,
                       QJsonObject{{QStringLiteral("account"), c->session.account},
                                   {QStringLiteral("role"), webroles::text(c->session.role)},
                                   {QStringLiteral("csrf"), c->session.csrf}});
    } else if (post && path == u"/api/logout") {
        logout(request, socket, *c);
    } else if (post && path == u"/api/rpc") {
        rpc(request, socket, *c);
    } else if (get && path == u"/api/history") {
        history(request, socket, false);
    } else if (get && path == u"/api/history/export") {
        history(request, socket, true);
    } else {
        webreply::error(socket, 404, QStringLiteral("没有这个接口。"));
    }
    return true;
}

void WebServer::missingHandler(const QHttpServerRequest &, QTcpSocket *socket)
{
    webreply::error(socket, 404, QStringLiteral("没有这个页面。"));
}
