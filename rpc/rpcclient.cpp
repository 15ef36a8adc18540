#include "rpcclient.h"
#include "rpclog.h"

#include <QElapsedTimer>
#include <QLocalSocket>
#include <QPointer>
#include <utility>

RpcClient::RpcClient(QObject *parent) : QObject(parent), m_socket(new QLocalSocket(this))
{
    connect(m_socket, &QLocalSocket::readyRead, this, &RpcClient::readLines);
    connect(m_socket, &QLocalSocket::connected, this, [this] {
        if (!m_outbox.isEmpty())
            m_socket->write(std::exchange(m_outbox, {}));
        emit connected();
    });
    connect(m_socket, &QLocalSocket::disconnected, this, [this] {
        failPending();
        emit disconnected();
    });
    connect(m_socket, &QLocalSocket::errorOccurred, this, [this](QLocalSocket::LocalSocketError) {
        if (m_socket->state() == QLocalSocket::UnconnectedState)
            failPending(); // it never connected
    });
}

RpcClient::~RpcClient()
{
    // Nobody is left to hear the pending answers.
    m_socket->disconnect(this);
    m_pending.clear();
}

void RpcClient::connectToServer(const QString &path)
{
    m_reader = RpcLineReader(kMaxLine);
    m_outbox.clear();
    m_refusal.reset();
    m_socket->connectToServer(path);
}

bool RpcClient::waitForConnected(int timeoutMs)
{
    return m_socket->state() == QLocalSocket::ConnectedState || m_socket->waitForConnected(timeoutMs);
}

bool RpcClient::isConnected() const
{
    return m_socket->state() == QLocalSocket::ConnectedState;
}

void RpcClient::disconnectFromServer()
{
    m_socket->disconnectFromServer();
}

qint64 RpcClient::request(const QString &method, const QJsonValue &params, Callback done)
{
    const qint64 id = m_nextId++;
    m_pending.insert(id, done ? std::move(done) : [](const RpcResult &) {});
    if (m_socket->state() == QLocalSocket::UnconnectedState) {
        // Never from inside call(): the caller may not expect its callback yet.
        QMetaObject::invokeMethod(this, &RpcClient::failPending, Qt::QueuedConnection);
        return id;
    }
    send(rpcRequestLine(id, method, params));
    return id;
}

void RpcClient::call(const QString &method, const QJsonValue &params, Callback done)
{
    request(method, params, std::move(done));
}

RpcResult RpcClient::callSync(const QString &method, const QJsonValue &params, int timeoutMs)
{
    QElapsedTimer elapsed;
    elapsed.start();
    bool done = false;
    RpcResult answer = RpcError::noAnswer();
    const qint64 id = request(method, params, [&](const RpcResult &r) {
        done = true;
        answer = r;
    });
    const auto left = [&] { return int(qMax<qint64>(0, timeoutMs - elapsed.elapsed())); };
    if (m_socket->state() == QLocalSocket::ConnectingState)
        m_socket->waitForConnected(left());
    while (!done && left() > 0 && m_socket->state() == QLocalSocket::ConnectedState) {
        if (m_socket->bytesToWrite() > 0)
            m_socket->waitForBytesWritten(left());
        if (m_socket->waitForReadyRead(left()))
            readLines(); // also where readyRead is not emitted: inside another of our slots
    }
    if (!done) {
        m_pending.remove(id);
        if (m_socket->state() != QLocalSocket::ConnectedState)
            return m_refusal.value_or(RpcError::notConnected());
    }
    return answer;
}

void RpcClient::notifyServer(const QString &method, const QJsonValue &params)
{
    send(rpcNotificationLine(method, params));
}

void RpcClient::send(const QByteArray &line)
{
    if (m_socket->state() == QLocalSocket::ConnectedState)
        m_socket->write(line);
    else if (m_socket->state() == QLocalSocket::ConnectingState)
        m_outbox += line;
}

void RpcClient::readLines()
{
    const QPointer<RpcClient> alive(this);
    m_reader.append(m_socket->readAll());
    QByteArray line;
    while (m_reader.takeLine(&line)) {
        const RpcMessage message = rpcParseLine(line);
        switch (message.kind) {
        case RpcMessage::Kind::Empty:
            break;
        case RpcMessage::Kind::Response: {
            const Callback done = m_pending.take(message.id.toInteger(-1));
            if (done)
                done(message.result);
            else if (message.result.isError() && message.id.isNull()) {
                // Not about a request: the server refuses the connection.
                qCWarning(lcRpc).noquote() << "the server says:" << message.result.error().message;
                m_refusal = message.result.error();
            }
            break;
        }
        case RpcMessage::Kind::Notification:
            emit notification(message.method, message.params);
            break;
        case RpcMessage::Kind::Request:
        case RpcMessage::Kind::Invalid:
            qCInfo(lcRpc) << "the server sent a line that is not an answer or a notification:"
                          << line.left(200);
            break;
        }
        if (!alive)
            return;
    }
    if (m_reader.overflowed()) {
        qCWarning(lcRpc) << "the server sent a line over" << kMaxLine << "bytes; disconnecting";
        m_socket->abort();
    }
}

void RpcClient::failPending()
{
    const QPointer<RpcClient> alive(this);
    const QHash<qint64, Callback> pending = std::exchange(m_pending, {});
    for (const Callback &done : pending) {
        done(m_refusal.value_or(RpcError::notConnected()));
        if (!alive)
            return;
    }
}

RpcResult rpcCall(const QString &path, const QString &method, const QJsonValue &params,
                  int timeoutMs)
{
    QElapsedTimer elapsed;
    elapsed.start();
    RpcClient client;
    client.connectToServer(path);
    if (!client.waitForConnected(timeoutMs))
        return RpcError::notConnected();
    return client.callSync(method, params, int(qMax<qint64>(1, timeoutMs - elapsed.elapsed())));
}
