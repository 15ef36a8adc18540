#pragma once
// The server's side of one client: reads its lines, writes its answers and
// the notifications, and keeps what waits to be sent within a bound.
// A client that does not read is not buffered for without limit: past its
// bound (or, while it has not taken its last one, past the bound of all
// clients together) its notifications are dropped, counted and logged once
// until it has caught up; and its further requests are not read until it
// has taken most of its answers, so those pile up no further. Internal to
// the server.
#include "rpcmessage.h"
#include "rpcpeer.h"
#include "rpcreply.h"

#include <QObject>
#include <QPointer>

class QLocalSocket;
class RpcServer;

class RpcConnection : public QObject {
    Q_OBJECT
public:
    RpcConnection(QLocalSocket *socket, const RpcPeer &peer, quint64 serial, RpcServer *server);

    void answer(const QJsonValue &id, const RpcResult &result);
    void sendNotification(const QByteArray &line);
    bool isOpen() const;
    qint64 unsent() const;
    qint64 dropped() const { return m_droppedTotal; }
    // Bytes written and counted in the server's total, not yet taken.
    qint64 accounted() const { return m_accounted; }
    const RpcPeer &peer() const { return m_peer; }
    // "client 7 (uid 1000, pid 4242)", for the log.
    QString label() const;

private:
    void readLines();
    void write(const QByteArray &line);
    void written(qint64 bytes);

    QLocalSocket *m_socket;
    RpcServer *m_server;
    RpcPeer m_peer;
    quint64 m_serial;
    RpcLineReader m_reader;
    bool m_paused = false;
    bool m_pauseLogged = false; // until it has taken everything
    qint64 m_droppedEpisode = 0;
    qint64 m_droppedTotal = 0;
    qint64 m_accounted = 0;
};

// What a reply shares with its copies.
struct RpcReply::State {
    QPointer<RpcConnection> connection;
    QJsonValue id;
    QString method;
    bool expectsAnswer = false;
    bool answered = false;
    // Unanswered: answers an internal error (logged).
    ~State();
};
