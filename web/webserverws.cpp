// The page's WebSocket at /api/ws: checked right after the upgrade (Qt 6.4
// accepts every upgrade, whatever its path), then JSON-RPC text messages
// both ways, the engine's notifications pushed as they come.
#include "webserver.h"

#include "rpcserver.h"
#include "weblog.h"

#include <QNetworkRequest>
#include <QWebSocket>

namespace {
// A page sends small requests; anything larger is not ours.
constexpr qint64 kMaxMessage = WebServer::kMaxBody;
} // namespace

void WebServer::acceptWebSockets()
{
    while (hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = nextPendingWebSocketConnection();
        if (socket)
            admit(socket.release());
    }
}

void WebServer::admit(QWebSocket *socket)
{
    socket->setParent(this);
    const QNetworkRequest request = socket->request();
    const QString address = socket->peerAddress().toString();
    const auto refuse = [socket, &address](const char *why) {
        qCWarning(lcWeb).noquote() << "closed a WebSocket from" << address << ":" << why;
        // Once the upgrade has finished its turn of the event loop.
        QMetaObject::invokeMethod(socket, [socket, why] {
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated, QString::fromLatin1(why));
            socket->deleteLater();
        }, Qt::QueuedConnection);
    };
    if (request.url().path() != u"/api/ws")
        return refuse("not /api/ws");
    const QString origin = socket->origin();
    if (origin != expectedOrigin(request.rawHeader("Host")))
        return refuse("its Origin is not this host");
    const QString token = webhttp::cookie(request.rawHeader("Cookie"), kCookie);
    const std::optional<WebSession> session = token.isEmpty() ? std::nullopt : m_sessions.find(token);
    if (!session)
        return refuse("no session");
    socket->setMaxAllowedIncomingMessageSize(kMaxMessage);
    socket->setMaxAllowedIncomingFrameSize(kMaxMessage);
    const Client c{token, *session, address};
    const QPointer<QWebSocket> alive(socket);
    const auto sink = [alive](const QByteArray &line) {
        if (alive)
            alive->sendTextMessage(QString::fromUtf8(line.endsWith('\n') ? line.chopped(1) : line));
    };
    const quint64 subscription = m_services.rpc->subscribe(sink);
    m_sockets.insert(socket, Socket{c, subscription});
    qCInfo(lcWeb).noquote() << c.session.account << "connected the page from" << address;
    connect(socket, &QWebSocket::textMessageReceived, this, [this, socket, sink, alive](const QString &text) {
        const auto it = m_sockets.constFind(socket);
        if (it == m_sockets.cend())
            return;
        // Each message is a use of the session; one that has ended closes.
        const std::optional<WebSession> s = m_sessions.find(it->client.token);
        if (!s) {
            socket->close(QWebSocketProtocol::CloseCodeNormal, QStringLiteral("session ended"));
            return;
        }
        Client c = it->client;
        c.session = *s;
        call(c, text.toUtf8(), sink, [alive] { return !alive.isNull() && alive->isValid(); });
    });
    connect(socket, &QWebSocket::disconnected, this, [this, socket] {
        const auto it = m_sockets.find(socket);
        if (it == m_sockets.end())
            return;
        m_services.rpc->unsubscribe(it->subscription);
        qCDebug(lcWeb).noquote() << it->client.session.account << "left the page at" << it->client.address;
        m_sockets.erase(it);
        socket->deleteLater();
    });
}

void WebServer::checkWebSockets()
{
    QList<QWebSocket *> ended;
    for (auto it = m_sockets.cbegin(); it != m_sockets.cend(); ++it)
        if (!m_sessions.peek(it->client.token))
            ended << it.key();
    for (QWebSocket *socket : std::as_const(ended))
        socket->close(QWebSocketProtocol::CloseCodeNormal, QStringLiteral("session ended"));
}

void WebServer::closeWebSocketsOf(const QString &token)
{
    QList<QWebSocket *> ended;
    for (auto it = m_sockets.cbegin(); it != m_sockets.cend(); ++it)
        if (it->client.token == token)
            ended << it.key();
    for (QWebSocket *socket : std::as_const(ended))
        socket->close(QWebSocketProtocol::CloseCodeNormal, QStringLiteral("logged out"));
}
