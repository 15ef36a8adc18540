// Opening the next bell ahead of its second, and starting it early by its
// player's start latency; a file that loads slowly goes on loading and its
// bell starts when loaded, within the catch-up window.
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
        if (m_day.rung().wasRung(dayStart, key))
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

int RingEngine::dueAt(qint64 dueAbs, qint64 dayStart) const
{
    QList<BellKey> kept;
    return m_due.at(m_day.entries(), m_day.next(), dayStart, dueAbs - 1, dueAbs, kept).ring;
}

void RingEngine::armEarlyStart(qint64 nowAbs, qint64 dayStart)
{
    TimerStart.stop();
    m_earlyFor.reset();
    const std::optional<BellKey> key = m_playout.ready(dayStart);
    const qint64 lead = m_playout.startLeadMs();
    // Only the bell of the coming second, on 铃声输出, with nothing of an
    // earlier bell still pending; a new day's first second is left to its
    // own list. Without a lead it still starts at the second itself, not
    // with the tick (after the second, and after the tick's own work).
    if (!key || m_retry || m_waiting || m_deferred || held() || (m_taken && m_taken->everywhere) || dayStart + key->seconds != nowAbs + 1
        || key->seconds == 0)
        return;
    const int index = dueAt(nowAbs + 1, dayStart);
    if (index < 0 || m_day.key(index) != *key || m_zones.hasKnownZone(m_day.entry(index).zones))
        return;
    const QDateTime now = m_clock.now();
    const qint64 ms = (nowAbs + 1 - dayStart) * 1000 - lead - now.time().msecsSinceStartOfDay();
    if (ms <= 0 || now.date().toJulianDay() * 86400 != dayStart)
        return;
    m_earlyFor = EarlyStart{*key, dayStart, now.addMSecs(ms)};
    TimerStart.start(int(ms));
}

void RingEngine::TimerStartTimer()
{
    const std::optional<EarlyStart> early = std::exchange(m_earlyFor, std::nullopt);
    if (!early || !m_board.running() || m_board.testing() || held() || m_retry || m_waiting || m_deferred
        || (m_taken && m_taken->everywhere))
        return;
    // Its second's tick has not come yet (it forgets the early start), the
    // clock has not jumped, and that second still rings this bell.
    const QDateTime now = m_clock.now();
    const qint64 dueMs = early->key.seconds * 1000;
    const qint64 nowMs = now.time().msecsSinceStartOfDay();
    if (now.date().toJulianDay() * 86400 != early->dayStart || nowMs >= dueMs + 1000
        || dueMs - nowMs > RingPlayout::kMaxStartLeadMs + kPrepareDelayMs)
        return;
    const int index = dueAt(early->dayStart + early->key.seconds, early->dayStart);
    if (index < 0 || m_day.key(index) != early->key)
        return;
    try {
        m_playout.startEarly(early->key, early->dayStart, early->aimedAt);
    } catch (const std::exception &e) {
        // Its second starts it again, and tells what failed.
        m_playout.dropEarly();
        qCDebug(lcRing) << "early start failed:" << e.what();
    }
}
