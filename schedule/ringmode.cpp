// The mode switch, the blink, and what stopped mode does each second: it
// rings nothing, but records every bell it skips and tells the bands which
// bell is skipped next.
#include "ringengine.h"

#include "logging.h"
#include "ringalerts.h"

void RingEngine::TimerShanTimer()
{
    if (!m_board.running())
        return;
    armBlink();
    // The bell sounding flashes 播放; when none does, the next one 等待.
    const bool plays = m_sounding && (m_sounding->zones ? m_zones.sounding() : m_sounding->player->isPlaying());
    const int sounding = plays ? m_day.indexOf(m_sounding->key) : -1;
    if (sounding >= 0)
        m_board.blink(sounding, BellStatus::Playing);
    else
        m_board.blink(m_day.next(), BellStatus::Waiting);
}

void RingEngine::ButtonPlayClick()
{
    if (m_board.testing())
        return;
    if (m_board.running()) {
        m_board.setRunning(false);
        TimerShan.stop();
    } else {
        m_board.setRunning(true);
        armBlink();
    }
    abandonRetry();
    abandonWaiting();
    silenceBells();
    m_board.Refresh();
    // The band comes (or goes) with the click, not a second later.
    const qint64 nowAbs = nowAbsSeconds();
    stoppedCheck(nowAbs, nowAbs, nowAbs - nowAbs % 86400);
}

void RingEngine::stoppedCheck(qint64 nowAbs, qint64 prevAbs, qint64 dayStart)
{
    RingAlerts *alerts = m_outcomes.alerts();
    if (m_board.running()) {
        if (alerts)
            alerts->setNextSkipped(std::nullopt);
        return;
    }
    if (!m_today || m_today->dayStart != dayStart) {
        m_today = Today{dayStart, {}};
        try {
            m_today->bells = m_board.todaysBells();
        } catch (const std::exception &e) {
            // Read again with the next list (the store keeper reloads it
            // once the store is back); the band stays silent meanwhile.
            qCWarning(lcRing) << "today's bells not read in stopped mode:" << e.what();
        }
    }
    const QList<BellEntry> &bells = m_today->bells;
    const DueBells::Skipped skipped = m_due.skipped(bells, dayStart, prevAbs, nowAbs);
    for (int i : skipped.passed) {
        const BellEntry &e = bells[i];
        recordFailure({{e.id, e.time}, dayStart, e.name, e.music, e.zones}, BellStatus::Missed, kStoppedReason);
    }
    if (alerts)
        alerts->setNextSkipped(skipped.next < 0 ? std::nullopt
                                                : std::optional<RingAlerts::Bell>(RingAlerts::Bell{
                                                      bells[skipped.next].time, bells[skipped.next].name,
                                                      kStoppedReason}));
}
