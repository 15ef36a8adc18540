#include "emergencychannel.h"

#include "emergencycommand.h"

// The channel's emergency commands, answered once the sound has started
// (or failed); the program's parts exist once the window is made.
void serveEmergency(Instance &instance, const std::function<EmergencyBroadcast *()> &emergency)
{
    instance.handleAsync("emergency", [emergency](const QByteArray &argument, Instance::Reply reply) {
        EmergencyBroadcast *e = emergency();
        if (!e)
            return reply(QStringLiteral("error 铃声系统还在启动，请稍后再试。").toUtf8());
        if (e->active())
            return reply(QStringLiteral("ok 紧急广播已经在进行。").toUtf8());
        QString error;
        const auto request = emergencycommand::request(argument, &error);
        if (!request)
            return reply("error " + error.toUtf8());
        const QMetaObject::Connection answer = QObject::connect(
            e, &EmergencyBroadcast::settled, e,
            [reply](bool ok, const QString &text) { reply((ok ? "ok " : "error ") + text.toUtf8()); },
            Qt::SingleShotConnection);
        if (error = e->start(*request); !error.isEmpty()) {
            QObject::disconnect(answer);
            reply("error " + error.toUtf8());
        }
    });
    instance.handle("emergency-stop", [emergency](const QByteArray &) {
        EmergencyBroadcast *e = emergency();
        if (e && e->stop(EmergencyBroadcast::Origin::Command))
            return QByteArray("ok");
        return QStringLiteral("ok 现在没有紧急广播。").toUtf8();
    });
}

