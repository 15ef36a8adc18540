#include "rpcserver.h"
#include "rpcconnection.h"
#include "rpclog.h"
#include "rpcpeer.h"

#include <QFileSystemWatcher>
#include <QLocalServer>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <exception>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// How long a connection refused over the bound stays open for its client to
// read why.
constexpr int kRefusedCloseMs = 500;
} // namespace

RpcServer::RpcServer(QObject *parent)
    : QObject(parent), m_watcher(new QFileSystemWatcher(this)), m_retry(new QTimer(this))
{
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &RpcServer::checkListener);
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, &RpcServer::checkListener);
    registerMethod(QStringLiteral("Server.GetRPCVersion"),
                   [](const QJsonValue &) { return rpcVersion(); });
}

RpcServer::~RpcServer()
{
    close();
}

QJsonObject RpcServer::rpcVersion()
{
    return {{QLatin1String("major"), 1}, {QLatin1String("minor"), 0}, {QLatin1String("patch"), 0}};
}

void RpcServer::close()
{
    m_retry->stop();
    m_retrying = false;
    m_path.clear();
    if (!m_watcher->files().isEmpty())
        m_watcher->removePaths(m_watcher->files());
    delete m_listener; // removes the socket file
    m_listener = nullptr;
    const QList<RpcConnection *> open = m_connections.keys();
    m_connections.clear();
    m_perUser.clear();
    // Deleted later: close() may be called by a method, inside one of them.
    for (RpcConnection *connection : open) {
        connection->disconnect(this);
        connection->close();
        connection->deleteLater();
    }
    for (const int fd : std::as_const(m_refusedOpen))
        ::close(fd);
    m_refusedOpen.clear();
    m_unsentTotal = 0;
}

void RpcServer::registerMethod(const QString &name, Handler handler)
{
    m_methods.insert(name, [handler = std::move(handler)](const QJsonValue &params, RpcReply reply) {
        reply.send(handler(params));
    });
}

void RpcServer::registerAsyncMethod(const QString &name, AsyncHandler handler)
{
    m_methods.insert(name, std::move(handler));
}

void RpcServer::notify(const QString &method, const QJsonValue &params)
{
    if (m_connections.isEmpty() && m_subscribers.isEmpty())
        return;
    const QByteArray line = rpcNotificationLine(method, params);
    for (auto it = m_connections.cbegin(); it != m_connections.cend(); ++it)
        it.key()->sendNotification(line);
    // A copy: a subscriber may unsubscribe while it is told.
    const QList<RpcSink> sinks = m_subscribers.values();
    for (const RpcSink &sink : sinks)
        sink(line);
}

qint64 RpcServer::droppedNotifications() const
{
    qint64 total = m_droppedByGone;
    for (auto it = m_connections.cbegin(); it != m_connections.cend(); ++it)
        total += it.key()->dropped();
    return total;
}

void RpcServer::dispatch(RpcConnection *connection, const RpcMessage &message)
{
    auto state = std::make_shared<RpcReply::State>();
    state->connection = connection;
    state->id = message.id;
    state->method = message.method;
    state->expectsAnswer = message.kind == RpcMessage::Kind::Request;
    const RpcReply reply(std::move(state));
    if (message.kind == RpcMessage::Kind::Request)
        connection->requestOpened();
    run(reply, message, connection->label());
}

void RpcServer::handleLine(const QByteArray &line, const RpcCaller &caller, RpcSink sink)
{
    const RpcMessage message = rpcParseLine(line);
    switch (message.kind) {
    case RpcMessage::Kind::Empty:
        return;
    case RpcMessage::Kind::Invalid:
        sink(rpcResponseLine(message.id, message.problem));
        return;
    case RpcMessage::Kind::Response:
        qCInfo(lcRpc).noquote() << caller.label << "sent an answer; the server asks nothing";
        return;
    case RpcMessage::Kind::Request:
    case RpcMessage::Kind::Notification:
        break;
    }
    auto state = std::make_shared<RpcReply::State>();
    state->sink = std::move(sink);
    state->present = caller.present;
    state->id = message.id;
    state->method = message.method;
    state->expectsAnswer = message.kind == RpcMessage::Kind::Request;
    const RpcReply reply(std::move(state));
    if (caller.check) {
        if (std::optional<RpcError> refusal = caller.check(message.method)) {
            qCInfo(lcRpc).noquote() << caller.label << "may not call" << message.method.left(100);
            reply.send(*refusal);
            return;
        }
    }
    run(reply, message, caller.label);
}

