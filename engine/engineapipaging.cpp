#include "pagingapi.h"

#include "engineapi.h"
#include "enginecore.h"
#include "logging.h"
#include "pagingservice.h"
#include "rpcserver.h"

#include <QJsonArray>

namespace {

RpcError refused(const QString &text)
{
    return RpcError{EngineApi::kRefused, text};
}

} // namespace

PagingApi::PagingApi(RpcServer &server, QObject *parent) : QObject(parent), m_server(server)
{
    m_server.registerMethod(QStringLiteral("Paging.Start"), [this](const QJsonValue &params) -> RpcResult {
        if (!params.isNull() && !params.isObject())
            return RpcError::invalidParams(QStringLiteral("需要一个对象"));
        const QJsonObject p = params.toObject();
        const QJsonValue zones = p.value(QStringLiteral("zones"));
        if (!zones.isUndefined() && !zones.isNull() && !zones.isArray())
            return RpcError::invalidParams(QStringLiteral("\"zones\" 需要分区名称的列表"));
        PagingService::Request request;
        for (const QJsonValue &z : zones.toArray()) {
            if (!z.isString() || z.toString().trimmed().isEmpty())
                return RpcError::invalidParams(QStringLiteral("\"zones\" 需要分区名称的列表"));
            request.zones << z.toString().trimmed();
        }
        request.by = p.value(QStringLiteral("by")).toString();
        if (!m_core)
            return refused(EngineApi::kStarting);
        QString note;
        if (const QString error = m_core->paging().start(request, &note); !error.isEmpty())
            return refused(error);
        QJsonObject answer = status();
        answer.insert(QStringLiteral("text"), note);
        return answer;
    });
    m_server.registerMethod(QStringLiteral("Paging.Stop"), [this](const QJsonValue &) -> RpcResult {
        const bool ended = m_core && m_core->paging().stop();
        return QJsonObject{{QStringLiteral("text"), ended ? QString() : PagingService::kNotOn}};
    });
    m_server.registerMethod(QStringLiteral("Paging.GetStatus"), [this](const QJsonValue &) -> RpcResult {
        if (!m_core)
            return refused(EngineApi::kStarting);
        return status();
    });
}

void PagingApi::setCore(EngineCore *core)
{
    delete m_link;
    m_link = nullptr;
    m_core = core;
    if (!m_core)
        return;
    m_link = new QObject(this);
    PagingService &p = m_core->paging();
    connect(&p, &PagingService::changed, m_link, [this] {
        m_server.notify(QStringLiteral("Paging.OnChanged"), status());
    });
    connect(&p, &PagingService::levelRead, m_link, [this](float peak, float rms) {
        m_server.notify(QStringLiteral("Paging.OnLevel"),
                        QJsonObject{{QStringLiteral("peak"), double(peak)},
                                    {QStringLiteral("rms"), double(rms)},
                                    {QStringLiteral("elapsedMs"), m_core->paging().elapsedMs()}});
    });
}

QJsonObject PagingApi::status() const
{
    const PagingService &p = m_core->paging();
    // Where it is heard, while it lasts.
    QJsonArray ids;
    for (qint64 id : p.active() ? p.zoneIds() : QList<qint64>{})
        ids.append(id);
    // What may be chosen: the school's zones, else 广播输出.
    QJsonArray choices;
    for (const Zone &z : m_core->zones())
        choices.append(z.name);
    if (choices.isEmpty())
        choices.append(PagingService::kBroadcastOutput);
    return QJsonObject{
        {QStringLiteral("active"), p.active()},
        {QStringLiteral("zones"), QJsonArray::fromStringList(p.active() ? p.zoneNames() : QStringList{})},
        {QStringLiteral("zoneIds"), ids},
        {QStringLiteral("everywhere"), p.active() && p.everywhere()},
        {QStringLiteral("startedAt"), p.active() ? QJsonValue(p.startedAt().toString(Qt::ISODateWithMs)) : QJsonValue()},
        {QStringLiteral("by"), p.active() ? p.startedBy() : QString()},
        {QStringLiteral("note"), p.active() ? p.note() : QString()},
        {QStringLiteral("choices"), choices},
    };
}
