// What the engine's methods answer: its status, the day's bells as the list
// shows them, the bands, what plays.
#include "emergencybroadcast.h"
#include "engineapi.h"
#include "relaylink.h"
#include "enginecore.h"
#include "logging.h"
#include "ringalerts.h"
#include "ringengine.h"
#include "ringhistory.h"
#include "secondsofday.h"
#include "storehealth.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>

#ifndef DALING_VERSION
#define DALING_VERSION "0"
#endif

QString EngineApi::timeText(qint64 seconds)
{
    return seconds >= 0 && seconds < 86400 ? inttotime(seconds) : QString();
}

QString EngineApi::folderText(const QString &folder)
{
    // cleanPath drops the trailing '/', so that two spellings of one folder compare equal.
    return QDir::cleanPath(QDir(folder).absolutePath());
}

QJsonObject EngineApi::status() const
{
    QJsonObject o{
        {QStringLiteral("version"), QStringLiteral(DALING_VERSION)},
        {QStringLiteral("dataFolder"), m_options.dataFolder},
        {QStringLiteral("pid"), QCoreApplication::applicationPid()},
        {QStringLiteral("service"), m_options.service},
        {QStringLiteral("starting"), m_core == nullptr},
    };
    if (!m_core)
        return o;
    BellBoard &board = m_core->board();
    const QDateTime now = board.clock().now();
    o.insert(QStringLiteral("mode"), board.running() ? QStringLiteral("running") : QStringLiteral("stopped"));
    o.insert(QStringLiteral("now"), now.time().toString(QStringLiteral("HH:mm:ss")));
    o.insert(QStringLiteral("date"), now.date().toString(Qt::ISODate));
    o.insert(QStringLiteral("dateText"), board.dateText().trimmed());
    o.insert(QStringLiteral("testing"), board.testing());
    o.insert(QStringLiteral("emergency"), m_core->emergency().active());
    o.insert(QStringLiteral("bands"), bands());
    o.insert(QStringLiteral("playing"), playing());
    return o;
}

QJsonArray EngineApi::bands() const
{
    QJsonArray out;
    if (!m_core)
        return out;
    const auto add = [&out](const char *kind, const QString &text, bool dismissable = false) {
        if (text.isEmpty())
            return;
        QJsonObject band{{QStringLiteral("kind"), QLatin1String(kind)}, {QStringLiteral("text"), text}};
        if (dismissable)
            band.insert(QStringLiteral("dismissable"), true);
        out.append(band);
    };
    // In the window's order, top to bottom.
    EmergencyBroadcast &e = m_core->emergency();
    add("emergency", e.active() ? e.bandText() : QString());
    const StoreHealth &health = m_core->storeHealth();
    add("store", health.bandText(), health.dismissable());
    // How bad it is: the band's colour.
    if (!out.isEmpty() && out.last().toObject().value(QStringLiteral("kind")).toString() == u"store") {
        QJsonObject band = out.last().toObject();
        band.insert(QStringLiteral("level"), health.level() == StoreHealth::Level::Fault     ? QStringLiteral("fault")
                                             : health.level() == StoreHealth::Level::Warning ? QStringLiteral("warning")
                                                                                             : QStringLiteral("notice"));
        out.replace(out.size() - 1, band);
    }
    add("stopped", m_core->ringAlerts().stoppedText());
    add("notRung", m_core->ringAlerts().notRungText(), true);
    add("relays", m_core->relays().bandText());
    return out;
}

