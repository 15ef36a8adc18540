#pragma once
// A client of the engine's JSON-RPC channel (rpcserver.h): calls with a
// callback, or blocking with a time limit for command-line use, and the
// server's notifications as a signal. Answers may come in any order and in
// any pieces; each callback runs once, on this object's thread, also when
// the connection ends first (with RpcCode::NotConnected).
#include "rpcmessage.h"

#include <QHash>
#include <QObject>
#include <functional>
#include <optional>

class QLocalSocket;

class RpcClient : public QObject {
    Q_OBJECT
public:
    using Callback = std::function<void(const RpcResult &)>;

    explicit RpcClient(QObject *parent = nullptr);
    ~RpcClient() override;

    // Requests made before the connection is up are sent once it is.
    void connectToServer(const QString &path);
    bool waitForConnected(int timeoutMs);
    bool isConnected() const;
    void disconnectFromServer();

    // params: an object, an array or null (none). done may be empty: the
    // answer is then read and dropped.
    void call(const QString &method, const QJsonValue &params, Callback done);
    // Waits for the answer without an event loop; other answers and
    // notifications that arrive meanwhile are delivered as usual.
    RpcResult callSync(const QString &method, const QJsonValue &params, int timeoutMs);
    // A notification to the server: it never answers.
    void notifyServer(const QString &method, const QJsonValue &params = QJsonValue());

    // The longest line taken from the server: more closes the connection.
    static constexpr qsizetype kMaxLine = 64 * 1024 * 1024;

signals:
    void connected();
    void disconnected();
    void notification(const QString &method, const QJsonValue &params);

private:
    qint64 request(const QString &method, const QJsonValue &params, Callback done);
    void send(const QByteArray &line);
    void readLines();
    void failPending();

    QLocalSocket *m_socket;
    RpcLineReader m_reader{kMaxLine};
    QByteArray m_outbox; // lines written while connecting
    QHash<qint64, Callback> m_pending;
    qint64 m_nextId = 1;
    // Why the server closes this connection, when it says so (too many).
    std::optional<RpcError> m_refusal;
};

// One call on a connection of its own, blocking: for the command line.
RpcResult rpcCall(const QString &path, const QString &method, const QJsonValue &params = QJsonValue(),
                  int timeoutMs = 2000);
