#include "ringclock.h"

#include "secondsofday.h"

namespace {

qint64 absSeconds(const QDateTime &at)
{
    const QTime time = at.time();
    return at.date().toJulianDay() * 86400 + timetoint(time.hour(), time.minute(), time.second());
}

} // namespace

RingClock::RingClock(const Clock &clock, QTimer &timer) : m_clock(clock), m_timer(timer)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
}

void RingClock::arm(int minMs)
{
    int ms = 1000 - m_clock.now().time().msec() + kTickDelayMs;
    while (ms < minMs)
        ms += 1000;
    m_timer.start(ms);
}

RingClock::Tick RingClock::next()
{
    arm();
    const QDateTime now = m_clock.now();
    Tick t;
    t.date = now.date();
    t.dayStart = t.date.toJulianDay() * 86400;
    t.nowAbs = absSeconds(now);
    t.prevAbs = m_prevAbs.value_or(t.nowAbs - 1);
    t.prevDate = std::exchange(m_prevDate, t.date);
    t.count = ++m_count;
    m_prevAbs = t.nowAbs;
    return t;
}

qint64 RingClock::nowAbs() const
{
    return absSeconds(m_clock.now());
}

std::optional<qint64> RingClock::lastTickToday() const
{
    if (!m_prevAbs)
        return std::nullopt;
    const QDate today = m_clock.now().date();
    if (today != m_prevDate)
        return 0;
    return *m_prevAbs - today.toJulianDay() * 86400;
}
