// How a bell ended: its row's status, the fault Refresh keeps for the day,
// its record in the ring history and the engine's signals.
#include "ringengine.h"
#include "ringhistory.h"

#include <QScopeGuard>

void RingEngine::recordFailure(int row, qint64 dayStart, BellStatus result, const QString &reason)
{
    ScheduleGrid &g = m_board.grid();
    const QString key = m_board.rowKey(row);
    const qint64 seconds = ScheduleGrid::integerOf(g.cell(ScheduleGrid::ColSeconds, row));
    // Never tried again, also not after a clock set back.
    m_rung[dayStart].keys.insert(key); // not its second: a failure is no twin's sound
    m_board.setFault(key, result);
    g.setStatus(row, result);
    if (m_history) {
        m_history->record({0, QDate::fromJulianDay(dayStart / 86400), seconds,
                           g.cell(ScheduleGrid::ColName, row), g.cell(ScheduleGrid::ColMusic, row),
                           result, std::nullopt, reason});
        flushSoon();
    }
    emit ringFailed(row, result);
}

void RingEngine::abandonRetry()
{
    if (!m_retry)
        return;
    const Retry r = *m_retry;
    m_retry.reset();
    // Its list is gone (a new day, or stopped mode): the record remains.
    const int row = rowOfKey(r.key);
    if (row > 0 && m_board.grid().cell(ScheduleGrid::ColSeconds, row) == QString::number(r.seconds)) {
        recordFailure(row, r.dayStart, BellStatus::Failed, r.message);
        return;
    }
    if (m_history) {
        m_history->record({0, QDate::fromJulianDay(r.dayStart / 86400), r.seconds, r.name, r.music,
                           BellStatus::Failed, std::nullopt, r.message});
        flushSoon();
    }
    emit ringFailed(-1, BellStatus::Failed);
}

void RingEngine::watchSounding()
{
    if (!m_sounding)
        return;
    const AudioPlayer::Mode mode = m_sounding->player->mode();
    if (mode == AudioPlayer::Mode::Playing || mode == AudioPlayer::Mode::Paused)
        return;
    endSounding(m_sounding->player->interrupted() ? BellStatus::Interrupted : BellStatus::Done);
}

void RingEngine::endSounding(BellStatus result)
{
    const Sounding s = *m_sounding;
    m_sounding.reset();
    const int row = rowOfKey(s.key);
    if (result == BellStatus::Interrupted) {
        m_board.setFault(s.key, result);
        if (row > 0)
            m_board.grid().setStatus(row, result);
        if (m_history) {
            m_history->amend(s.record, result, kInterruptedReason);
            flushSoon();
        }
    }
    emit bellEnded(row, result);
}

int RingEngine::rowOfKey(const QString &key) const
{
    const ScheduleGrid &g = m_board.grid();
    for (int r = 1; r <= g.lastRow(); ++r) {
        if (g.cell(ScheduleGrid::ColId, r).isEmpty())
            break;
        if (m_board.rowKey(r) == key)
            return r;
    }
    return -1;
}

void RingEngine::showBox(const QString &message)
{
    if (m_boxOpen) // one box at a time; later failures show in their rows
        return;
    m_boxOpen = true;
    const auto close = qScopeGuard([this] { m_boxOpen = false; });
    m_messages.plain(message);
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
