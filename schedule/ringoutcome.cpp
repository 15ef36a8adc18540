// How a bell's start went and how the bell ended: its status in the day's
// list, the fault kept for the day's reloads, its record in the ring history
// (with the output's latency added once known), its log line, the engine's
// signals, and the boxes shown after the tick.
#include "ringengine.h"

#include "logging.h"
#include "ringalerts.h"
#include "ringhistory.h"
#include "secondsofday.h"
#include "soundserver.h"

#include <QScopeGuard>

void RingEngine::recordFailure(const Bell &bell, BellStatus result, const QString &reason)
{
    // Never tried again, also not after a clock set back.
    m_rung[bell.dayStart].keys.insert(bell.key); // not its second: a failure is no twin's sound
    m_day.setFault(bell.key, result);
    const int index = m_day.indexOf(bell.key);
    m_day.setStatus(index, result);
    if (m_history) {
        m_history->record({0, QDate::fromJulianDay(bell.dayStart / 86400), bell.key.seconds,
                           bell.name, bell.music, result, std::nullopt, reason, zoneNames(bell.zones)});
        flushSoon();
    }
    qCInfo(lcRing).noquote() << "bell" << inttotime(bell.key.seconds) << shownText(bell.name)
                             << shownText(bell.music) << bellstatus::text(result) << "-" << reason;
    if (m_alerts)
        m_alerts->bellNotRung({bell.key.seconds, shownText(bell.name), reason});
    emit ringFailed(index, result);
}

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
    const int index = m_day.indexOf(s.key);
    // A bell in zones has its record told zone by zone (updateZoneRecord).
    const bool zones = m_zoneBell && m_zoneBell->record == s.record;
    if (result == BellStatus::Interrupted && !zones) {
        m_day.setFault(s.key, result);
        m_day.setStatus(index, result);
        if (m_history) {
            m_history->amend(s.record, result, kInterruptedReason);
            flushSoon();
        }
        qCInfo(lcRing).noquote() << "bell" << inttotime(s.key.seconds)
                                 << (index >= 0 ? shownText(m_day.entry(index).name) : QString())
                                 << bellstatus::text(result) << "-" << kInterruptedReason;
    }
    emit bellEnded(index, result);
}

void RingEngine::postBox(const QString &message)
{
    m_boxes.append(message);
    if (m_boxPosted)
        return;
    m_boxPosted = true;
    QMetaObject::invokeMethod(this, &RingEngine::showPostedBox, Qt::QueuedConnection);
}

void RingEngine::showPostedBox()
{
    m_boxPosted = false;
    const QStringList boxes = std::exchange(m_boxes, {});
    // One box at a time; later failures show in their rows and the log.
    if (m_boxOpen || boxes.isEmpty())
        return;
    m_boxOpen = true;
    const auto close = qScopeGuard([this] { m_boxOpen = false; });
    m_messages.plain(boxes.first());
}

void RingEngine::flushSoon()
{
    // Written from the event loop after this tick: never on a bell's path.
    if (m_flushQueued)
        return;
    m_flushQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_flushQueued = false;
        if (m_history && !m_history->flush())
            QTimer::singleShot(5000, this, [this] { flushSoon(); });
    });
}

void RingEngine::started(AudioPlayer *p, const Bell &bell, qint64 dayStart, const QStringList &silent,
                         bool heardNowhere)
{
    // Measured right after play() returned: the delay the operator hears.
    const QDateTime at = m_clock.now();
    const qint64 delayMs = at.date().toJulianDay() * 86400000LL + at.time().msecsSinceStartOfDay()
        - (dayStart + bell.key.seconds) * 1000;
    noteRung(dayStart, bell.key);
    m_day.markSounded(bell.key);
    m_retry.reset();
    m_active = p == m_players[1] ? 1 : 0;
    // It rang, on the default output: 完成, and the record says where.
    // A zone's player never falls back (ringZones counts that zone silent).
    const QString missing = bell.zones.isEmpty() ? p->missingOutput() : QString();
    const BellStatus result = silent.isEmpty() ? BellStatus::Done
        : heardNowhere                         ? BellStatus::Failed
                                               : BellStatus::PartlyRung;
    const QString note = !silent.isEmpty() ? silentZonesText(silent)
        : missing.isEmpty()                ? QString()
                                           : missingOutputText(outputLabel ? outputLabel(missing) : SoundServer::label(missing));
    if (result != BellStatus::Done) {
        m_day.setFault(bell.key, result);
        m_day.setStatus(m_day.indexOf(bell.key), result);
    }
    int record = 0;
    if (m_history) {
        record = m_history->record({0, QDate::fromJulianDay(dayStart / 86400), bell.key.seconds,
                                    bell.name, bell.music, result, delayMs, note, zoneNames(bell.zones)});
        flushSoon();
    }
    m_sounding = Sounding{bell.key, p, record, {}};
    if (m_history)
        addOutputLatencySoon(p, record, delayMs);
    qCInfo(lcRing).noquote() << "bell" << inttotime(bell.key.seconds) << shownText(bell.name)
                             << shownText(bell.music) << bellstatus::text(result) << delayMs
                             << "ms" << (note.isEmpty() ? QString() : QStringLiteral("- ") + note);
    emit rang(m_day.indexOf(bell.key));
    if (heardNowhere && m_alerts)
        m_alerts->bellNotRung({bell.key.seconds, shownText(bell.name), note});
    if (!silent.isEmpty())
        postBox((heardNowhere ? QStringLiteral("铃声“%1”（%2）在所有分区都没有人收听。%3")
                              : QStringLiteral("铃声“%1”（%2）只在部分分区播出。%3"))
                    .arg(shownText(bell.name), inttotime(bell.key.seconds), note));
    // Once per missing output, not at every bell of the day; again after it
    // was back in between.
    if (missing != m_warnedMissing) {
        m_warnedMissing = missing;
        if (!missing.isEmpty())
            postBox(note);
    }
}

void RingEngine::startFailed(const Bell &bell, const AudioError *audio, const QString &message,
                             qint64 nowAbs)
{
    if (audio && audio->isOutputFailure()
        && nowAbs - (bell.dayStart + bell.key.seconds) < m_catchUp) {
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
    postBox(message);
}

void RingEngine::addOutputLatencySoon(AudioPlayer *p, int record, qint64 delayMs)
{
    QTimer::singleShot(kLatencyReadMs, this, [this, p, record, delayMs] {
        // Only while this bell still sounds: after it, the player may hold
        // another file's figure.
        if (!m_history || !m_sounding || m_sounding->record != record)
            return;
        // A zone heard late set the bell's delay already.
        if (m_zoneBell && m_zoneBell->record == record && m_zoneBell->latestMs > 0)
            return;
        const qint64 latency = p->outputLatencyMs();
        if (latency <= 0)
            return;
        if (latency > kMaxOutputLatencyMs) {
            qCDebug(lcRing) << "output latency" << latency << "ms not added to the delay";
            return;
        }
        m_history->amendDelay(record, delayMs + latency);
        flushSoon();
        qCDebug(lcRing) << "delay with the output's latency:" << delayMs + latency << "ms";
    });
}
