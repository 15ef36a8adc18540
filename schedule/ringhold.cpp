// Holding the bells back while something has priority over them (an
// emergency broadcast): nothing rings, what falls due is recorded as not
// rung with the reason, and nothing held back rings late afterwards. Also
// what a hold and a switch of mode share: silencing what sounds or is
// about to.
#include "ringengine.h"

#include "logging.h"

void RingEngine::holdBells(const QString &reason)
{
    m_holdReason = reason.isEmpty() ? QStringLiteral("铃声被暂停") : reason;
    // A start still retried or still loading would otherwise ring late.
    if (m_retry)
        recordFailure(std::exchange(m_retry, std::nullopt)->bell, BellStatus::Missed, m_holdReason);
    if (m_waiting)
        recordFailure(std::exchange(m_waiting, std::nullopt)->bell, BellStatus::Missed, m_holdReason);
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
