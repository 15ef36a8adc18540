#include "pagingcontrol.h"

#include "paginglog.h"
#include "rpcclient.h"

#include <QJsonArray>
#include <QTimer>
#include <cmath>

RpcPagingLink::RpcPagingLink(QString socketPath, QObject *parent)
    : PagingLink(parent), m_path(std::move(socketPath)), m_retry(new QTimer(this))
{
    m_retry->setSingleShot(true);
    m_retry->setInterval(kRetryMs);
    connect(m_retry, &QTimer::timeout, this, &RpcPagingLink::connectNow);
    connectNow();
}

void RpcPagingLink::connectNow()
{
    if (m_client)
        m_client->deleteLater();
    m_client = new RpcClient(this);
    connect(m_client, &RpcClient::connected, this, &PagingLink::connected);
    connect(m_client, &RpcClient::disconnected, m_retry, qOverload<>(&QTimer::start));
    connect(m_client, &RpcClient::notification, this, [this](const QString &method, const QJsonValue &params) {
        if (method.startsWith(QLatin1String("Paging.")))
            emit notified(method, params.toObject());
    });
    m_client->connectToServer(m_path);
}

void RpcPagingLink::call(const QString &method, const QJsonObject &params, Done done)
{
    m_client->call(method, params, [done](const RpcResult &r) {
        if (r.isError())
            done(r.error().message.isEmpty() ? QStringLiteral("铃声系统没有回答。") : r.error().message, {});
        else
            done({}, r.value().toObject());
    });
}

PagingControl::PagingControl(PagingLink &link, QObject *parent) : QObject(parent), m_link(link)
{
    connect(&m_link, &PagingLink::notified, this, &PagingControl::onNotified);
    connect(&m_link, &PagingLink::connected, this, &PagingControl::refresh);
}

bool PagingControl::touches(const QList<qint64> &broadcast, const QList<qint64> &paged, bool everywhere)
{
    if (everywhere || broadcast.isEmpty())
        return true;
    return std::any_of(broadcast.begin(), broadcast.end(), [&](qint64 z) { return paged.contains(z); });
}

int PagingControl::meterPercent(double peak)
{
    if (!(peak > 0))
        return 0;
    const double db = 20 * std::log10(std::min(peak, 1.0));
    return int(std::lround(std::clamp((db + kMeterFloorDb) / kMeterFloorDb, 0.0, 1.0) * 100));
}

QString PagingControl::statusText(const QDateTime &now) const
{
    if (!m_active)
        return {};
    const qint64 s = std::max<qint64>(0, m_started.isValid() ? m_started.secsTo(now) : 0);
    return QStringLiteral("喊话中 %1:%2 · %3")
        .arg(s / 60, 2, 10, QChar(u'0'))
        .arg(s % 60, 2, 10, QChar(u'0'))
        .arg(m_zones.join(u'、'));
}

void PagingControl::refresh()
{
    m_link.call(QStringLiteral("Paging.GetStatus"), {}, [this](const QString &error, const QJsonObject &answer) {
        if (error.isEmpty())
            apply(answer);
    });
}

void PagingControl::toggle()
{
    if (m_busy)
        return;
    m_busy = true;
    emit changed();
    auto done = [this](const QString &error, const QJsonObject &answer) {
        m_busy = false;
        if (!error.isEmpty()) {
            emit message(error);
        } else {
            if (answer.contains(QStringLiteral("active")))
                apply(answer);
            if (const QString text = answer.value(QStringLiteral("text")).toString(); !text.isEmpty())
                emit message(text);
        }
        emit changed();
    };
    if (m_active)
        m_link.call(QStringLiteral("Paging.Stop"), {}, done);
    else
        m_link.call(QStringLiteral("Paging.Start"),
                    {{QStringLiteral("zones"), QJsonArray::fromStringList(m_chosen)}, {QStringLiteral("by"), kBy}},
                    done);
}

void PagingControl::onNotified(const QString &method, const QJsonObject &params)
{
    if (method == QLatin1String("Paging.OnChanged")) {
        apply(params);
    } else if (method == QLatin1String("Paging.OnLevel") && m_active) {
        m_meter = meterPercent(params.value(QStringLiteral("peak")).toDouble());
        emit changed();
    }
}

void PagingControl::apply(const QJsonObject &status)
{
    QStringList choices;
    for (const QJsonValue &v : status.value(QStringLiteral("choices")).toArray())
        choices << v.toString();
    if (!choices.isEmpty())
        m_choices = choices;
    // A zone chosen that is gone is no longer chosen.
    m_chosen.removeIf([this](const QString &z) { return !m_choices.contains(z); });
    const bool active = status.value(QStringLiteral("active")).toBool();
    m_zones.clear();
    for (const QJsonValue &v : status.value(QStringLiteral("zones")).toArray())
        m_zones << v.toString();
    m_started = QDateTime::fromString(status.value(QStringLiteral("startedAt")).toString(), Qt::ISODateWithMs);
    if (active && !m_active) {
        QList<qint64> ids;
        for (const QJsonValue &v : status.value(QStringLiteral("zoneIds")).toArray())
            ids << v.toInteger();
        const bool everywhere = status.value(QStringLiteral("everywhere")).toBool();
        // Paused only where the voice is heard; the rest plays on.
        if (pauseBroadcast && touches(broadcastZones ? broadcastZones() : QList<qint64>{}, ids, everywhere))
            m_paused = pauseBroadcast();
    } else if (!active && m_active) {
        m_meter = 0;
        if (std::exchange(m_paused, false) && resumeBroadcast)
            resumeBroadcast();
    }
    if (active != m_active)
        qCInfo(lcPaging) << "window: live announcement" << (active ? "on" : "off");
    m_active = active;
    emit changed();
}
