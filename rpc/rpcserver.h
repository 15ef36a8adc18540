#pragma once
// The engine's JSON-RPC 2.0 server on the user's local socket (framing and
// error codes: rpcmessage.h). Methods are named "Group.Method", the
// notifications it sends "Group.OnEvent". A batch (a JSON array) is refused
// with -32600: every client sends one request per line.
//
// Who may connect: the socket file is made 0600 in a folder private to this
// user, and each connection's peer (SO_PEERCRED) must be this user or root;
// others are closed with a log line. At most Bounds::maxPerUser connections
// per user; one more is told -32000 and closed. What waits for clients that
// do not read is bounded per client and for all together (rpcconnection.h).
// Each client's lines are read in order; a client that is slow, silent or
// gone never holds up another: nothing here blocks.
//
// Other transports (the remote control's WebSocket and HTTP) reach the
// same methods through handleLine() and subscribe(): their caller is
// checked per method, and answers and notifications go to a sink of
// theirs. The socket's own clients are not affected by them.
//
// It lives on one thread: call it, and send replies, on that thread.
//
// It never stops listening while it lives: if its socket file is removed or
// replaced, or Qt closes the listener after a failed accept (out of file
// descriptors), it listens again at once, and retries while that fails.
// A path where another live server answers is left to it (and retried).
#include "rpcmessage.h"
#include "rpcreply.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <functional>
#include <optional>
#include <sys/types.h>

class QFileSystemWatcher;
class QLocalServer;
class QTimer;
class RpcConnection;

// Where the lines for a caller of another transport go (answers or
// notifications, each ended by '\n').
using RpcSink = std::function<void(const QByteArray &line)>;

// Who sends a line through handleLine(): a label for the log and the check
// of each method it calls (nullopt: allowed; else the error it is told).
struct RpcCaller {
    QString label;
    std::function<std::optional<RpcError>(const QString &method)> check;
    // Whether the caller is still there to take a late answer; unset: yes.
    std::function<bool()> present;
};

class RpcServer : public QObject {
    Q_OBJECT
public:
    // Answers now: a result or an RpcError.
    using Handler = std::function<RpcResult(const QJsonValue &params)>;
    // Answers later through reply (see rpcreply.h).
    using AsyncHandler = std::function<void(const QJsonValue &params, RpcReply reply)>;

    struct Bounds {
        qsizetype maxLine = 1024 * 1024;       // a longer request line closes its connection
        qint64 maxUnsent = 4 * 1024 * 1024;    // per client, before notifications are dropped
        qint64 maxUnsentTotal = 64 * 1024 * 1024; // all clients: past it, those behind get none
        int maxPerUser = 256;                  // open connections per peer uid
    };

    explicit RpcServer(QObject *parent = nullptr);
    ~RpcServer() override;

    void setBounds(const Bounds &bounds) { m_bounds = bounds; }
    const Bounds &bounds() const { return m_bounds; }

    // Listens at path, whose folder must be private to this user. Refuses a
    // path where another server answers; removes a dead socket file left
    // there. Raises the open files limit the first time.
    bool listen(const QString &path);
    bool isListening() const;
    QString path() const { return m_path; }
    // Stops listening (removes the socket file) and closes every connection.
    void close();

    void registerMethod(const QString &name, Handler handler);
    void registerAsyncMethod(const QString &name, AsyncHandler handler);
    // Sends a notification to every connected client.
    void notify(const QString &method, const QJsonValue &params = QJsonValue());

    // One line of a caller of another transport, answered through sink
    // (now or later; never for a notification). A method the caller may not
    // call is answered with check's error and not run.
    void handleLine(const QByteArray &line, const RpcCaller &caller, RpcSink sink);
    // Every notification from now on goes to sink too, until unsubscribe().
    quint64 subscribe(RpcSink sink);
    void unsubscribe(quint64 subscription);

    int connectionCount() const { return int(m_connections.size()); }
    // Notifications not sent to clients that did not read, since the start.
    qint64 droppedNotifications() const;
    // Bytes written but not yet taken by the clients, all together.
    qint64 unsentBytes() const { return m_unsentTotal; }

    // The version of this protocol, answered by "Server.GetRPCVersion".
    static QJsonObject rpcVersion();

private:
    friend class RpcConnection;
    void dispatch(RpcConnection *connection, const RpcMessage &message);
    void run(const RpcReply &reply, const RpcMessage &message, const QString &label);
    void admit(int fd);
    void forget(RpcConnection *connection);
    // rpclisten.cpp: the listening socket and its upkeep.
    bool openListener();
    void checkListener();
    void scheduleRetry();

    Bounds m_bounds;
    QString m_path;
    QLocalServer *m_listener = nullptr;
    QFileSystemWatcher *m_watcher = nullptr;
    QTimer *m_retry = nullptr;
    quint64 m_inode = 0;        // the socket file made by this listener
    bool m_retrying = false;    // an episode of failed re-listens, logged once
    QHash<QString, AsyncHandler> m_methods;
    QHash<RpcConnection *, uid_t> m_connections;
    QHash<uid_t, int> m_perUser;
    QHash<uid_t, qint64> m_refused; // this episode's refusals per uid over the bound
    QSet<int> m_refusedOpen;        // refused descriptors, closed a moment later
    quint64 m_serial = 0;
    QHash<quint64, RpcSink> m_subscribers;
    quint64 m_subscriberSerial = 0;
    qint64 m_droppedByGone = 0; // dropped to clients that have left since
    qint64 m_unsentTotal = 0;   // kept by the connections as they write and the clients read
};
