#include "emergencycommand.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace emergencycommand {

std::optional<EmergencyBroadcast::Request> request(const QByteArray &argument, QString *error)
{
    EmergencyBroadcast::Request r;
    r.origin = EmergencyBroadcast::Origin::Command;
    if (argument.trimmed().isEmpty())
        return r;
    QJsonParseError pe{};
    const QJsonDocument doc = QJsonDocument::fromJson(argument, &pe);
    if (pe.error != QJsonParseError::NoError || !doc.isObject()) {
        *error = QStringLiteral("紧急广播命令的格式不对。");
        return std::nullopt;
    }
    const QJsonObject o = doc.object();
    r.file = o.value(QStringLiteral("file")).toString();
    for (const QJsonValue &z : o.value(QStringLiteral("zones")).toArray())
        if (const QString name = z.toString().trimmed(); !name.isEmpty())
            r.zones << name;
    return r;
}

} // namespace emergencycommand