quint64 RpcServer::subscribe(RpcSink sink)
{
    m_subscribers.insert(++m_subscriberSerial, std::move(sink));
    return m_subscriberSerial;
}

void RpcServer::unsubscribe(quint64 subscription)
{
    m_subscribers.remove(subscription);
}

void RpcServer::run(const RpcReply &reply, const RpcMessage &message, const QString &label)
{
    const auto it = m_methods.constFind(message.method);
    if (it == m_methods.constEnd()) {
        qCDebug(lcRpc).noquote() << label << "asked for unknown method"
                                 << message.method.left(100);
        reply.send(RpcError::methodNotFound(message.method.left(100)));
        return;
    }
    try {
        (*it)(message.params, reply);
        return;
    } catch (const std::exception &e) {
        qCWarning(lcRpc).noquote() << "method" << message.method << "failed:" << e.what();
    } catch (...) {
        qCWarning(lcRpc).noquote() << "method" << message.method << "failed with an unknown exception";
    }
    if (!reply.answered())
        reply.send(RpcError::internalError());
}

void RpcServer::admit(int fd)
{
    const RpcPeer peer = rpcPeer(fd);
    if (!peer.valid || (peer.uid != ::geteuid() && peer.uid != 0)) {
        qCWarning(lcRpc).noquote()
            << (peer.valid ? QStringLiteral("refused a connection of another user (uid %1, pid %2)")
                                 .arg(peer.uid)
                                 .arg(peer.pid)
                           : QStringLiteral("refused a connection whose peer is unknown"));
        ::close(fd);
        return;
    }
    int &open = m_perUser[peer.uid];
    if (open >= m_bounds.maxPerUser) {
        if (m_refused[peer.uid]++ == 0)
            qCWarning(lcRpc).noquote()
                << QStringLiteral("uid %1 already has %2 connections; more are refused (pid %3 first)")
                       .arg(peer.uid)
                       .arg(open)
                       .arg(peer.pid);
        // Told why, in one line that fits the kernel's buffer, then the end.
        // Closed a moment later: closing at once would make its request's
        // write fail, and with it the reading of the line.
        const QByteArray line = rpcResponseLine(QJsonValue(), RpcError::tooManyConnections());
        if (::send(fd, line.constData(), size_t(line.size()), MSG_NOSIGNAL | MSG_DONTWAIT) < 0)
            qCDebug(lcRpc) << "could not tell a refused client why:" << ::strerror(errno);
        ::shutdown(fd, SHUT_WR);
        m_refusedOpen.insert(fd);
        QTimer::singleShot(kRefusedCloseMs, this, [this, fd] {
            if (m_refusedOpen.remove(fd))
                ::close(fd);
        });
        return;
    }
    if (const qint64 refused = m_refused.take(peer.uid); refused > 0)
        qCInfo(lcRpc).noquote()
            << QStringLiteral("uid %1 is below its bound again; %2 connections were refused")
                   .arg(peer.uid)
                   .arg(refused);
    ++open;
    auto *connection = new RpcConnection(fd, peer, ++m_serial, this);
    m_connections.insert(connection, peer.uid);
    // Queued: a connection may end inside notify()'s walk over them.
    connect(connection, &RpcConnection::closed, this, [this, connection] {
        forget(connection);
        connection->deleteLater();
    }, Qt::QueuedConnection);
    qCDebug(lcRpc).noquote() << connection->label() << "connected";
}

void RpcServer::forget(RpcConnection *connection)
{
    const auto it = m_connections.find(connection);
    if (it == m_connections.end())
        return;
    if (--m_perUser[it.value()] <= 0)
        m_perUser.remove(it.value());
    m_droppedByGone += connection->dropped();
    m_connections.erase(it);
    qCDebug(lcRpc).noquote() << connection->label() << "left";
}
