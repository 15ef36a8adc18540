// Opening the next bell ahead of its second, and a file that loads slowly:
// it goes on loading and its bell starts when loaded, within the catch-up
// window.
#include "ringengine.h"

#include "logging.h"

void RingEngine::prepareNext(qint64 nowAbs, qint64 dayStart)
{
    if (m_waiting)
        return; // the player that loads must not be taken from that bell
    AudioPlayer *target = m_playout.idle();
    if (!target)
        return;
    for (int i = m_day.next(); i < m_day.size(); ++i) {
        if (!m_day.entry(i).hasValidTime())
            continue;
        const qint64 abs = dayStart + m_day.entry(i).time;
        if (abs <= nowAbs)
            continue; // the bell of this second, or one to be marked past
        if (abs - nowAbs > kPrepareAheadSeconds)
            return;
        const BellKey key = m_day.key(i);
        if (m_due.wasRung(dayStart, key))
            continue;
        if (!m_playout.tryOnce(key, dayStart))
            return;
        const QString name = m_day.entry(i).music;
        if (!AppPaths::isBareFileName(name))
            return; // it fails at its own second, with its message
        const QString path = m_board.paths().musicFile(name);
        if (m_zones.hasKnownZone(m_day.entry(i).zones)) {
            m_zones.prepare(bellAt(i, dayStart), path);
            return;
        }
        m_playout.openAhead(target, key, dayStart, path);
        return;
    }
}

void RingEngine::onOpened(AudioPlayer *p)
{
    m_playout.opened(p);
    if (!m_waiting || m_waiting->player != p)
        return;
    const Waiting w = *std::exchange(m_waiting, std::nullopt);
    m_playout.forget();
    const qint64 nowAbs = nowAbsSeconds();
    if (!m_board.running())
        return;
    if (nowAbs - (w.bell.dayStart + w.bell.key.seconds) > m_due.catchUpSeconds()) {
        // Loaded too late to be of use: the bell did not sound.
        recordFailure(w.bell, BellStatus::Failed, kSlowOpenReason);
        m_outcomes.post(kSlowOpenReason);
        return;
    }
    try {
        m_playout.playOpened(p, p->length());
        started(p, w.bell, w.bell.dayStart);
    } catch (const std::exception &e) {
        startFailed(w.bell, dynamic_cast<const AudioError *>(&e), BellBoard::ringFailureText(e), nowAbs);
    }
}

void RingEngine::onOpenFailed(AudioPlayer *p, const QString &text, AudioError::Cause cause)
{
    m_playout.openFailed(p);
    if (!m_waiting || m_waiting->player != p)
        return;
    const Waiting w = *std::exchange(m_waiting, std::nullopt);
    const AudioError error(text, cause);
    startFailed(w.bell, &error, BellBoard::ringFailureText(error), nowAbsSeconds());
}
