// What the engine holds of a bell's start and end: the bell sounding, the
// start retried while its output may come back, the file still loading.
// What they come to is written by RingOutcomes.
#include "ringengine.h"

#include <algorithm>

#include "logging.h"
#include "secondsofday.h"
#include "outputgroup.h"
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
        m_zones.drop();
    }
}

void RingEngine::onEnded(AudioPlayer *p, bool interrupted)
{
    // A bell in zones ends with its zones (zonesEnded).
    if (m_sounding && !m_sounding->zones && m_sounding->player == p)
        endSounding(interrupted ? BellStatus::Interrupted : BellStatus::Done);
}

void RingEngine::endSounding(BellStatus result)
{
    const Sounding s = *std::exchange(m_sounding, std::nullopt);
    // A bell in zones has its record told zone by zone (RingZones).
    m_outcomes.ended(s.key, s.record, result, m_zones.tells(s.record));
}

void RingEngine::started(AudioPlayer *p, const Bell &bell, qint64 dayStart, bool inZones,
                         const QStringList &silent, bool heardNowhere)
{
    // When play() returned: the delay the operator hears. A bell started
    // ahead by its player's start latency returns a moment before its
    // second, and is heard at it.
    const QDateTime at = inZones || !m_playout.startedAt().isValid() ? m_clock.now() : m_playout.startedAt();
    const qint64 delayMs = std::max<qint64>(0, at.date().toJulianDay() * 86400000LL + at.time().msecsSinceStartOfDay()
        - (dayStart + bell.key.seconds) * 1000);
    m_retry.reset();
    m_playout.setActive(p);
    // It rang, on the default output: 完成, and the record says where.
    // A zone's player never falls back (ringZones counts that zone silent).
    const QString missing = inZones ? QString() : p->missingOutput();
    const BellStatus result = silent.isEmpty() ? BellStatus::Done
        : heardNowhere                         ? BellStatus::Failed
                                               : BellStatus::PartlyRung;
    const QString note = !silent.isEmpty() ? OutputGroup::silentZonesText(silent)
        : missing.isEmpty()                ? QString()
                                           : missingOutputText(outputLabel ? outputLabel(missing) : SoundServer::label(missing));
    Bell rung = bell;
    rung.dayStart = dayStart;
    m_outcomes.sounded(rung, delayMs, result, note, missing, [&](int record) {
        m_sounding = Sounding{bell.key, p, record, inZones};
        if (inZones)
            m_zones.rang(record);
        m_outcomes.addOutputLatencySoon(p, record, delayMs, [this, record] {
            // A zone heard late set the bell's delay already.
            return m_sounding && m_sounding->record == record && !m_zones.lateSet(record);
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

void RingEngine::ringZones(const Bell &bell, qint64 dayStart, qint64 nowAbs)
{
    const RingZones::Start s = m_zones.ring(bell, m_board.paths().musicFile(bell.music));
    if (s.loading) {
        // Its file still loads: the bell starts with the first zone that has
        // it, late, as a bell on 铃声输出 would.
        m_retry.reset();
        m_waiting = Waiting{bell, nullptr};
        qCInfo(lcRing).noquote() << "bell" << inttotime(bell.key.seconds) << shownText(bell.name)
                                 << "waits for its file to load in its zones:" << shownText(bell.music);
        return;
    }
    if (!s.first) {
        startFailed(bell, s.error ? &*s.error : nullptr, s.failure, nowAbs);
        return;
    }
    if (AudioPlayer *p = m_zones.heardPlayer())
        m_board.setProgressMax(p->length());
    started(s.first, bell, dayStart, true, s.silent, s.heardNowhere);
}

void RingEngine::zonesFirstHeard(AudioPlayer *p, const QStringList &silent)
{
    if (!m_waiting)
        return;
    const Waiting w = *std::exchange(m_waiting, std::nullopt);
    m_board.setProgressMax(p->length());
    started(p, w.bell, w.bell.dayStart, true, silent);
}

void RingEngine::zonesHeardAgain(AudioPlayer *p)
{
    const RingZones::Bell *bell = m_zones.bell();
    if (m_sounding || !bell)
        return;
    m_sounding = Sounding{bell->key, p, m_zones.record(), true};
    emit rang(m_day.indexOf(bell->key), m_zones.soundingZones());
}

void RingEngine::zonesEnded(BellStatus result)
{
    if (m_sounding && m_sounding->zones)
        endSounding(result);
}

void RingEngine::zonesFailed(const QString &message)
{
    if (!m_waiting)
        return;
    const Waiting w = *std::exchange(m_waiting, std::nullopt);
    startFailed(w.bell, nullptr, message, nowAbsSeconds());
}

void RingEngine::stopMainPlayers()
{
    for (AudioPlayer *p : m_playout.players()) {
        if (!p || !p->isPlaying())
            continue;
        try {
            p->stop();
        } catch (const std::exception &e) {
            qCDebug(lcRing) << "stopping the bell on 铃声输出:" << e.what();
        }
    }
}
