#include "enginelink.h"
#include "clientlog.h"

#include "rpcclient.h"

#include <QDir>
#include <QFileInfo>
#include <memory>

namespace {
// How long the engine is given to say which folder it serves.
constexpr int kStatusTimeoutMs = 5000;

QString folderKey(const QString &folder)
{
    const QFileInfo info(folder);
    const QString canonical = info.canonicalFilePath();
    return QDir::cleanPath(canonical.isEmpty() ? info.absoluteFilePath() : canonical);
}
} // namespace

EngineLink::EngineLink(QString dataFolder, QString socketPath, QObject *parent)
    : QObject(parent), m_dataFolder(std::move(dataFolder)), m_socketPath(std::move(socketPath))
{
    qRegisterMetaType<EngineStatus>();
    qRegisterMetaType<EngineBellStatus>();
    qRegisterMetaType<EnginePlaying>();
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &EngineLink::attempt);
}

EngineLink::~EngineLink()
{
    // No signal of ours while the members go.
    if (m_client)
        m_client->disconnect(this);
}

bool EngineLink::sameFolder(const QString &a, const QString &b)
{
    return folderKey(a) == folderKey(b);
}

void EngineLink::start()
{
    if (m_state != State::Idle)
        return;
    m_retryMs = kFirstRetryMs;
    attempt();
}

void EngineLink::stop()
{
    m_retry.stop();
    if (m_client) {
        m_client->disconnect(this);
        m_client->disconnectFromServer(); // its pending calls are answered now
        m_client->deleteLater();
        m_client = nullptr;
    }
    setState(State::Idle);
}

void EngineLink::setState(State s)
{
    if (s == m_state)
        return;
    m_state = s;
    emit stateChanged(s);
}

void EngineLink::attempt()
{
    if (m_client) {
        m_client->disconnect(this);
        m_client->disconnectFromServer();
        m_client->deleteLater();
    }
    setState(State::Connecting);
    auto *client = new RpcClient(this);
    m_client = client;
    connect(client, &RpcClient::notification, this, &EngineLink::onNotification);
    connect(client, &RpcClient::disconnected, this, &EngineLink::connectionEnded);
    client->connectToServer(m_socketPath);
    // Sent once the socket is up; answered NotConnected when it never is.
    auto answered = std::make_shared<bool>(false);
    client->call(QStringLiteral("Engine.GetStatus"), QJsonValue(), [this, client, answered](const RpcResult &r) {
        if (std::exchange(*answered, true) || client != m_client)
            return;
        checkStatus(r);
    });
    // An engine too old for this API, or hung, never answers.
    QTimer::singleShot(kStatusTimeoutMs, client, [this, client, answered] {
        if (std::exchange(*answered, true) || client != m_client)
            return;
        qCWarning(lcClient) << "the engine at" << m_socketPath << "did not tell its status; trying again";
        checkStatus(RpcError::noAnswer());
    });
}

void EngineLink::checkStatus(const RpcResult &result)
{
    if (result.isError()) {
        if (result.error().code != RpcCode::NotConnected)
            qCWarning(lcClient).noquote() << "Engine.GetStatus:" << result.error().message;
        // An open connection that did not give a status is of no use.
        m_client->disconnect(this);
        m_client->disconnectFromServer();
        scheduleRetry(State::Waiting);
        return;
    }
    const EngineStatus status = EngineStatus::fromJson(result.value().toObject());
    if (!sameFolder(status.dataFolder, m_dataFolder)) {
        const QString text = kOtherFolder.arg(status.dataFolder);
        m_client->disconnect(this);
        m_client->disconnectFromServer();
        m_retryMs = kMaxRetryMs; // it may go, and ours come, but not soon
        scheduleRetry(State::Refused);
        if (std::exchange(m_refusal, text) != text) {
            qCWarning(lcClient).noquote() << text;
            emit refused(text);
        }
        return;
    }
    m_refusal.clear();
    m_retryMs = kFirstRetryMs;
    m_status = status;
    m_everReady = true;
    qCInfo(lcClient) << "connected to the engine, process" << status.pid;
    setState(State::Ready);
    emit ready(m_status);
}

void EngineLink::connectionEnded()
{
    if (m_state != State::Ready)
        return; // a connection that was never ready retries through its status call
    qCWarning(lcClient) << "the connection to the engine ended";
    m_retryMs = kFirstRetryMs;
    scheduleRetry(State::Waiting);
    emit lost(kLostText);
}

void EngineLink::scheduleRetry(State s)
{
    setState(s);
    m_retry.start(m_retryMs);
    m_retryMs = std::min(m_retryMs * 2, kMaxRetryMs);
}

QString EngineLink::stateText() const
{
    switch (m_state) {
    case State::Ready: return {};
    case State::Refused: return m_refusal;
    default: return m_everReady ? kLostText : kNotReady;
    }
}

QString EngineLink::errorText(const RpcError &error)
{
    if (error.code == RpcCode::NotConnected)
        return kLostText;
    return error.message.isEmpty() ? RpcError::internalError().message : error.message;
}

