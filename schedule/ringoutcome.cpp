// What the engine holds of a bell's start and end: the bell sounding, the
// start retried while its output may come back, the file still loading.
// What they come to is written by RingOutcomes.
#include "ringengine.h"

#include "logging.h"
#include "secondsofday.h"
#include "soundserver.h"

void RingEngine::abandonRetry()
{
    // Its list is gone (a new day, or stopped mode): the record remains.
    if (!m_retry)
        return;
    const Retry r = *std::exchange(m_retry, std::nullopt);
    recordFailure(r.bell, BellStatus::Failed, r.message);
}

void RingEngine::abandonWaiting()
{
    if (m_waiting) {
        recordFailure(std::exchange(m_waiting, std::nullopt)->bell, BellStatus::Failed, kSlowOpenReason);
        dropZoneBell();
    }
}

void RingEngine::onEnded(AudioPlayer *p, bool interrupted)
{
    if (!m_sounding)
        return;
    if (m_sounding->zones.contains(p))
        zoneEnded(p, interrupted);
    else if (m_sounding->player == p && !(m_zoneBell && m_zoneBell->record == m_sounding->record))
        endSounding(interrupted ? BellStatus::Interrupted : BellStatus::Done);
}

void RingEngine::endSounding(BellStatus result)
{
    const Sounding s = *std::exchange(m_sounding, std::nullopt);
    // A bell in zones has its record told zone by zone (updateZoneRecord).
    const bool zones = m_zoneBell && m_zoneBell->record == s.record;
    m_outcomes.ended(s.key, s.record, result, zones);
}

void RingEngine::started(AudioPlayer *p, const Bell &bell, qint64 dayStart, const QStringList &silent,
                         bool heardNowhere)
{
    // Measured right after play() returned: the delay the operator hears.
    const QDateTime at = m_clock.now();
    const qint64 delayMs = at.date().toJulianDay() * 86400000LL + at.time().msecsSinceStartOfDay()
        - (dayStart + bell.key.seconds) * 1000;
    m_retry.reset();
    m_playout.setActive(p);
    // It rang, on the default output: 完成, and the record says where.
    // A zone's player never falls back (ringZones counts that zone silent).
    const QString missing = bell.zones.isEmpty() ? p->missingOutput() : QString();
    const BellStatus result = silent.isEmpty() ? BellStatus::Done
        : heardNowhere                         ? BellStatus::Failed
                                               : BellStatus::PartlyRung;
    const QString note = !silent.isEmpty() ? silentZonesText(silent)
        : missing.isEmpty()                ? QString()
                                           : missingOutputText(outputLabel ? outputLabel(missing) : SoundServer::label(missing));
    Bell rung = bell;
    rung.dayStart = dayStart;
    m_outcomes.sounded(rung, delayMs, result, note, missing, [&](int record) {
        m_sounding = Sounding{bell.key, p, record, {}};
        m_outcomes.addOutputLatencySoon(p, record, delayMs, [this, record] {
            // A zone heard late set the bell's delay already.
            return m_sounding && m_sounding->record == record
                && !(m_zoneBell && m_zoneBell->record == record && m_zoneBell->latestMs > 0);
        });
    });
}

void RingEngine::startFailed(const Bell &bell, const AudioError *audio, const QString &message,
                             qint64 nowAbs)
{
    if (audio && audio->isOutputFailure()
        && nowAbs - (bell.dayStart + bell.key.seconds) < m_due.catchUpSeconds()) {
        // The output may be back a moment later: the next ticks try again
        // while the window lasts; the cursor stays on the bell.
        m_retry = Retry{bell, message};
        qCInfo(lcRing).noquote() << "bell" << inttotime(bell.key.seconds) << shownText(bell.name)
                                 << "retried, the output failed:" << message;
        return;
    }
    m_retry.reset();
    // The day goes on: the bell is marked failed and the cursor moves past
    // it; its box opens after the tick.
    recordFailure(bell, BellStatus::Failed, message);
    const int index = m_day.indexOf(bell.key);
    if (index >= 0 && m_day.next() <= index)
        m_day.setNext(index + 1);
    m_outcomes.post(message);
}
