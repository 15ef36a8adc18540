#include "rpcconnection.h"
#include "rpclog.h"
#include "rpcserver.h"

#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {
// Read per turn of the event loop, so that one client's flood holds up the
// others for a moment only.
constexpr qsizetype kReadChunk = 64 * 1024;
} // namespace

RpcConnection::RpcConnection(int fd, const RpcPeer &peer, quint64 serial, RpcServer *server)
    : QObject(server), m_fd(fd), m_server(server), m_peer(peer), m_serial(serial),
      m_readNotifier(new QSocketNotifier(fd, QSocketNotifier::Read, this)),
      m_writeNotifier(new QSocketNotifier(fd, QSocketNotifier::Write, this)),
      m_reader(server->bounds().maxLine)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    m_writeNotifier->setEnabled(false);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &RpcConnection::readable);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &RpcConnection::writable);
}

RpcConnection::~RpcConnection()
{
    if (m_fd < 0)
        return;
    delete m_readNotifier;
    delete m_writeNotifier;
    ::close(m_fd);
}

QString RpcConnection::label() const
{
    return QStringLiteral("client %1 (uid %2, pid %3)").arg(m_serial).arg(m_peer.uid).arg(m_peer.pid);
}

void RpcConnection::readable()
{
    QByteArray chunk(kReadChunk, Qt::Uninitialized);
    const ssize_t n = ::recv(m_fd, chunk.data(), size_t(chunk.size()), 0);
    if (n < 0) {
        if (errno == EAGAIN || errno == EINTR)
            return;
        qCDebug(lcRpc).noquote() << label() << "read failed:" << ::strerror(errno);
        close();
        return;
    }
    if (n == 0) {
        // It has finished writing; it may still read.
        m_readClosed = true;
        m_readNotifier->setEnabled(false);
    } else {
        chunk.truncate(n);
        m_reader.append(chunk);
    }
    readLines();
}

void RpcConnection::readLines()
{
    const QPointer<RpcConnection> alive(this);
    QByteArray line;
    while (!m_paused && isOpen()) {
        // The last line of a client that has finished may lack its end.
        if (!m_reader.takeLine(&line) && (!m_readClosed || !m_reader.takeRest(&line)))
            break;
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
        if (!alive)
            return;
    }
    if (isOpen() && m_reader.overflowed()) {
        qCWarning(lcRpc).noquote() << label() << "sent a line over" << m_server->bounds().maxLine
                                   << "bytes; its connection is closed";
        close();
        return;
    }
    finishIfDone();
}

void RpcConnection::answerRequest(const QJsonValue &id, const RpcResult &result)
{
    if (m_openRequests > 0)
        --m_openRequests;
    answer(id, result);
    finishIfDone();
}

void RpcConnection::answer(const QJsonValue &id, const RpcResult &result)
{
    if (!isOpen())
        return;
    write(rpcResponseLine(id, result));
    if (isOpen() && !m_paused && unsent() > m_server->bounds().maxUnsent) {
        // It sends requests but does not read the answers: read no more of
        // them until it does.
        m_paused = true;
        m_readNotifier->setEnabled(false);
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
    if (unsent() == 0) {
        m_out.clear();
        m_outStart = 0;
    }
    m_out.append(line);
    m_server->m_unsentTotal += line.size();
    writable(); // at once: most lines fit in the kernel's buffer
}

void RpcConnection::writable()
{
    qint64 sent = 0;
    while (unsent() > 0) {
        const ssize_t n = ::send(m_fd, m_out.constData() + m_outStart, size_t(unsent()),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            m_outStart += n;
            sent += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            break;
        } else {
            qCDebug(lcRpc).noquote() << label() << "has gone:" << ::strerror(errno);
            m_server->m_unsentTotal -= sent;
            close();
            return;
        }
    }
    if (m_outStart > 0 && m_outStart >= m_out.size() / 2) {
        m_out.remove(0, m_outStart);
        m_outStart = 0;
    }
    m_writeNotifier->setEnabled(unsent() > 0);
    if (sent > 0)
        taken(sent);
}

void RpcConnection::taken(qint64 bytes)
{
    m_server->m_unsentTotal -= bytes;
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
        m_readNotifier->setEnabled(!m_readClosed);
        QMetaObject::invokeMethod(this, &RpcConnection::readLines, Qt::QueuedConnection);
    }
    finishIfDone();
}

void RpcConnection::finishIfDone()
{
    // A client that has finished writing is closed once it has every answer.
    if (isOpen() && m_readClosed && !m_paused && m_openRequests == 0 && unsent() == 0
        && m_reader.buffered() == 0)
        close();
}

void RpcConnection::close()
{
    if (m_fd < 0)
        return;
    // Possibly inside one of their signals: disabled now, deleted later.
    for (QSocketNotifier *n : {std::exchange(m_readNotifier, nullptr),
                               std::exchange(m_writeNotifier, nullptr)}) {
        n->setEnabled(false);
        n->deleteLater();
    }
    ::close(std::exchange(m_fd, -1));
    m_server->m_unsentTotal -= unsent();
    m_out.clear();
    m_outStart = 0;
    emit closed();
}
