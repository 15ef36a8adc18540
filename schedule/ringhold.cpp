// Holding the bells back while something has priority over them (an
// emergency broadcast): nothing rings, what falls due is recorded as not
// rung with the reason, and nothing held back rings late afterwards. Also
// what a hold and a switch of mode share: silencing what sounds or is
// about to.
#include "ringengine.h"

#include "logging.h"

#include <algorithm>

void RingEngine::holdBells(const QString &reason)
{
    m_holdReason = reason.isEmpty() ? QStringLiteral("铃声被暂停") : reason;
    // A start still retried or still loading would otherwise ring late.
    if (m_retry)
        recordFailure(std::exchange(m_retry, std::nullopt)->bell, BellStatus::Missed, m_holdReason);
    if (m_waiting)
        recordFailure(std::exchange(m_waiting, std::nullopt)->bell, BellStatus::Missed, m_holdReason);
    if (m_deferred)
        recordFailure(std::exchange(m_deferred, std::nullopt)->bell, BellStatus::Missed, m_holdReason);
    silenceBells();
    qCInfo(lcRing).noquote() << "bells held back:" << m_holdReason;
}

void RingEngine::silenceBells()
{
    m_playout.stop();
    m_zones.stop();
    if (m_sounding)
        endSounding(BellStatus::Done);
    // A zone still retried for a bell before would ring late after it.
    m_zones.drop();
    m_playout.forget(true);
}

void RingEngine::releaseBells()
{
    if (!held())
        return;
    m_holdReason.clear();
    qCInfo(lcRing) << "bells no longer held back";
}

bool RingEngine::bellTaken(const QList<qint64> &zones) const
{
    if (!m_taken)
        return false;
    if (m_taken->everywhere)
        return true;
    // Zones the engine does not know leave the bell on 铃声输出.
    if (!m_zones.hasKnownZone(zones))
        return false;
    return std::any_of(zones.begin(), zones.end(), [this](qint64 z) { return m_taken->zones.contains(z); });
}

void RingEngine::takeZones(const QList<qint64> &zones, bool everywhere, const QString &reason)
{
    m_taken = Taken{zones, everywhere, reason};
    // The sound above the bells cuts the bell sounding where it goes.
    if (m_sounding) {
        const bool inZones = m_sounding->zones;
        const QList<qint64> where = inZones ? m_zones.soundingZones() : QList<qint64>{};
        if (everywhere || (inZones && bellTaken(where)))
            silenceBells();
    }
    qCInfo(lcRing).noquote() << "zones taken:" << reason;
}

void RingEngine::giveBackZones()
{
    if (!m_taken)
        return;
    m_taken.reset();
    qCInfo(lcRing) << "zones given back";
    // A bell that waited rings now, not at the next tick.
    if (m_deferred)
        TimerPrepare.start(0);
}
