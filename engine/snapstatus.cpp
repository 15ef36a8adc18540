#include "snapstatus.h"

#include "apperror.h"
#include "audiolog.h"
#include "ringengine.h"
#include "settings.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QThread>
#include <memory>

namespace {
constexpr int kRequestId = 7;
// Qt's socket buffer holds no more than this ahead of our reads.
constexpr qint64 kReadChunk = 64 * 1024;
} // namespace

bool SnapServerStatus::parse(const QByteArray &line, int maxStreams)
{
    listeners.clear();
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(line, &pe);
    const QJsonObject server = doc.object().value(u"result").toObject().value(u"server").toObject();
    if (pe.error != QJsonParseError::NoError || !server.contains(u"streams")) {
        const QString message = doc.object().value(u"error").toObject().value(u"message").toString();
        error = message.isEmpty() ? QStringLiteral("not a Server.GetStatus answer") : message;
        answered = false;
        return false;
    }
    const QJsonArray streams = server.value(u"streams").toArray();
    for (const QJsonValue &s : streams) {
        if (listeners.size() >= maxStreams)
            break;
        listeners.insert(s.toObject().value(u"id").toString(), {});
    }
    for (const QJsonValue &g : server.value(u"groups").toArray()) {
        const QJsonObject group = g.toObject();
        const auto it = listeners.find(group.value(u"stream_id").toString());
        if (it == listeners.end())
            continue; // a stream left out, or none the server lists
        QStringList &names = *it;
        for (const QJsonValue &c : group.value(u"clients").toArray()) {
            const QJsonObject client = c.toObject();
            if (!client.value(u"connected").toBool())
                continue;
            QString name = client.value(u"config").toObject().value(u"name").toString();
            if (name.isEmpty())
                name = client.value(u"host").toObject().value(u"name").toString();
            if (name.isEmpty())
                name = client.value(u"id").toString();
            names << name;
        }
    }
    answered = true;
    error.clear();
    return true;
}

SnapStatus::SnapStatus(QObject *parent) : QObject(parent)
{
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        SnapServerStatus s;
        s.error = QStringLiteral("no answer within %1 ms").arg(kTimeoutMs);
        finish(std::move(s));
    });
}

SnapStatus::~SnapStatus()
{
    delete m_socket;
    // A parse is bounded (kMaxAnswerBytes): waiting for it is short.
    if (m_parser) {
        m_parser->disconnect(this);
        m_parser->wait();
        delete m_parser;
    }
}

void SnapStatus::load(const Settings &settings)
{
    const QString host = settings.value(kHostSetting, kDefaultHost).trimmed();
    const int port = settings.value(kPortSetting).toInt();
    setServer(host.isEmpty() ? kDefaultHost : host,
              port > 0 && port <= 65535 ? quint16(port) : kDefaultPort);
}

void SnapStatus::save(Settings &settings, const QString &host, int port)
{
    const QString h = host.trimmed();
    if (h.isEmpty())
        throw AppError(QStringLiteral("请填写 Snapcast 服务器的地址（本机为 127.0.0.1）。"));
    if (port <= 0 || port > 65535)
        throw AppError(QStringLiteral("Snapcast 服务器的端口应在 1–65535 之间（默认 1705）。"));
    settings.setValue(kHostSetting, h);
    settings.setValue(kPortSetting, QString::number(port));
    setServer(h, quint16(port));
}

void SnapStatus::setServer(const QString &host, quint16 port)
{
    if (host == m_host && port == m_port)
        return;
    m_host = host;
    m_port = port;
    // Another server: what the old one told counts no more.
    m_knownStreams.clear();
    m_last = {};
    m_fetchedOnce = false;
    m_fresh = QDeadlineTimer(0);
    ++m_generation; // an answer still read comes from the old one
    m_timeout.stop();
    dropSocket();
}

void SnapStatus::dropSocket()
{
    if (!m_socket)
        return;
    m_socket->disconnect(this);
    m_socket->abort();
    m_socket->deleteLater();
    m_socket = nullptr;
}

void SnapStatus::fetch()
{
    if (fetching())
        return;
    m_buffer.clear();
    m_received = 0;
    m_socket = new QTcpSocket;
    QTcpSocket *s = m_socket;
    // Read as we go: a peer that floods the port never fills our memory.
    s->setReadBufferSize(kReadChunk);
    connect(s, &QTcpSocket::connected, this, [s] {
        s->write(QByteArrayLiteral("{\"id\":") + QByteArray::number(kRequestId)
                 + QByteArrayLiteral(",\"jsonrpc\":\"2.0\",\"method\":\"Server.GetStatus\"}\n"));
    });
    connect(s, &QTcpSocket::readyRead, this, &SnapStatus::onReadyRead);
    connect(s, &QTcpSocket::errorOccurred, this, [this, s] {
        SnapServerStatus st;
        st.error = s->errorString();
        finish(std::move(st));
    });
    m_timeout.start(kTimeoutMs);
    s->connectToHost(m_host, m_port);
}

