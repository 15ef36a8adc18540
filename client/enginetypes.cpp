#include "enginetypes.h"

#include <QJsonArray>
#include <QRegularExpression>

namespace enginejson {

qint64 secondsOf(const QString &hhmmss)
{
    static const QRegularExpression form(QStringLiteral("^(\\d{1,2}):(\\d{2}):(\\d{2})$"));
    const QRegularExpressionMatch m = form.match(hhmmss);
    if (!m.hasMatch())
        return -1;
    const int h = m.captured(1).toInt(), min = m.captured(2).toInt(), s = m.captured(3).toInt();
    if (h > 23 || min > 59 || s > 59)
        return -1;
    return h * 3600 + min * 60 + s;
}

bool isRunningMode(const QString &mode)
{
    return mode == QLatin1String("running");
}

std::optional<qint64> optionalInt(const QJsonValue &v)
{
    if (!v.isDouble())
        return std::nullopt;
    return qint64(v.toDouble());
}

} // namespace enginejson

using namespace enginejson;

namespace {
QStringList stringsOf(const QJsonValue &v)
{
    QStringList out;
    for (const QJsonValue &s : v.toArray())
        if (s.isString())
            out << s.toString();
    return out;
}
} // namespace

QList<EngineBand> EngineBand::listFromJson(const QJsonValue &value)
{
    QList<EngineBand> out;
    for (const QJsonValue &b : value.toArray()) {
        const QJsonObject o = b.toObject();
        const QString text = o.value(QLatin1String("text")).toString();
        if (!text.isEmpty())
            out.append({o.value(QLatin1String("kind")).toString(), text,
                        o.value(QLatin1String("dismissable")).toBool(), o.value(QLatin1String("level")).toString()});
    }
    return out;
}

EnginePlaying EnginePlaying::fromJson(const QJsonValue &value)
{
    const QJsonObject o = value.toObject();
    EnginePlaying p;
    p.id = optionalInt(o.value(QLatin1String("id")));
    p.music = o.value(QLatin1String("music")).toString();
    p.positionMs = o.value(QLatin1String("positionMs")).toInteger();
    p.lengthMs = o.value(QLatin1String("lengthMs")).toInteger();
    return p;
}

EngineBell EngineBell::fromJson(const QJsonObject &o)
{
    EngineBell b;
    b.id = o.value(QLatin1String("id")).toInteger();
    b.seconds = secondsOf(o.value(QLatin1String("time")).toString());
    b.name = o.value(QLatin1String("name")).toString();
    b.music = o.value(QLatin1String("music")).toString();
    b.days = o.value(QLatin1String("days")).toString();
    b.duration = o.value(QLatin1String("duration")).toString();
    b.remark = o.value(QLatin1String("remark")).toString();
    b.zones = stringsOf(o.value(QLatin1String("zones")));
    b.status = o.value(QLatin1String("status")).toString();
    b.delayMs = optionalInt(o.value(QLatin1String("delayMs")));
    return b;
}

EngineBellStatus EngineBellStatus::fromJson(const QJsonObject &o)
{
    EngineBellStatus s;
    s.id = o.value(QLatin1String("id")).toInteger();
    s.seconds = secondsOf(o.value(QLatin1String("time")).toString());
    s.status = o.value(QLatin1String("status")).toString();
    s.delayMs = optionalInt(o.value(QLatin1String("delayMs")));
    s.zones = stringsOf(o.value(QLatin1String("zones")));
    return s;
}

EngineDay EngineDay::fromJson(const QJsonObject &o)
{
    EngineDay d;
    d.date = QDate::fromString(o.value(QLatin1String("date")).toString(), Qt::ISODate);
    d.running = isRunningMode(o.value(QLatin1String("mode")).toString());
    d.next = optionalInt(o.value(QLatin1String("next")));
    for (const QJsonValue &b : o.value(QLatin1String("bells")).toArray())
        d.bells.append(EngineBell::fromJson(b.toObject()));
    return d;
}

EngineStatus EngineStatus::fromJson(const QJsonObject &o)
{
    EngineStatus s;
    s.version = o.value(QLatin1String("version")).toString();
    s.dataFolder = o.value(QLatin1String("dataFolder")).toString();
    s.pid = o.value(QLatin1String("pid")).toInteger();
    s.service = o.value(QLatin1String("service")).toBool();
    s.running = isRunningMode(o.value(QLatin1String("mode")).toString());
    s.nowSeconds = secondsOf(o.value(QLatin1String("now")).toString());
    s.date = QDate::fromString(o.value(QLatin1String("date")).toString(), Qt::ISODate);
    s.dateText = o.value(QLatin1String("dateText")).toString();
    s.testing = o.value(QLatin1String("testing")).toBool();
    s.emergency = o.value(QLatin1String("emergency")).toBool();
    s.bands = EngineBand::listFromJson(o.value(QLatin1String("bands")));
    s.playing = EnginePlaying::fromJson(o.value(QLatin1String("playing")));
    return s;
}

QJsonObject EmergencyRequest::toJson() const
{
    QJsonObject o;
    if (!file.isEmpty())
        o.insert(QLatin1String("file"), file);
    if (!zones.isEmpty())
        o.insert(QLatin1String("zones"), QJsonArray::fromStringList(zones));
    if (!by.isEmpty())
        o.insert(QLatin1String("by"), by);
    if (!origin.isEmpty())
        o.insert(QLatin1String("origin"), origin);
    return o;
}
