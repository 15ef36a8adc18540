#include "relaylink.h"

#include "bellboard.h"
#include "bellstore.h"
#include "emergencybroadcast.h"
#include "relaylog.h"
#include "ringengine.h"
#include "testplayback.h"

RelayLink::RelayLink(BellStore &store, BellBoard &board, RingEngine &engine, TestPlayback &test,
                     EmergencyBroadcast &emergency, const Clock &clock,
                     std::function<QList<Zone>()> zones, QObject *parent)
    : QObject(parent), m_store(store), m_board(board), m_engine(engine), m_emergency(emergency), m_clock(clock),
      m_zones(std::move(zones)), m_plan(m_devices, clock), m_inputs(m_devices, clock)
{
    // Each rang() is followed by one bellEnded(): the first still sounding
    // is the one that ends, whatever came in between.
    connect(&engine, &RingEngine::rang, this, [this](int, const QList<qint64> &zones) {
        m_bells.append(QStringLiteral("bell %1").arg(++m_bellSerial));
        m_plan.soundStarted(m_bells.last(), zones);
    });
    connect(&engine, &RingEngine::bellEnded, this, [this] {
        if (!m_bells.isEmpty())
            m_plan.soundEnded(m_bells.takeFirst());
    });
    connect(&test, &TestPlayback::testing, this, [this](bool on) {
        if (on)
            m_plan.soundStarted(QStringLiteral("test"), {}, true);
        else
            m_plan.soundEnded(QStringLiteral("test"));
    });
    connect(&emergency, &EmergencyBroadcast::activeChanged, this, [this](bool on) {
        if (on) {
            m_plan.soundStarted(QStringLiteral("emergency"), {}, true);
        } else {
            m_plan.soundEnded(QStringLiteral("emergency"));
            m_fireStarted = false;
        }
    });
    connect(&board.day(), &DaySchedule::listChanged, this, &RelayLink::lookAhead);
    connect(&m_plan, &RelayPlan::unanswered, this, [this](const QString &, const QString &text) {
        emit unanswered(text);
        emit bandChanged();
    });
    connect(&m_inputs, &FireInputs::unanswered, this, [this](const QString &, const QString &text) {
        emit unanswered(text);
        emit bandChanged();
    });
    connect(&m_plan, &RelayPlan::answered, this, &RelayLink::bandChanged);
    connect(&m_inputs, &FireInputs::answered, this, &RelayLink::bandChanged);
    // The bell's record is written as it starts: the relays that have not
    // answered by then are named in it.
    engine.setPowerNote([this](const QList<qint64> &zones) { return recordNote(zones); });
    connect(&m_inputs, &FireInputs::alarmRaised, this, &RelayLink::fireRaised);
    connect(&m_inputs, &FireInputs::alarmCleared, this, &RelayLink::fireCleared);
    m_look.setInterval(kLookMs);
    connect(&m_look, &QTimer::timeout, this, &RelayLink::lookAhead);
    reload();
}

RelayLink::~RelayLink()
{
    m_engine.setPowerNote({});
    m_look.stop();
    m_inputs.stop();
    m_plan.rest();
}

void RelayLink::reload()
{
    try {
        const RelayStore tables(m_store);
        const QList<Relay> relays = tables.relays();
        const QList<FireInput> inputs = tables.fireInputs();
        m_plan.setRelays(relays);
        m_inputs.setInputs(inputs);
        // A school without relays or contacts pays nothing: no timer wakes
        // the engine for empty tables.
        if (relays.isEmpty()) {
            m_plan.timer.stop();
            m_look.stop();
        } else if (!m_plan.timer.isActive()) {
            m_plan.start(); // at rest first
            m_look.start();
        }
        if (inputs.isEmpty())
            m_inputs.stop();
        else
            m_inputs.start();
    } catch (const std::exception &e) {
        // The relays known before stay as they were.
        qCWarning(lcRelay) << "relays not read:" << e.what();
    }
    lookAhead();
    emit bandChanged(); // a relay removed or moved is no longer named
}

QString RelayLink::bandText() const
{
    QStringList texts;
    for (const QString &name : m_plan.unansweredFor({}, true))
        texts << RelayPlan::unansweredText(name);
    for (const QString &name : m_inputs.unansweredNames())
        texts << FireInputs::unansweredText(name);
    if (texts.isEmpty())
        return {};
    return texts.join(QStringLiteral("；"))
        + QStringLiteral("。铃声照常播放，程序每隔几秒重试；请检查模块的电源、网线或串口线。");
}

QString RelayLink::recordNote(const QList<qint64> &zones) const
{
    QStringList texts;
    for (const QString &name : m_plan.unansweredFor(zones))
        texts << RelayPlan::unansweredText(name);
    return texts.join(QStringLiteral("。"));
}

void RelayLink::broadcastPlaying(bool on, const QList<qint64> &zones)
{
    const std::optional<QList<qint64>> now = on ? std::optional(zones) : std::nullopt;
    if (now == m_broadcast)
        return;
    // Other zones chosen while it plays: those it leaves hold their 保持.
    if (m_broadcast)
        m_plan.soundEnded(QStringLiteral("broadcast"));
    m_broadcast = now;
    if (on)
        m_plan.soundStarted(QStringLiteral("broadcast"), zones);
}

void RelayLink::lookAhead()
{
    // Stopped mode rings nothing: no bell to power.
    QList<RelayPlan::Sound> sounds;
    if (m_board.running()) {
        const QDateTime now = m_clock.now();
        const QDateTime midnight = now.date().startOfDay();
        for (const BellEntry &e : m_board.day().entries()) {
            if (!e.hasValidTime())
                continue;
            const QDateTime start = midnight.addSecs(e.time);
            if (start < now)
                continue;
            bool ok = false;
            const qint64 seconds = e.duration.toLongLong(&ok);
            sounds.append({start, ok && seconds > 0 ? start.addSecs(seconds) : start, e.zones});
        }
    }
    m_plan.setUpcoming(sounds);
}

void RelayLink::fireRaised(const FireInput &input)
{
    if (m_emergency.active())
        return; // already sounding: the operator's, or this alarm's
    QStringList names;
    const QList<Zone> zones = m_zones ? m_zones() : QList<Zone>{};
    for (qint64 id : input.zones)
        for (const Zone &z : zones)
            if (z.id == id)
                names << z.name;
    if (names.isEmpty() && !input.zones.isEmpty())
        qCWarning(lcRelay).noquote() << "fire input" << input.name << "names no zone that exists: sounds everywhere";
    const QString refused = m_emergency.start({input.music, names, EmergencyBroadcast::Origin::FireAlarm});
    if (!refused.isEmpty()) {
        // A file that cannot play must not keep the alarm silent.
        qCWarning(lcRelay).noquote() << "fire input" << input.name << "could not start:" << refused
                                     << "- the alarm tone plays everywhere";
        m_emergency.start({QString(), {}, EmergencyBroadcast::Origin::FireAlarm});
    }
    m_fireStarted = m_emergency.active();
}

void RelayLink::fireCleared(const FireInput &input)
{
    if (!m_fireStarted)
        return;
    qCInfo(lcRelay).noquote() << "fire input" << input.name << "opened: the emergency broadcast ends";
    m_emergency.stop(EmergencyBroadcast::Origin::FireAlarm);
}
