// How a bell ended: its status in the day's list, the fault kept for the
// day's reloads, its record in the ring history, its log line, the engine's
// signals, and the boxes shown after the tick.
#include "ringengine.h"

#include "logging.h"
#include "ringalerts.h"
#include "ringhistory.h"
#include "secondsofday.h"

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
    if (m_waiting)
        recordFailure(std::exchange(m_waiting, std::nullopt)->bell, BellStatus::Failed, kSlowOpenReason);
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
