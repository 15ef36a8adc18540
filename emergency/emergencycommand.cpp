#include "emergencycommand.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace emergencycommand {

bool wanted(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "--emergency" || a == "--emergency-stop")
            return true;
    }
    return false;
}

Parsed parse(const QStringList &args, const QString &cwd)
{
    Parsed p;
    bool emergency = false;
    const QString usage = QStringLiteral("用法：daling --emergency [声音文件] [--zones 分区1,分区2]\n"
                                         "      daling --emergency-stop");
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == u"--emergency") {
            emergency = true;
        } else if (a == u"--emergency-stop") {
            p.stop = true;
        } else if (a == u"--zones" || a.startsWith(u"--zones=")) {
            const QString list = a == u"--zones" ? args.value(++i) : a.mid(8);
            for (const QString &z : list.split(u',', Qt::SkipEmptyParts))
                if (const QString name = z.trimmed(); !name.isEmpty())
                    p.zones << name;
            if (p.zones.isEmpty()) {
                p.error = QStringLiteral("--zones 后面要写分区名称，多个用逗号隔开。\n") + usage;
                return p;
            }
        } else if (!a.startsWith(u"--") && p.file.isEmpty()) {
            p.file = a;
        } else {
            p.error = QStringLiteral("不认识的参数「%1」。\n").arg(a) + usage;
            return p;
        }
    }
    if (p.stop && (emergency || !p.file.isEmpty() || !p.zones.isEmpty())) {
        p.error = QStringLiteral("--emergency-stop 不带其他参数。\n") + usage;
        return p;
    }
    // A name found from the caller's folder is sent as a full path; any
    // other bare name is a file of the program's music folder.
    if (!p.file.isEmpty()) {
        const QFileInfo here(QDir(cwd), p.file);
        if (here.exists() || !AppPaths::isBareFileName(p.file))
            p.file = here.absoluteFilePath();
    }
    return p;
}

QByteArray line(const Parsed &p)
{
    if (p.stop)
        return "emergency-stop";
    QJsonObject o;
    if (!p.file.isEmpty())
        o.insert(QStringLiteral("file"), p.file);
    if (!p.zones.isEmpty())
        o.insert(QStringLiteral("zones"), QJsonArray::fromStringList(p.zones));
    return "emergency " + QJsonDocument(o).toJson(QJsonDocument::Compact);
}

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

int run(const Parsed &p, const std::function<std::optional<QByteArray>(const QByteArray &)> &send, QString *err)
{
    if (!p.error.isEmpty()) {
        *err = p.error;
        return 1;
    }
    const std::optional<QByteArray> reply = send(line(p));
    if (!reply) {
        *err = p.stop ? QStringLiteral("铃声系统没有运行（或没有回答），没有紧急广播可以结束。")
                      : QStringLiteral("铃声系统没有运行（或没有回答），紧急广播没有开始。");
        return 1;
    }
    const QString text = QString::fromUtf8(reply->mid(reply->indexOf(' ') + 1));
    if (reply->startsWith("ok")) {
        *err = reply->contains(' ') ? text : QString();
        return 0;
    }
    *err = text == u"unknown command" ? QStringLiteral("运行中的铃声系统不支持紧急广播命令，请先更新它。")
         : reply->startsWith("error ") ? text
                                        : QStringLiteral("铃声系统的回答看不懂：") + QString::fromUtf8(*reply);
    return 1;
}

} // namespace emergencycommand
