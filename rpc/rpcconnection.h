#pragma once
// The server's side of one client, on the connection's descriptor itself:
// reads its lines, writes its answers and the notifications, and keeps what
// waits to be sent within a bound.
//
// Not a QLocalSocket: that closes the whole connection when the client has
// finished writing, so `echo '{…}' | socat - UNIX-CONNECT:…` would never
// see its answer. Here a client that shuts down its writing side still gets
// the answers to every request it sent (also those answered later); then
// the connection is closed.
//
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
#include <functional>

class QSocketNotifier;
class RpcServer;

class RpcConnection : public QObject {
    Q_OBJECT
public:
    // Takes the connected descriptor and closes it when done.
    RpcConnection(int fd, const RpcPeer &peer, quint64 serial, RpcServer *server);
    ~RpcConnection() override;

    // The answer to a request the server counted as open (see dispatch()).
    void answerRequest(const QJsonValue &id, const RpcResult &result);
    void requestOpened() { ++m_openRequests; }
    void sendNotification(const QByteArray &line);
    bool isOpen() const { return m_fd >= 0; }
    qint64 unsent() const { return m_out.size() - m_outStart; }
    qint64 dropped() const { return m_droppedTotal; }
    const RpcPeer &peer() const { return m_peer; }
    // "client 7 (uid 1000, pid 4242)", for the log.
    QString label() const;
    // Ends the connection now (also from inside one of its own handlers).
    void close();

signals:
    // The connection has ended; the object is deleted later.
    void closed();

private:
    void readable();
    void readLines();
    void answer(const QJsonValue &id, const RpcResult &result);
    void write(const QByteArray &line);
    void writable();
    void taken(qint64 bytes);
    void finishIfDone();

    int m_fd;
    RpcServer *m_server;
    RpcPeer m_peer;
    quint64 m_serial;
    QSocketNotifier *m_readNotifier;
    QSocketNotifier *m_writeNotifier;
    RpcLineReader m_reader;
    QByteArray m_out;
    qsizetype m_outStart = 0;     // sent bytes at the front of m_out
    bool m_paused = false;        // its requests wait until it reads its answers
    bool m_pauseLogged = false;   // until it has taken everything
    bool m_readClosed = false;    // it has finished writing
    int m_openRequests = 0;       // requests read and not yet answered
    qint64 m_droppedEpisode = 0;
    qint64 m_droppedTotal = 0;
};

// What a reply shares with its copies.
struct RpcReply::State {
    QPointer<RpcConnection> connection;
    // A caller of another transport (RpcServer::handleLine) instead.
    std::function<void(const QByteArray &line)> sink;
    std::function<bool()> present;
    QJsonValue id;
    QString method;
    bool expectsAnswer = false;
    bool answered = false;
    // Unanswered: answers an internal error (logged).
    ~State();
};
