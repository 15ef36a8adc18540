#include "relayplan.h"

#include "relaylog.h"

#include <algorithm>

RelayPlan::RelayPlan(RelayDevices &devices, const Clock &clock, QObject *parent)
    : QObject(parent), m_devices(devices), m_clock(clock)
{
    timer.setInterval(kTickMs);
    connect(&timer, &QTimer::timeout, this, &RelayPlan::tick);
}

void RelayPlan::setRelays(const QList<Relay> &relays)
{
    std::map<qint64, State> next;
    for (const Relay &r : relays) {
        State s;
        try {
            s.address = RelayAddress::parse(r.driver, r.address);
        } catch (const AppError &e) {
            qCWarning(lcRelay).noquote() << "relay" << r.name << "left out:" << e.text();
            continue;
        }
        s.relay = r;
        s.device = m_devices.device(s.address);
        if (!m_watched.contains(s.device)) {
            m_watched << s.device;
            RelayDevice *d = s.device;
            connect(d, &RelayDevice::coilSet, this,
                    [this, d](int unit, int channel, bool on, bool ok, const QString &error) {
                        onCoilSet(d, unit, channel, on, ok, error);
                    });
        }
        // The same relay where it was: what it was asked and answered stays.
        if (auto it = m_states.find(r.id); it != m_states.end() && it->second.device == s.device
            && it->second.relay.channel == r.channel && it->second.address.unit == s.address.unit) {
            s.want = it->second.want;
            s.sent = it->second.sent;
            s.confirmed = it->second.confirmed;
            s.inFlight = it->second.inFlight;
            s.failing = it->second.failing;
            s.retryAt = it->second.retryAt;
            m_states.erase(it);
        }
        next.emplace(r.id, s);
    }
    // Those gone (or moved elsewhere) are left at rest where they were.
    for (auto &[id, old] : m_states)
        if (old.sent.value_or(true))
            old.device->setCoil(old.address.unit, old.relay.channel, false);
    m_states = std::move(next);
}

void RelayPlan::setUpcoming(const QList<Sound> &sounds)
{
    // What has sounded and still holds its relays stays; the sounds to come
    // are replaced.
    const QDateTime now = m_clock.now();
    QList<Sound> kept;
    for (const Sound &s : m_upcoming)
        if (s.start <= now)
            kept << s;
    m_upcoming = kept + sounds;
}

void RelayPlan::soundStarted(const QString &key, const QList<qint64> &zones, bool everywhere)
{
    const QDateTime now = m_clock.now();
    m_live.insert(key, Sound{now, now, zones, everywhere});
    // Not left for the next tick: an emergency's relays switch now.
    tick();
}

void RelayPlan::soundEnded(const QString &key)
{
    auto it = m_live.find(key);
    if (it == m_live.end())
        return;
    Sound s = *it;
    s.end = m_clock.now();
    m_live.erase(it);
    m_upcoming << s; // holds its relays their 保持 from now
}

bool RelayPlan::powers(const Relay &relay, const Sound &sound) const
{
    if (sound.everywhere)
        return true;
    if (relay.zones.isEmpty() || sound.zones.isEmpty())
        return relay.zones.isEmpty() && sound.zones.isEmpty();
    for (qint64 z : sound.zones)
        if (relay.zones.contains(z))
            return true;
    return false;
}

void RelayPlan::want(const QDateTime &now)
{
    for (auto &[id, s] : m_states)
        s.want = false;
    // The relays a sound powers, in the sequence's order.
    auto poweredBy = [this](const Sound &sound) {
        QList<State *> out;
        for (auto &[id, s] : m_states)
            if (powers(s.relay, sound))
                out << &s;
        std::stable_sort(out.begin(), out.end(), [](const State *a, const State *b) {
            return a->relay.order < b->relay.order;
        });
        return out;
    };
    for (const Sound &live : std::as_const(m_live))
        for (State *s : poweredBy(live))
            s->want = true;
    QList<Sound> still;
    for (const Sound &sound : std::as_const(m_upcoming)) {
        const QList<State *> relays = poweredBy(sound);
        const qint64 n = relays.size();
        const QDateTime end = std::max(sound.start, sound.end);
        bool needed = false;
        for (qint64 i = 0; i < n; ++i) {
            State *s = relays[i];
            // The first in order switches on earliest and off last.
            const qint64 stagger = (n - 1 - i) * kStepMs;
            const QDateTime onAt = sound.start.addMSecs(-s->relay.preMs - stagger);
            const QDateTime offAt = end.addMSecs(s->relay.holdMs + stagger);
            // A tick early rather than late: on at least its 预开 before.
            if (onAt <= now.addMSecs(kTickMs) && now < offAt)
                s->want = true;
            needed = needed || now < offAt;
        }
        if (needed)
            still << sound;
    }
    m_upcoming = still;
}

