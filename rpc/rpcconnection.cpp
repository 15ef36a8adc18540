#include "rpcconnection.h"
#include "rpclog.h"
#include "rpcserver.h"

#include <QLocalSocket>
#include <QPointer>
#include <utility>

namespace {
// What Qt reads ahead of us per client: a client whose reading is paused
// fills this, then the kernel's buffer, then waits.
constexpr qint64 kReadAhead = 64 * 1024;
} // namespace

RpcReply::State::~State()
{
    if (answered || !expectsAnswer)
        return;
    qCWarning(lcRpc).noquote() << "method" << method << "ended without answering; answered"
                               << RpcCode::InternalError;
    if (connection)
        connection->answer(id, RpcError::internalError(QStringLiteral("命令没有给出回答")));
}

void RpcReply::send(const RpcResult &result) const
{
    if (m_state->answered) {
        qCWarning(lcRpc).noquote() << "method" << m_state->method
                                   << "answered twice; the second answer is ignored";
        return;
    }
    m_state->answered = true;
    if (m_state->expectsAnswer && m_state->connection)
        m_state->connection->answer(m_state->id, result);
}

bool RpcReply::answered() const
{
    return m_state->answered;
}

bool RpcReply::clientGone() const
{
    return !m_state->connection || !m_state->connection->isOpen();
}

RpcConnection::RpcConnection(QLocalSocket *socket, const RpcPeer &peer, quint64 serial,
                             RpcServer *server)
    : QObject(server), m_socket(socket), m_server(server), m_peer(peer), m_serial(serial),
      m_reader(server->bounds().maxLine)
{
    // The listener may be replaced while clients stay connected.
    socket->setParent(this);
    socket->setReadBufferSize(kReadAhead);
    connect(socket, &QLocalSocket::readyRead, this, &RpcConnection::readLines);
    connect(socket, &QLocalSocket::bytesWritten, this, &RpcConnection::written);
    if (socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &RpcConnection::readLines, Qt::QueuedConnection);
}

QString RpcConnection::label() const
{
    return QStringLiteral("client %1 (uid %2, pid %3)").arg(m_serial).arg(m_peer.uid).arg(m_peer.pid);
}

bool RpcConnection::isOpen() const
{
    return m_socket->state() == QLocalSocket::ConnectedState;
}

qint64 RpcConnection::unsent() const
{
    return m_socket->bytesToWrite();
}

void RpcConnection::readLines()
{
    if (m_paused || !isOpen())
        return;
    const QPointer<RpcConnection> alive(this);
    m_reader.append(m_socket->readAll());
    QByteArray line;
    while (!m_paused && m_reader.takeLine(&line)) {
        const RpcMessage message = rpcParseLine(line);
        switch (message.kind) {
        case RpcMessage::Kind::Empty:
            break;
        case RpcMessage::Kind::Invalid:
            answer(message.id, message.problem);
            break;
        case RpcMessage::Kind::Response:
            qCInfo(lcRpc).noquote() << label() << "sent an answer; the server asks nothing";
            break;
        case RpcMessage::Kind::Request:
        case RpcMessage::Kind::Notification:
            m_server->dispatch(this, message);
            break;
        }
        if (!alive || !isOpen())
            return;
    }
    if (m_reader.overflowed()) {
        qCWarning(lcRpc).noquote() << label() << "sent a line over" << m_server->bounds().maxLine
                                   << "bytes; its connection is closed";
        m_socket->abort();
    }
}

void RpcConnection::answer(const QJsonValue &id, const RpcResult &result)
{
    if (!isOpen())
        return;
    write(rpcResponseLine(id, result));
    if (!m_paused && unsent() > m_server->bounds().maxUnsent) {
        // It sends requests but does not read the answers: read no more of
        // them until it does.
        m_paused = true;
        if (!std::exchange(m_pauseLogged, true))
            qCInfo(lcRpc).noquote() << label() << "does not read its answers;" << unsent()
                                << "bytes wait; its requests wait until it reads";
    }
}

void RpcConnection::sendNotification(const QByteArray &line)
{
    if (!isOpen())
        return;
    const RpcServer::Bounds &bounds = m_server->bounds();
    const qint64 mine = unsent();
    if (mine + line.size() > bounds.maxUnsent
        || (mine > 0 && m_server->unsentBytes() + line.size() > bounds.maxUnsentTotal)) {
        if (m_droppedEpisode++ == 0)
            qCWarning(lcRpc).noquote() << label() << "does not read;" << mine << "bytes wait for it,"
                                       << m_server->unsentBytes() << "for all clients; notifications"
                                       << "to it are dropped until it has read them";
        ++m_droppedTotal;
        return;
    }
    write(line);
}

void RpcConnection::write(const QByteArray &line)
{
    m_socket->write(line);
    m_accounted += line.size();
    m_server->m_unsentTotal += line.size();
}

void RpcConnection::written(qint64 bytes)
{
    const qint64 taken = qMin(bytes, m_accounted);
    m_accounted -= taken;
    m_server->m_unsentTotal -= taken;
    if (unsent() == 0) {
        m_pauseLogged = false;
        if (m_droppedEpisode > 0) {
            qCInfo(lcRpc).noquote() << label() << "has caught up;" << m_droppedEpisode
                                    << "notifications to it were dropped";
            m_droppedEpisode = 0;
        }
    }
    // Resume with room to spare, not at every block the client takes.
    if (m_paused && unsent() <= m_server->bounds().maxUnsent / 2) {
        m_paused = false;
        QMetaObject::invokeMethod(this, &RpcConnection::readLines, Qt::QueuedConnection);
    }
}
