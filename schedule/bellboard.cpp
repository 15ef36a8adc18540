#include "bellboard.h"
#include "audioplayer.h"
#include "secondsofday.h"
#include "weekdayset.h"

BellBoard::BellBoard(BellStore &store, const Clock &clock, const AppPaths &paths, QObject *parent)
    : QObject(parent), m_store(store), m_clock(clock), m_paths(paths)
{
}

void BellBoard::setRunning(bool on)
{
    m_running = on;
    m_grid.setRunningColours(on);
    emit changed();
}

void BellBoard::setTesting(bool on)
{
    m_testing = on;
    emit changed();
}

QString BellBoard::ringFailureText(const std::exception &e)
{
    const auto *audio = dynamic_cast<const AudioError *>(&e);
    if (!audio || !audio->isOutputFailure())
        return kNotFound;
    return audio->isNoResponse() ? kNoResponse : kNoOutput;
}

QString BellBoard::dateTextOf(const QDate &date)
{
    return QStringLiteral(" %1月%2日 周%3")
        .arg(date.month())
        .arg(date.day())
        .arg(WeekdaySet::charOf(date));
}

DayPlan::Day DayPlan::dayOf(const QDate &date)
{
    return {true, WeekdaySet::charOf(date), BellBoard::dateTextOf(date)};
}

qint64 BellBoard::nowSecondsFromLabel() const
{
    return ScheduleGrid::integerOf(m_labelNowTime);
}

QString BellBoard::rowKey(int row) const
{
    return entryKey(m_grid.cell(ScheduleGrid::ColId, row), m_grid.cell(ScheduleGrid::ColSeconds, row));
}

void BellBoard::Refresh()
{
    load(std::nullopt);
}

void BellBoard::refreshAt(qint64 cutoffSeconds)
{
    load(cutoffSeconds);
}

void BellBoard::load(std::optional<qint64> cutoff)
{
    // The store is read first: when it fails, the grid keeps the list it has,
    // so that the bells already listed still ring.
    const QDate today = m_clock.now().date();
    const DayPlan::Day day = m_dayPlan->dayOf(today);
    const QList<BellEntry> rows = !m_running ? m_store.list(WeekdaySet::allPattern())
        : day.rings ? m_store.list(WeekdaySet::dayPattern(day.weekday))
                    : QList<BellEntry>{};
    // A day of its own kind (放假, 上课) is named on the panel even when it
    // lists nothing, and the plain date replaces that name the day after.
    const bool kind = day.dateText != dateTextOf(today);
    if (m_running && (kind || m_kindShown)) {
        set(m_dateText, day.dateText);
        m_kindShown = kind;
    }
    // The label is read (and may fail) only when a listed entry needs it.
    const qint64 now = m_running && !rows.isEmpty() ? cutoff.value_or(nowSecondsFromLabel()) : 0;
    ScheduleGrid::Batch batch(m_grid);
    m_grid.clearDataRows();
    int next = 1;
    if (rows.isEmpty()) {
        setNextBellRow(next);
        return;
    }
    m_grid.setGridRowCount(int(rows.size()) + 6);
    for (int r = 1; r <= rows.size(); ++r) {
        const BellEntry &e = rows[r - 1];
        const QString id = QString::number(e.id), seconds = QString::number(e.time);
        m_grid.setCell(ScheduleGrid::ColNo, r, QString::number(r));
        m_grid.setCell(ScheduleGrid::ColTime, r, inttotime(e.time));
        m_grid.setCell(ScheduleGrid::ColName, r, e.name);
        m_grid.setCell(ScheduleGrid::ColMusic, r, e.music);
        m_grid.setCell(ScheduleGrid::ColDays, r, e.weekdays);
        m_grid.setCell(ScheduleGrid::ColDuration, r, e.duration);
        m_grid.setCell(ScheduleGrid::ColRemark, r, e.remark);
        if (m_running && e.time < now) {
            const BellStatus fault = faultOf(entryKey(id, seconds));
            m_grid.setStatus(r, fault != BellStatus::None ? fault : BellStatus::Done);
            ++next;
        }
        m_grid.setCell(ScheduleGrid::ColId, r, id);
        m_grid.setCell(ScheduleGrid::ColSeconds, r, seconds);
    }
    setNextBellRow(next);
    set(m_dateText, day.dateText);
    m_kindShown = kind;
    const qint64 want = m_running ? qint64(next) + 5 : m_lastEditedIndex + 1;
    m_grid.setSelectedRow(int(std::min<qint64>(want, m_grid.lastRow())));
}
