#include "engineapirelays.h"

#include "engineapi.h"
#include "enginecore.h"
#include "relaylink.h"
#include "rpcserver.h"

#include <QJsonArray>
#include <QJsonObject>

namespace engineapirelays {

void registerMethods(RpcServer &server, std::function<EngineCore *()> core)
{
    server.registerMethod(kMethod, [core = std::move(core)](const QJsonValue &params) -> RpcResult {
        const QJsonObject p = params.toObject();
        const QJsonValue playing = p.value(QStringLiteral("playing"));
        if (!playing.isBool())
            return RpcError::invalidParams(QStringLiteral("需要 \"playing\": true 或 false"));
        QList<qint64> zones;
        for (const QJsonValue &z : p.value(QStringLiteral("zones")).toArray()) {
            if (!z.isDouble())
                return RpcError::invalidParams(QStringLiteral("\"zones\" 是分区的编号"));
            zones << z.toInteger();
        }
        EngineCore *c = core();
        if (!c)
            return RpcError{EngineApi::kRefused, EngineApi::kStarting};
        c->relays().broadcastPlaying(playing.toBool(), zones);
        return QJsonObject{};
    });
}

} // namespace engineapirelays
