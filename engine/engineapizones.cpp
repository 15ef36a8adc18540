// Zones.GetHealth: each zone's output and who listens to it through
// Snapcast, as the zones dialog shows it, from the last answer of the
// school's snapserver; each call also asks it again for the next one.
#include "engineapi.h"

#include "enginecore.h"
#include "rpcserver.h"
#include "snapstatus.h"

void EngineApi::registerZones()
{
    m_server.registerMethod(QStringLiteral("Zones.GetHealth"), [this](const QJsonValue &) -> RpcResult {
        if (!m_core)
            return needCore();
        SnapStatus &snap = m_core->snapStatus();
        QJsonArray zones;
        for (const Zone &z : m_core->zones()) {
            const SnapZoneView view = snap.zoneView(z.output);
            zones.append(QJsonObject{{QStringLiteral("name"), z.name},
                                     {QStringLiteral("output"), z.output},
                                     {QStringLiteral("text"), view.text},
                                     {QStringLiteral("failed"), view.failed},
                                     {QStringLiteral("listeners"), view.listeners}});
        }
        snap.fetch();
        return QJsonObject{{QStringLiteral("zones"), zones},
                           {QStringLiteral("server"), snap.hasAnswer() ? snap.serverText() : QString()}};
    });
}
