#include "bellboard.h"
#include "audioplayer.h"
#include "logging.h"
#include "ringhistory.h"
#include "secondsofday.h"
#include "weekdayset.h"

BellBoard::BellBoard(BellStore &store, const Clock &clock, const AppPaths &paths, QObject *parent)
    : QObject(parent), m_store(store), m_clock(clock), m_paths(paths)
{
}

void BellBoard::setRunning(bool on)
{
    m_running = on;
    if (!on)
        clearBlink();
    emit changed();
}

void BellBoard::setSelectedRow(int row)
{
    row = std::clamp(row, 1, lastRow());
    if (row == m_selected)
        return;
    m_selected = row;
    emit selectedRowChanged(row);
}

void BellBoard::blink(int index, BellStatus kind)
{
    if (!m_day.contains(index)) {
        clearBlink();
        return;
    }
    // A new bell to blink shows its mark at once; the same one alternates.
    const int old = m_blink.index;
    if (old == index && m_blink.kind == kind) {
        m_blink.shown = !m_blink.shown;
    } else {
        m_blink = {index, kind, true};
        if (m_day.contains(old))
            emit bellShownChanged(old);
    }
    emit bellShownChanged(index);
}

void BellBoard::clearBlink()
{
    const int old = std::exchange(m_blink, Blink{}).index;
    if (m_day.contains(old))
        emit bellShownChanged(old);
}

BellStatus BellBoard::statusShown(int index) const
{
    if (!m_day.contains(index))
        return BellStatus::None;
    const BellStatus own = m_day.status(index);
    // Only a bell still to come waits; a bell that did not sound keeps its mark.
    if (index != m_blink.index || bellstatus::isFault(own)
        || (m_blink.kind == BellStatus::Waiting && own != BellStatus::None))
        return own;
    return m_blink.shown ? m_blink.kind : BellStatus::None;
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
    bool ok = false;
    const qint64 n = m_labelNowTime.toLongLong(&ok);
    if (!ok)
        throw AppError(QStringLiteral("'%1' is not a valid integer value").arg(m_labelNowTime));
    return n;
}

void BellBoard::Refresh()
{
    load(std::nullopt);
}

void BellBoard::refreshAt(qint64 cutoffSeconds)
{
    load(cutoffSeconds);
}

QList<BellEntry> BellBoard::todaysBells() const
{
    const DayPlan::Day day = m_dayPlan->dayOf(m_clock.now().date());
    return day.rings ? m_store.list(WeekdaySet::dayPattern(day.weekday)) : QList<BellEntry>{};
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
    // The panel shows the day's date (and its kind) also when nothing is
    // listed, and turns to the new date with the reload after midnight.
    set(m_dateText, day.dateText);
    // The label is read (and may fail) only when a listed entry needs it.
    // Never a label's text: the window sets LabelNowTime to "0" when it is
    // shown, and every bell before it would look due again.
    if (m_running && !rows.isEmpty() && !cutoff && m_ringCutoff)
        cutoff = m_ringCutoff();
    const qint64 now = m_running && !rows.isEmpty() ? cutoff.value_or(nowSecondsFromLabel()) : 0;
    m_blink = {};
    if (rows.isEmpty()) {
        // Nothing listed: the rows and the selection stay.
        m_day.reset({}, {}, 0);
        return;
    }
    QList<BellStatus> statuses(rows.size(), BellStatus::None);
    // Read only when a past bell is unknown to the list's own marks.
    std::optional<DayOutcomes> records;
    const auto recorded = [&](const BellEntry &bell) {
        if (!m_history)
            return BellStatus::Passed;
        if (!records) {
            try {
                QSet<qint64> listed;
                for (const BellEntry &row : rows)
                    listed.insert(row.id);
                records = m_history->outcomes(today, listed);
            } catch (const std::exception &err) {
                // The marks kept in memory still hold; the rest reads 已过.
                qCWarning(lcRing) << "today's ring records not read for the list:" << err.what();
                records = DayOutcomes{};
            }
        }
        return records->of({bell.id, bell.time}, bell.name);
    };
    const qint64 dayStart = today.toJulianDay() * 86400;
    int next = 0;
    for (int i = 0; i < rows.size(); ++i) {
        const BellEntry &e = rows[i];
        if (!e.hasValidTime()) {
            statuses[i] = BellStatus::InvalidTime; // listed, never rung, never moves the cursor
            continue;
        }
        if (!m_running || e.time >= now)
            continue;
        // Past: how it went, if it was this program's to ring today.
        const BellKey key{e.id, e.time};
        const BellStatus fault = m_day.faultOf(key);
        // A bell that sounded, or sounded with its twin of the same second.
        statuses[i] = fault != BellStatus::None                  ? fault
            : m_day.rung().secondRung(dayStart, e.time) ? BellStatus::Done
                                                         : recorded(e);
        next = i + 1;
    }
    place(rows, std::move(statuses), next);
}

void BellBoard::showList(QList<BellEntry> rows, QList<BellStatus> statuses, int next, const QString &dateText)
{
    set(m_dateText, dateText);
    m_blink = {};
    if (rows.isEmpty()) {
        m_day.reset({}, {}, 0);
        return;
    }
    place(std::move(rows), std::move(statuses), next);
}

void BellBoard::place(QList<BellEntry> rows, QList<BellStatus> statuses, int next)
{
    const int count = int(rows.size());
    m_gridRows = count + 6;
    m_day.reset(std::move(rows), std::move(statuses), next);
    const qint64 want = m_running ? qint64(next) + 6 : m_lastEditedIndex + 1;
    // Announced even when it did not move: the view's rows were rebuilt.
    m_selected = -1;
    setSelectedRow(int(std::min<qint64>(want, lastRow())));
}
