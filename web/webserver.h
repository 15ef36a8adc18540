#pragma once
// The remote control's HTTP(S) server, in the engine's own event loop (no
// thread per client): the page (compiled in, page.qrc), and the engine's
// JSON-RPC methods for accounts of the remote control:
//
//   GET  /                      the page, its script and style
//   GET  /api/session           the session's account, role and CSRF token (401 without one)
//   POST /api/login             {"name","password"} → {"csrf","account","role"} and the cookie
//   POST /api/logout            ends the session
//   POST /api/rpc               one JSON-RPC request, its answer
//   GET  /api/ws                WebSocket: JSON-RPC lines both ways, notifications pushed
//   GET  /api/history?date=     one day's ring history as rows
//   GET  /api/history/export?date=&format=xls|csv   the same as a download
//
// Every /api/ request but login needs the session's cookie; every POST also
// its X-CSRF-Token, and an Origin, when sent, that names this host. The
// WebSocket's upgrade is checked for the cookie and the Origin right after
// it (Qt 6.4 accepts every upgrade) and closed when either is wrong. Each
// method is checked against the account's role (webroles.h): -32003 无权限
// above it. Bodies over kMaxBody are refused (413). What the page changes
// is logged (daling.web), and an emergency started from it names the
// account and the address in the history.
#include "loginthrottle.h"
#include "remotesettings.h"
#include "ringhistory.h"
#include "websessions.h"

#include <QAbstractHttpServer>
#include <QHash>
#include <QPointer>
#include <functional>

class QTimer;
class QWebSocket;
class RpcServer;
class WebAccounts;

class WebServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    static constexpr qsizetype kMaxBody = 64 * 1024;
    static inline const QByteArray kCookie = QByteArrayLiteral("daling_session");
    static inline const QString kForbiddenText = QStringLiteral("无权限");
    static inline const QString kLoginFailedText = QStringLiteral("账号或口令不对。");

    struct Services {
        RpcServer *rpc = nullptr;
        WebAccounts *accounts = nullptr;
        const Clock *clock = nullptr;
        // One day's records; throws StoreError when the store cannot be read.
        std::function<QList<RingRecord>(const QDate &)> history;
    };

    explicit WebServer(Services services, QObject *parent = nullptr);
    ~WebServer() override;

    // Listens as the settings say (HTTPS with their certificate and key);
    // an empty text when it listens, else why not (logged).
    QString start(const RemoteSettings &settings);
    quint16 port() const { return m_port; }
    bool https() const { return m_https; }

    WebSessions &sessions() { return m_sessions; }
    LoginThrottle &throttle() { return m_throttle; }
    int webSocketCount() const { return int(m_sockets.size()); }

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    struct Client {
        QString token;
        WebSession session;
        QString address;
    };
    // webserverapi.cpp
    void login(const QHttpServerRequest &request, QTcpSocket *socket);
    void logout(const QHttpServerRequest &request, QTcpSocket *socket, const Client &client);
    void rpc(const QHttpServerRequest &request, QTcpSocket *socket, const Client &client);
    void history(const QHttpServerRequest &request, QTcpSocket *socket, bool download);
    // webserverws.cpp
    void acceptWebSockets();
    void admit(QWebSocket *socket);
    void checkWebSockets();
    void closeWebSocketsOf(const QString &token);
    // One JSON-RPC line of a client; answers through sink. Adds who sent an
    // emergency, logs what changes.
    void call(const Client &client, QByteArray line, std::function<void(const QByteArray &)> sink,
              std::function<bool()> present);

    std::optional<Client> client(const QHttpServerRequest &request, bool use);
    QString expectedOrigin(const QByteArray &host) const;
    QByteArray cookieHeader(const QString &token, bool clear) const;

    Services m_services;
    WebSessions m_sessions;
    LoginThrottle m_throttle;
    quint16 m_port = 0;
    bool m_https = false;
    struct Socket {
        Client client;
        quint64 subscription = 0;
    };
    QHash<QWebSocket *, Socket> m_sockets;
    QTimer *m_sweep = nullptr;
};

// Helpers of the server's files.
namespace webhttp {
QByteArray header(const QHttpServerRequest &request, const QByteArray &name);
QString cookie(const QByteArray &cookieHeader, const QByteArray &name);
}