void RelayPlan::send(State &s, bool on, const QDateTime &now)
{
    s.sent = on;
    s.inFlight = true;
    if (s.failing)
        s.retryAt = now.addMSecs(kRetryMs);
    emit switching(s.relay.id, on);
    s.device->setCoil(s.address.unit, s.relay.channel, on);
}

void RelayPlan::tick()
{
    const QDateTime now = m_clock.now();
    want(now);
    // "About" kStepMs: a tick may come a little late.
    auto stepped = [&](const QDateTime &last) {
        return !last.isValid() || last.msecsTo(now) >= kStepMs - kTickMs || last > now;
    };
    QList<State *> toOn, toOff;
    for (auto &[id, s] : m_states) {
        if (s.failing) {
            // Tried again on its own, outside the sequence: a dead relay
            // must not hold the others back.
            if (!s.inFlight && s.confirmed != s.want && now >= s.retryAt)
                send(s, s.want, now);
            continue;
        }
        if (s.sent == s.want)
            continue;
        (s.want ? toOn : toOff) << &s;
    }
    auto byOrder = [](const State *a, const State *b) {
        return a->relay.order != b->relay.order ? a->relay.order < b->relay.order
                                                : a->relay.id < b->relay.id;
    };
    std::sort(toOn.begin(), toOn.end(), byOrder);
    std::sort(toOff.begin(), toOff.end(), [&](const State *a, const State *b) { return byOrder(b, a); });
    if (!toOn.isEmpty() && stepped(m_lastOn)) {
        send(*toOn.front(), true, now);
        m_lastOn = now;
    }
    if (!toOff.isEmpty() && stepped(m_lastOff)) {
        send(*toOff.front(), false, now);
        m_lastOff = now;
    }
}

void RelayPlan::onCoilSet(RelayDevice *device, int unit, int channel, bool on, bool ok,
                          const QString &error)
{
    for (auto &[id, s] : m_states) {
        if (s.device != device || s.address.unit != unit || s.relay.channel != channel)
            continue;
        if (s.sent != on) // an answer to a switch already overtaken
            continue;
        s.inFlight = false;
        if (ok) {
            s.confirmed = on;
            if (s.failing) {
                s.failing = false;
                qCInfo(lcRelay).noquote() << "relay" << s.relay.name << "answers again";
                emit answered(s.relay.name);
            }
            continue;
        }
        s.confirmed.reset();
        s.retryAt = m_clock.now().addMSecs(kRetryMs);
        if (!s.failing) {
            s.failing = true;
            qCWarning(lcRelay).noquote() << "relay" << s.relay.name << "did not switch"
                                         << (on ? "on:" : "off:") << error;
            emit unanswered(s.relay.name, unansweredText(s.relay.name));
        }
    }
}

void RelayPlan::start()
{
    for (auto &[id, s] : m_states)
        send(s, false, m_clock.now());
    timer.start();
}

void RelayPlan::rest()
{
    timer.stop();
    m_live.clear();
    m_upcoming.clear();
    for (auto &[id, s] : m_states)
        send(s, false, m_clock.now());
}

bool RelayPlan::isOn(qint64 relay) const
{
    auto it = m_states.find(relay);
    return it != m_states.end() && it->second.sent.value_or(false);
}

QStringList RelayPlan::unansweredFor(const QList<qint64> &zones, bool everywhere) const
{
    QStringList out;
    const Sound sound{{}, {}, zones, everywhere};
    for (const auto &[id, s] : m_states)
        if (s.failing && powers(s.relay, sound))
            out << s.relay.name;
    return out;
}
