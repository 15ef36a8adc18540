#include "fireinputs.h"
#include "relaylog.h"

#include <algorithm>

std::optional<bool> ContactDebounce::feed(bool closed, qint64 ms)
{
    if (closed == m_steady) {
        m_seen.reset(); // a bounce that came back
        return std::nullopt;
    }
    if (m_seen != closed) {
        m_seen = closed;
        m_since = ms;
    }
    if (ms - m_since < kDebounceMs)
        return std::nullopt;
    m_steady = closed;
    m_seen.reset();
    return closed;
}

FireInputs::FireInputs(RelayDevices &devices, const Clock &clock, QObject *parent)
    : QObject(parent), m_devices(devices), m_clock(clock)
{
    m_timer.setInterval(kPollMs);
    connect(&m_timer, &QTimer::timeout, this, &FireInputs::poll);
}

void FireInputs::setInputs(const QList<FireInput> &inputs)
{
    QList<State> next;
    for (const FireInput &f : inputs) {
        State s;
        try {
            s.address = RelayAddress::parse(f.driver, f.address);
        } catch (const AppError &e) {
            qCWarning(lcRelay).noquote() << "fire input" << f.name << "left out:" << e.text();
            continue;
        }
        if (!s.address.canReadInputs()) {
            qCWarning(lcRelay).noquote() << "fire input" << f.name << "left out: its driver reads nothing";
            continue;
        }
        s.input = f;
        s.device = m_devices.device(s.address);
        if (!m_watched.contains(s.device)) {
            m_watched << s.device;
            RelayDevice *d = s.device;
            connect(d, &RelayDevice::inputRead, this,
                    [this, d](int unit, int channel, bool closed, bool ok, const QString &error) {
                        onRead(d, unit, channel, closed, ok, error);
                    });
        }
        for (const State &old : std::as_const(m_states))
            if (old.input.id == f.id && old.device == s.device && old.input.channel == f.channel
                && old.address.unit == s.address.unit) {
                s.debounce = old.debounce;
                s.failing = old.failing;
                s.retryMs = old.retryMs;
                s.nextMs = old.nextMs;
            }
        next << s;
    }
    m_states = next;
}

void FireInputs::poll()
{
    const qint64 ms = m_clock.now().toMSecsSinceEpoch();
    for (const State &s : std::as_const(m_states))
        if (ms >= s.nextMs)
            s.device->readInput(s.address.unit, s.input.channel);
}

bool FireInputs::closed(qint64 input) const
{
    for (const State &s : m_states)
        if (s.input.id == input)
            return s.debounce.closed();
    return false;
}

void FireInputs::onRead(RelayDevice *device, int unit, int channel, bool closed, bool ok,
                        const QString &error)
{
    const qint64 ms = m_clock.now().toMSecsSinceEpoch();
    for (State &s : m_states) {
        if (s.device != device || s.address.unit != unit || s.input.channel != channel)
            continue;
        if (!ok) {
            s.retryMs = s.retryMs ? std::min(2 * s.retryMs, kMaxRetryMs) : kFirstRetryMs;
            s.nextMs = ms + s.retryMs;
            if (!s.failing) {
                s.failing = true;
                qCWarning(lcRelay).noquote() << "fire input" << s.input.name << "cannot be read:" << error;
                emit unanswered(s.input.name, unansweredText(s.input.name));
            }
            continue;
        }
        s.retryMs = 0;
        s.nextMs = 0;
        if (s.failing) {
            s.failing = false;
            emit answered(s.input.name);
        }
        const std::optional<bool> change = s.debounce.feed(closed, ms);
        if (!change)
            continue;
        qCInfo(lcRelay).noquote() << "fire input" << s.input.name << (*change ? "closed" : "opened");
        const FireInput input = s.input; // the signal's slot may change the list
        if (*change)
            emit alarmRaised(input);
        else if (input.endOnOpen)
            emit alarmCleared(input);
    }
}

QStringList FireInputs::unansweredNames() const
{
    QStringList out;
    for (const State &s : m_states)
        if (s.failing)
            out << s.input.name;
    return out;
}