void SnapStatus::onReadyRead()
{
    QTcpSocket *s = m_socket;
    if (!s)
        return;
    const qsizetype scanned = m_buffer.size();
    const QByteArray chunk = s->read(kMaxAnswerBytes - m_received + 1);
    m_received += chunk.size();
    m_buffer += chunk;
    if (m_received > kMaxAnswerBytes) {
        qCWarning(lcAudio).noquote() << "snapserver" << m_host << m_port << "sent more than"
                                     << kMaxAnswerBytes << "bytes; connection dropped";
        SnapServerStatus st;
        st.error = kTooLarge;
        finish(std::move(st));
        return;
    }
    // The server also sends notifications on this connection: only the
    // line that answers our id counts. Each line is looked at once.
    qsizetype from = 0;
    for (qsizetype nl = m_buffer.indexOf('\n', scanned); nl >= 0; nl = m_buffer.indexOf('\n', from)) {
        const QByteArrayView line(m_buffer.constData() + from, nl - from);
        from = nl + 1;
        if (!line.contains("\"id\"") || (!line.contains("\"result\"") && !line.contains("\"error\"")))
            continue; // a notification, or blank
        m_timeout.stop();
        dropSocket();
        parseAside(line.toByteArray());
        m_buffer.clear();
        return;
    }
    m_buffer.remove(0, from);
    // Kept reading: Qt signals once for what arrived while we were here.
    if (s->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &SnapStatus::onReadyRead, Qt::QueuedConnection);
}

void SnapStatus::parseAside(QByteArray line)
{
    auto result = std::make_shared<SnapServerStatus>();
    m_parser = QThread::create([result, line = std::move(line)] {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o.value(u"id").toInt(-1) != kRequestId) {
            result->error = QStringLiteral("an answer to another question");
            return;
        }
        result->parse(line, kMaxStreams);
    });
    const int generation = m_generation;
    connect(m_parser, &QThread::finished, this, [this, result, generation] {
        m_parser->deleteLater();
        m_parser = nullptr;
        if (generation == m_generation)
            finish(std::move(*result));
    });
    m_parser->start();
}

void SnapStatus::finish(SnapServerStatus status)
{
    m_timeout.stop();
    dropSocket();
    if (status.answered) {
        for (auto it = status.listeners.cbegin(); it != status.listeners.cend(); ++it)
            if (m_knownStreams.size() < kMaxStreams || m_knownStreams.contains(it.key()))
                m_knownStreams.insert(it.key());
        if (!m_loggedError.isEmpty())
            qCInfo(lcAudio).noquote() << "snapserver" << m_host << m_port << "answers again";
        m_loggedError.clear();
    } else if (status.error != m_loggedError) {
        m_loggedError = status.error;
        qCWarning(lcAudio).noquote() << "snapserver" << m_host << m_port << "did not answer:" << status.error;
    }
    m_last = std::move(status);
    m_fetchedOnce = true;
    m_fresh.setRemainingTime(kFreshMs);
    emit updated();
}

QString SnapStatus::streamOf(const QString &output)
{
    static const QString prefix = QStringLiteral("pulse/");
    return output.startsWith(prefix) ? output.mid(prefix.size()) : QString();
}

bool SnapStatus::isSnapcast(const QString &output) const
{
    const QString stream = streamOf(output);
    return !stream.isEmpty() && m_knownStreams.contains(stream);
}

QString SnapStatus::unheardReason(const QString &output) const
{
    if (!m_fetchedOnce || m_fresh.hasExpired() || !isSnapcast(output))
        return {};
    if (!m_last.answered)
        return noAnswerText(m_host, m_port);
    const auto it = m_last.listeners.constFind(streamOf(output));
    return it != m_last.listeners.constEnd() && it->isEmpty() ? kNobodyListens : QString();
}

void SnapStatus::attach(RingEngine &engine)
{
    engine.zonesSoon = [this](const QList<Zone> &zones) {
        if (std::any_of(zones.begin(), zones.end(), [](const Zone &z) { return !streamOf(z.output).isEmpty(); }))
            fetch();
    };
    engine.zoneUnheard = [this](const Zone &zone) { return unheardReason(zone.output); };
}

SnapZoneView SnapStatus::zoneView(const QString &output) const
{
    // Only a stream the server serves (or served) makes a Snapcast zone: a
    // sound card of this PC says nothing here.
    if (!isSnapcast(output))
        return {};
    const QString stream = streamOf(output);
    if (!m_last.answered)
        return {QStringLiteral("Snapcast 音频流“%1”：%2").arg(stream, noAnswerText(m_host, m_port)), true};
    const QStringList names = m_last.listeners.value(stream);
    if (names.isEmpty())
        return {QStringLiteral("Snapcast 音频流“%1”：%2").arg(stream, kNobodyListens), true, 0};
    return {QStringLiteral("Snapcast 音频流“%1”：%2 个楼栋在收听（%3）")
                .arg(stream)
                .arg(names.size())
                .arg(names.join(QStringLiteral("、"))),
            false, int(names.size())};
}

QString SnapStatus::serverText() const
{
    if (!m_fetchedOnce)
        return QStringLiteral("正在询问…");
    if (!m_last.answered)
        return noAnswerText(m_host, m_port);
    QStringList streams = m_last.listeners.keys();
    streams.sort();
    return QStringLiteral("已连接，音频流：%1").arg(streams.isEmpty() ? QStringLiteral("无") : streams.join(QStringLiteral("、")));
}