void EngineLink::call(const QString &method, const QJsonValue &params, Done<QJsonValue> done,
                      int timeoutMs)
{
    if (!done)
        done = [](const LinkResult<QJsonValue> &) {};
    if (m_state != State::Ready) {
        const QString text = stateText();
        QTimer::singleShot(0, this, [done, text] {
            done({{}, LinkError{RpcCode::NotConnected, text}});
        });
        return;
    }
    auto answered = std::make_shared<bool>(false);
    m_client->call(method, params, [done, answered](const RpcResult &r) {
        if (std::exchange(*answered, true))
            return;
        if (r.isError())
            done({{}, LinkError{r.error().code, errorText(r.error())}});
        else
            done({r.value(), std::nullopt});
    });
    const QPointer<RpcClient> client = m_client;
    QTimer::singleShot(timeoutMs, this, [this, done, answered, method, client] {
        if (std::exchange(*answered, true))
            return;
        qCWarning(lcClient).noquote() << method << "had no answer in time; connecting again";
        done({{}, LinkError{RpcCode::NoAnswer, RpcError::noAnswer().message}});
        // An engine that does not answer is as good as gone: the window must
        // not show its list as current. A new connection finds out whether
        // it answers again.
        if (client && client == m_client && m_state == State::Ready)
            client->disconnectFromServer();
    });
}

template <typename T>
void EngineLink::typed(const QString &method, const QJsonValue &params, Done<T> done,
                       std::function<T(const QJsonValue &)> read, int timeoutMs)
{
    call(method, params, [done = std::move(done), read = std::move(read)](const LinkResult<QJsonValue> &r) {
        if (!done)
            return;
        if (!r.ok())
            done({{}, r.error});
        else
            done({read(r.value), std::nullopt});
    }, timeoutMs);
}

namespace {
LinkDone nothing(const QJsonValue &)
{
    return {};
}
QString textOf(const QJsonValue &v)
{
    return v.toObject().value(QLatin1String("text")).toString();
}
} // namespace

void EngineLink::rpcVersion(Done<QJsonObject> done)
{
    typed<QJsonObject>(QStringLiteral("Server.GetRPCVersion"), QJsonValue(), std::move(done),
                       [](const QJsonValue &v) { return v.toObject(); });
}

void EngineLink::getStatus(Done<EngineStatus> done)
{
    typed<EngineStatus>(QStringLiteral("Engine.GetStatus"), QJsonValue(), std::move(done),
                        [](const QJsonValue &v) { return EngineStatus::fromJson(v.toObject()); });
}

void EngineLink::getBells(Done<EngineDay> done)
{
    typed<EngineDay>(QStringLiteral("Day.GetBells"), QJsonValue(), std::move(done),
                     [](const QJsonValue &v) { return EngineDay::fromJson(v.toObject()); });
}

void EngineLink::setMode(bool running, Done<bool> done)
{
    typed<bool>(QStringLiteral("Mode.Set"), QJsonObject{{QLatin1String("running"), running}}, std::move(done),
                [](const QJsonValue &v) {
                    return enginejson::isRunningMode(v.toObject().value(QLatin1String("mode")).toString());
                });
}

void EngineLink::reloadBells(Done<LinkDone> done)
{
    typed<LinkDone>(QStringLiteral("Bells.Reload"), QJsonValue(), std::move(done), nothing);
}

void EngineLink::testPlay(qint64 bellId, Done<LinkDone> done)
{
    typed<LinkDone>(QStringLiteral("Test.Play"), QJsonObject{{QLatin1String("id"), bellId}}, std::move(done),
                    nothing);
}

void EngineLink::testStop(Done<LinkDone> done)
{
    typed<LinkDone>(QStringLiteral("Test.Stop"), QJsonValue(), std::move(done), nothing);
}

void EngineLink::startEmergency(const EmergencyRequest &request, Done<QString> done)
{
    typed<QString>(QStringLiteral("Emergency.Start"), request.toJson(), std::move(done), textOf,
                   kEmergencyTimeoutMs);
}

void EngineLink::stopEmergency(Done<QString> done, const QString &origin)
{
    const QJsonValue params = origin.isEmpty() ? QJsonValue() : QJsonValue(QJsonObject{{QStringLiteral("origin"), origin}});
    typed<QString>(QStringLiteral("Emergency.Stop"), params, std::move(done), textOf);
}

void EngineLink::raiseWindow(Done<LinkDone> done)
{
    typed<LinkDone>(QStringLiteral("Window.Raise"), QJsonValue(), std::move(done), nothing);
}

void EngineLink::onNotification(const QString &method, const QJsonValue &params)
{
    // Before ready() the client reads everything anew anyway.
    if (m_state != State::Ready)
        return;
    const QJsonObject o = params.toObject();
    if (method == QLatin1String("Bell.OnStatus")) {
        emit bellStatus(EngineBellStatus::fromJson(o));
    } else if (method == QLatin1String("Day.OnChanged")) {
        const bool running = enginejson::isRunningMode(o.value(QLatin1String("mode")).toString());
        m_status.running = running;
        emit dayChanged(QDate::fromString(o.value(QLatin1String("date")).toString(), Qt::ISODate), running);
    } else if (method == QLatin1String("Mode.OnChanged")) {
        m_status.running = enginejson::isRunningMode(o.value(QLatin1String("mode")).toString());
        emit modeChanged(m_status.running);
    } else if (method == QLatin1String("Emergency.OnChanged")) {
        m_status.emergency = o.value(QLatin1String("active")).toBool();
        emit emergencyChanged(m_status.emergency);
    } else if (method == QLatin1String("Bands.OnChanged")) {
        m_status.bands = EngineBand::listFromJson(o.value(QLatin1String("bands")));
        emit bandsChanged(m_status.bands);
    } else if (method == QLatin1String("Test.OnChanged")) {
        m_status.testing = o.value(QLatin1String("testing")).toBool();
        emit testChanged(m_status.testing);
    } else if (method == QLatin1String("Playback.OnChanged")) {
        m_status.playing = EnginePlaying::fromJson(o);
        emit playbackChanged(m_status.playing);
    } else {
        qCDebug(lcClient).noquote() << "a notification this client does not know:" << method;
    }
}
