// The engine's notifications: each one sent when what it tells has changed,
// from the core's own signals (never from a poll, never on a blink beat).
#include "emergencybroadcast.h"
#include "engineapi.h"
#include "relaylink.h"
#include "enginecore.h"
#include "ringalerts.h"
#include "ringengine.h"
#include "rpcserver.h"
#include "storehealth.h"
#include "testplayback.h"

#include <QTimer>

namespace {

QString modeText(bool running)
{
    return running ? QStringLiteral("running") : QStringLiteral("stopped");
}

} // namespace

void EngineApi::connectCore()
{
    m_link = new QObject(this);
    BellBoard &board = m_core->board();
    DaySchedule &day = board.day();
    RingEngine &engine = m_core->engine();

    connect(&engine, &RingEngine::rang, m_link, [this](int index, const QList<qint64> &) {
        const DaySchedule &day = m_core->board().day();
        if (!day.contains(index))
            return;
        m_sounding = day.key(index);
        // Taken as the signal comes, right after the sound has started.
        const QDateTime now = m_core->board().clock().now();
        qint64 delay = now.time().msecsSinceStartOfDay() - m_sounding->seconds * 1000;
        if (delay < -43'200'000)
            delay += 86'400'000; // a bell of 23:59:59 heard after midnight
        if (m_delaysDay != now.date().toJulianDay()) {
            m_delays.clear();
            m_delaysDay = now.date().toJulianDay();
        }
        m_delays.insert(*m_sounding, delay);
        tellBells();
        tellPlayback();
        m_progress->start();
    });
    connect(&engine, &RingEngine::bellEnded, m_link, [this] {
        m_sounding.reset();
        tellBells();
        tellPlayback();
    });
    connect(&engine, &RingEngine::ringFailed, m_link, [this] { tellBells(); });
    connect(&day, &DaySchedule::bellChanged, m_link, [this] { tellBells(); });
    connect(&day, &DaySchedule::nextChanged, m_link, [this] { tellBells(); });
    connect(&day, &DaySchedule::listChanged, m_link, [this] {
        rememberShown();
        tellDay();
    });
    auto lastMode = std::make_shared<bool>(board.running());
    connect(&board, &BellBoard::changed, m_link, [this, lastMode] {
        const bool running = m_core->board().running();
        if (running == *lastMode)
            return;
        *lastMode = running;
        m_server.notify(QStringLiteral("Mode.OnChanged"), QJsonObject{{QStringLiteral("mode"), modeText(running)}});
        tellBells();
    });

    EmergencyBroadcast &e = m_core->emergency();
    connect(&e, &EmergencyBroadcast::activeChanged, m_link, [this](bool active) {
        m_server.notify(QStringLiteral("Emergency.OnChanged"), QJsonObject{{QStringLiteral("active"), active}});
        tellBands();
    });
    connect(&m_core->ringAlerts(), &RingAlerts::changed, m_link, [this] { tellBands(); });
    connect(&m_core->storeHealth(), &StoreHealth::changed, m_link, [this] { tellBands(); });
    connect(&m_core->relays(), &RelayLink::bandChanged, m_link, [this] { tellBands(); });
    connect(&m_core->testPlayback(), &TestPlayback::testing, m_link, [this](bool on) {
        m_server.notify(QStringLiteral("Test.OnChanged"), QJsonObject{{QStringLiteral("testing"), on}});
        tellPlayback();
        if (on)
            m_progress->start();
    });
    rememberShown();
    m_lastBands = bands();
}

void EngineApi::rememberShown()
{
    m_told.clear();
    const DaySchedule &day = m_core->board().day();
    for (int i = 0; i < day.size(); ++i)
        m_told.insert(day.key(i), shownStatus(i));
}

void EngineApi::tellBells()
{
    if (!m_core)
        return;
    const DaySchedule &day = m_core->board().day();
    for (int i = 0; i < day.size(); ++i) {
        const BellKey key = day.key(i);
        const BellStatus shown = shownStatus(i);
        const auto it = m_told.find(key);
        if (it != m_told.end() && *it == shown)
            continue;
        m_told.insert(key, shown);
        const std::optional<qint64> delay = delayOf(i);
        const BellEntry &e = day.entry(i);
        m_server.notify(QStringLiteral("Bell.OnStatus"),
                        QJsonObject{{QStringLiteral("id"), e.id},
                                    {QStringLiteral("time"), timeText(e.time)},
                                    {QStringLiteral("status"), bellstatus::text(shown)},
                                    {QStringLiteral("delayMs"), delay ? QJsonValue(*delay) : QJsonValue()},
                                    {QStringLiteral("zones"), zoneNames(e.zones)}});
    }
}

void EngineApi::tellDay()
{
    const BellBoard &board = m_core->board();
    m_server.notify(QStringLiteral("Day.OnChanged"),
                    QJsonObject{{QStringLiteral("date"), board.clock().now().date().toString(Qt::ISODate)},
                                {QStringLiteral("mode"), modeText(board.running())}});
}

void EngineApi::tellBands()
{
    const QJsonArray now = bands();
    if (now == m_lastBands)
        return;
    m_lastBands = now;
    m_server.notify(QStringLiteral("Bands.OnChanged"), QJsonObject{{QStringLiteral("bands"), now}});
}

void EngineApi::tellPlayback()
{
    if (!m_core)
        return;
    const QJsonValue now = playing();
    if (now.isNull())
        m_progress->stop();
    m_server.notify(QStringLiteral("Playback.OnChanged"),
                    now.isNull() ? QJsonObject{{QStringLiteral("id"), QJsonValue::Null}, {QStringLiteral("music"), QString()}}
                                 : now.toObject());
}