QJsonValue EngineApi::playing() const
{
    if (!m_core)
        return QJsonValue::Null;
    BellBoard &board = m_core->board();
    const int index = m_sounding ? board.day().indexOf(*m_sounding) : -1;
    // A bell sounds from its rang() to its bellEnded(); the player heard
    // (the bells' own, or one of its zones') tells how far it is.
    if (index >= 0) {
        const AudioPlayer *p = m_core->engine().heardPlayer();
        const BellEntry &e = board.day().entry(index);
        return QJsonObject{{QStringLiteral("id"), e.id},
                           {QStringLiteral("music"), e.music},
                           {QStringLiteral("positionMs"), p ? p->position() : 0},
                           {QStringLiteral("lengthMs"), p ? p->length() : 0}};
    }
    if (board.testing())
        return QJsonObject{{QStringLiteral("id"), QJsonValue::Null},
                           {QStringLiteral("music"), board.yunXing()},
                           {QStringLiteral("positionMs"), board.progressPos()},
                           {QStringLiteral("lengthMs"), board.progressMax()}};
    return QJsonValue::Null;
}

BellStatus EngineApi::shownStatus(int index) const
{
    const DaySchedule &day = m_core->board().day();
    const BellStatus own = day.status(index);
    // As BellBoard::statusShown with the blink on: a bell that did not
    // sound keeps its mark; only a bell without one waits.
    if (bellstatus::isFault(own))
        return own;
    if (m_sounding && day.key(index) == *m_sounding)
        return BellStatus::Playing;
    if (m_core->board().running() && index == day.next() && own == BellStatus::None
        && !(m_sounding && day.indexOf(*m_sounding) >= 0))
        return BellStatus::Waiting;
    return own;
}

QJsonArray EngineApi::zoneNames(const QList<qint64> &zones) const
{
    QJsonArray out;
    for (qint64 id : zones)
        for (const Zone &z : m_core->zones())
            if (z.id == id)
                out.append(z.name);
    return out;
}

std::optional<qint64> EngineApi::delayOf(int index) const
{
    const auto it = m_delays.constFind(m_core->board().day().key(index));
    if (it != m_delays.constEnd())
        return *it;
    return std::nullopt;
}

QJsonObject EngineApi::bellJson(int index) const
{
    const BellEntry &e = m_core->board().day().entry(index);
    const std::optional<qint64> delay = delayOf(index);
    return QJsonObject{
        {QStringLiteral("id"), e.id},
        {QStringLiteral("time"), timeText(e.time)},
        {QStringLiteral("name"), e.name},
        {QStringLiteral("music"), e.music},
        {QStringLiteral("days"), e.weekdays},
        {QStringLiteral("duration"), e.duration},
        {QStringLiteral("remark"), e.remark},
        {QStringLiteral("zones"), zoneNames(e.zones)},
        {QStringLiteral("status"), bellstatus::text(shownStatus(index))},
        {QStringLiteral("delayMs"), delay ? QJsonValue(*delay) : QJsonValue(QJsonValue::Null)},
    };
}

QJsonObject EngineApi::day() const
{
    BellBoard &board = m_core->board();
    const DaySchedule &day = board.day();
    const QDate date = board.clock().now().date();
    // Bells this run has not seen ring (a restart) have their delay in the
    // day's records.
    if (m_delaysDay != date.toJulianDay()) {
        m_delays.clear();
        m_delaysDay = date.toJulianDay();
    }
    if (board.running()) {
        try {
            for (const RingRecord &r : m_core->history().day(date))
                if (r.delayMs)
                    for (int i = 0; i < day.size(); ++i)
                        if (day.entry(i).time == r.time && day.entry(i).name == r.name
                            && !m_delays.contains(day.key(i)))
                            m_delays.insert(day.key(i), *r.delayMs);
        } catch (const std::exception &e) {
            qCWarning(lcApp) << "the day's records were not read for their delays:" << e.what();
        }
    }
    QJsonArray bells;
    for (int i = 0; i < day.size(); ++i)
        bells.append(bellJson(i));
    const bool hasNext = board.running() && day.contains(day.next());
    return QJsonObject{
        {QStringLiteral("date"), date.toString(Qt::ISODate)},
        {QStringLiteral("mode"), board.running() ? QStringLiteral("running") : QStringLiteral("stopped")},
        {QStringLiteral("next"), hasNext ? QJsonValue(day.entry(day.next()).id) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("bells"), bells},
    };
}
