#include "ringoutcomes.h"

#include "audioplayer.h"
#include "logging.h"
#include "ringalerts.h"
#include "ringhistory.h"
#include "secondsofday.h"

#include <QScopeGuard>
#include <QTimer>

namespace {

QString joinNotes(const QString &a, const QString &b)
{
    return a.isEmpty() ? b : b.isEmpty() ? a : a + QStringLiteral("。") + b;
}

} // namespace

QString RingOutcomes::withPower(int record, const QString &note) const
{
    return joinNotes(note, m_powerNotes.value(record));
}

RingOutcomes::RingOutcomes(DaySchedule &day, Messages &messages, QObject *parent)
    : QObject(parent), m_day(day), m_messages(messages)
{
}

void RingOutcomes::failed(const Bell &bell, BellStatus result, const QString &reason)
{
    m_day.rung().noteFailed(bell.dayStart, bell.key);
    m_day.setFault(bell.key, result);
    const int index = m_day.indexOf(bell.key);
    m_day.setStatus(index, result);
    if (m_history) {
        m_history->record({0, QDate::fromJulianDay(bell.dayStart / 86400), bell.key.seconds, bell.name,
                           bell.music, result, std::nullopt, reason,
                           zoneNames ? zoneNames(bell.zones) : QString(), false, bell.key.id});
        flushSoon();
    }
    qCInfo(lcRing).noquote() << "bell" << inttotime(bell.key.seconds) << shownText(bell.name)
                             << shownText(bell.music) << bellstatus::text(result) << "-" << reason;
    if (m_alerts)
        m_alerts->bellNotRung({bell.key.seconds, shownText(bell.name), reason});
    emit ringFailed(index, result);
}

void RingOutcomes::sounded(const Bell &bell, qint64 delayMs, BellStatus result, const QString &note,
                           const QString &missing, const std::function<void(int record)> &sounding)
{
    m_day.rung().noteRung(bell.dayStart, bell.key);
    if (result != BellStatus::Done) {
        m_day.setFault(bell.key, result);
        m_day.setStatus(m_day.indexOf(bell.key), result);
    }
    int record = 0;
    if (m_history) {
        const QString power = powerNote ? powerNote(bell.zones) : QString();
        record = m_history->record({0, QDate::fromJulianDay(bell.dayStart / 86400), bell.key.seconds,
                                    bell.name, bell.music, result, delayMs, joinNotes(note, power),
                                    zoneNames ? zoneNames(bell.zones) : QString(), true, bell.key.id});
        if (!power.isEmpty()) {
            m_powerNotes.insert(record, power);
            // Only the bells that may still be amended: a few.
            while (m_powerNotes.size() > 8)
                m_powerNotes.erase(m_powerNotes.begin());
        }
        flushSoon();
    }
    if (sounding)
        sounding(record);
    qCInfo(lcRing).noquote() << "bell" << inttotime(bell.key.seconds) << shownText(bell.name)
                             << shownText(bell.music) << bellstatus::text(result) << delayMs << "ms"
                             << (note.isEmpty() ? QString() : QStringLiteral("- ") + note);
    emit rang(m_day.indexOf(bell.key));
    const bool heardNowhere = result == BellStatus::Failed;
    if (heardNowhere && m_alerts)
        m_alerts->bellNotRung({bell.key.seconds, shownText(bell.name), note});
    if (result != BellStatus::Done)
        post((heardNowhere ? QStringLiteral("铃声“%1”（%2）在所有分区都没有人收听。%3")
                           : QStringLiteral("铃声“%1”（%2）只在部分分区播出。%3"))
                 .arg(shownText(bell.name), inttotime(bell.key.seconds), note));
    // Once per missing output, not at every bell of the day; again after it
    // was back in between.
    if (missing != m_warnedMissing) {
        m_warnedMissing = missing;
        if (!missing.isEmpty())
            post(note);
    }
}

void RingOutcomes::ended(const BellKey &key, int record, BellStatus result, bool told)
{
    const int index = m_day.indexOf(key);
    if (result == BellStatus::Interrupted && !told) {
        m_day.setFault(key, result);
        m_day.setStatus(index, result);
        if (m_history)
            m_history->amend(record, result, withPower(record, kInterruptedReason));
        qCInfo(lcRing).noquote() << "bell" << inttotime(key.seconds)
                                 << (index >= 0 ? shownText(m_day.entry(index).name) : QString())
                                 << bellstatus::text(result) << "-" << kInterruptedReason;
    }
    // Its record no longer says it sounds.
    if (m_history && record) {
        m_history->ended(record);
        flushSoon();
    }
    emit bellEnded(index, result);
}

void RingOutcomes::zonesTold(const Bell &bell, int record, BellStatus result, const QString &note,
                             qint64 latestMs)
{
    if (result == BellStatus::Done)
        m_day.clearFault(bell.key);
    else
        m_day.setFault(bell.key, result);
    if (const int index = m_day.indexOf(bell.key); index >= 0 && index < m_day.next())
        m_day.setStatus(index, result);
    if (m_history) {
        m_history->amend(record, result, withPower(record, note));
        if (latestMs > 0)
            m_history->amendDelay(record, latestMs);
        flushSoon();
    }
    qCInfo(lcRing).noquote() << "bell" << inttotime(bell.key.seconds) << shownText(bell.name)
                             << bellstatus::text(result) << "-" << note;
}

void RingOutcomes::passed(int index, BellStatus status)
{
    m_day.setStatus(index, status);
}

void RingOutcomes::addOutputLatencySoon(AudioPlayer *p, int record, qint64 delayMs,
                                        std::function<bool()> current)
{
    if (!m_history)
        return;
    QTimer::singleShot(kLatencyReadMs, context(), [this, p, record, delayMs, current] {
        // Only while this bell still sounds: after it, the player may hold
        // another file's figure.
        if (!m_history || !current())
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

void RingOutcomes::post(const QString &message)
{
    m_boxes.append(message);
    if (m_boxPosted)
        return;
    m_boxPosted = true;
    QMetaObject::invokeMethod(context(), [this] { showPosted(); }, Qt::QueuedConnection);
}

void RingOutcomes::showPosted()
{
    m_boxPosted = false;
    const QStringList boxes = std::exchange(m_boxes, {});
    if (m_boxOpen || boxes.isEmpty())
        return;
    m_boxOpen = true;
    const auto close = qScopeGuard([this] { m_boxOpen = false; });
    m_messages.plain(boxes.first());
}

void RingOutcomes::flushSoon()
{
    // Written from the event loop after this tick: never on a bell's path.
    if (m_flushQueued)
        return;
    m_flushQueued = true;
    QTimer::singleShot(0, context(), [this] {
        m_flushQueued = false;
        if (m_history && !m_history->flush())
            QTimer::singleShot(5000, context(), [this] { flushSoon(); });
    });
}
