#include "ringengine.h"

#include <QFileInfo>
#include "ringhistory.h"
#include "secondsofday.h"

RingEngine::RingEngine(BellBoard &board, AudioPlayer &player, Messages &messages,
                       const Clock &clock, QObject *parent, AudioPlayer *spare)
    : QObject(parent), m_board(board), m_players{&player, spare}, m_messages(messages),
      m_clock(clock)
{
    // Re-armed from the wall clock on every tick: a repeating 1000 ms timer
    // drifts against it and would sooner or later skip a second.
    TimerShiJian.setSingleShot(true);
    TimerShiJian.setTimerType(Qt::PreciseTimer);
    // The blink is aimed at the middle of each second so that its repaint
    // never sits in front of a bell's tick.
    TimerShan.setSingleShot(true);
    connect(&TimerShiJian, &QTimer::timeout, this, &RingEngine::TimerShiJianTimer);
    connect(&TimerShan, &QTimer::timeout, this, &RingEngine::TimerShanTimer);
    TimerPrepare.setSingleShot(true);
    connect(&TimerPrepare, &QTimer::timeout, this, &RingEngine::TimerPrepareTimer);
}

void RingEngine::start()
{
    armClock(500);
}

void RingEngine::armClock(int minMs)
{
    int ms = 1000 - m_clock.now().time().msec() + kTickDelayMs;
    while (ms < minMs)
        ms += 1000;
    TimerShiJian.start(ms);
}

void RingEngine::armBlink()
{
    int ms = 1500 - m_clock.now().time().msec();
    if (ms > 1000)
        ms -= 1000;
    if (ms < 100)
        ms += 1000;
    TimerShan.start(ms);
}

bool RingEngine::wasRung(qint64 dayStart, const QString &key) const
{
    const auto it = m_rung.constFind(dayStart);
    return it != m_rung.constEnd() && it->keys.contains(key);
}

bool RingEngine::secondRung(qint64 dayStart, qint64 seconds) const
{
    const auto it = m_rung.constFind(dayStart);
    return it != m_rung.constEnd() && it->seconds.contains(seconds);
}

void RingEngine::noteRung(qint64 dayStart, const QString &key, qint64 seconds)
{
    Day &d = m_rung[dayStart];
    d.keys.insert(key);
    d.seconds.insert(seconds);
}

int RingEngine::rungEntriesHeld() const
{
    int n = 0;
    for (const auto &day : m_rung)
        n += int(day.keys.size());
    return n;
}

void RingEngine::reload(qint64 cutoffSeconds, qint64 dayStart)
{
    // A bell whose start is still being retried must stay in front of the
    // cursor, or the reload would call it past (and done).
    if (m_retry && m_retry->dayStart == dayStart)
        cutoffSeconds = std::min(cutoffSeconds, m_retry->seconds);
    m_board.refreshAt(cutoffSeconds);
}

void RingEngine::TimerShiJianTimer()
{
    // Armed first: a message box opened further down runs the later ticks
    // inside its own event loop.
    armClock();
    const quint64 seq = ++m_tickSeq;
    try {
        tick(seq);
    } catch (...) {
        // The clock must survive anything; the next tick runs normally.
    }
}

void RingEngine::tick(quint64 seq)
{
    const QDateTime now = m_clock.now();
    const QDate today = now.date();
    const QTime time = now.time();
    const qint64 nowSec = timetoint(time.hour(), time.minute(), time.second());
    const qint64 dayStart = today.toJulianDay() * 86400;
    const qint64 nowAbs = dayStart + nowSec;
    const qint64 prevAbs = m_prevAbs.value_or(nowAbs - 1);
    const QDate prevDate = m_prevDate;

    m_board.setLabelNowTime(QString::number(nowSec));
    m_board.setClockText(inttotime(nowSec));

    if (++m_tickCount == 1 && !m_board.running())
        ButtonPlayClick();

    watchSounding();

    // A Refresh in stopped mode would move a running test's selection.
    const bool mayReload = !m_board.testing();
    bool reloaded = false;
    if (prevDate.isValid() && prevDate != today) {
        const bool forward = prevDate < today;
        // A tick late for yesterday's last seconds still rings them, from
        // yesterday's list, before the new day's list replaces it.
        if (forward && m_board.running()) {
            ringCheck(nowAbs, prevAbs, prevDate.toJulianDay() * 86400);
            if (m_tickSeq != seq)
                return; // ticks ran inside a message box and have done the rest
        }
        // New day: yesterday's marks no longer matter, and the new weekday's
        // list must be in the grid before its 00:00:00 entry. Its first
        // seconds are left to the ring check and its window.
        abandonRetry();
        m_board.clearFaults();
        for (auto it = m_rung.begin(); it != m_rung.end();)
            it = it.key() < dayStart - 86400 ? m_rung.erase(it) : std::next(it);
        m_prepared.reset();
        if (mayReload) {
            reload(forward ? 0 : nowSec, dayStart);
            reloaded = true;
        }
    }
    // Set only now: a tick nested in a message box above must still see the
    // date change and load the new day's list itself.
    m_prevDate = today;

    if (m_board.running()) {
        ringCheck(nowAbs, prevAbs, dayStart);
        if (m_tickSeq != seq)
            return;
    }
    // Nested ticks (inside a message box) may have run with the older
    // predecessor; the rung set and the cursor keep them from ringing twice.
    m_prevAbs = nowAbs;

    if (m_board.running() && m_refreshDueSeq != 0 && m_refreshDueSeq < seq) {
        // The first tick after a bell started marks it done, whatever that
        // tick's delay.
        m_refreshDueSeq = 0;
        reload(nowSec, dayStart);
        reloaded = true;
    }

    if ((nowSec == 1 || nowSec == 10 || nowSec == 30) && mayReload && !reloaded)
        reload(nowSec, dayStart);

    if (m_board.running())
        TimerPrepare.start(kPrepareDelayMs);

    if (!m_board.testing()) {
        // The box names the file that sounds: with two entries at one second
        // the cursor's row may be the twin that did not ring.
        if (m_board.running() && activePlayer().isPlaying()) {
            m_board.setProgressPos(activePlayer().position());
            m_board.setYunXing(QFileInfo(activePlayer().fileName()).fileName());
        } else {
            m_board.setProgressPos(0);
            m_board.setYunXing(QString());
        }
    }
}

void RingEngine::ringCheck(qint64 nowAbs, qint64 prevAbs, qint64 dayStart, bool retryNow)
{
    ScheduleGrid &g = m_board.grid();
    const int from = m_board.nextBellRow();
    int candidate = -1;
    qint64 candidateTime = -1;
    int lastDue = from - 1;
    for (int r = from; r >= 1 && r <= g.lastRow(); ++r) {
        const std::optional<qint64> t = g.integerCell(ScheduleGrid::ColSeconds, r);
        if (!t || dayStart + *t > nowAbs)
            break;
        lastDue = r;
        const qint64 abs = dayStart + *t;
        const QString key = m_board.rowKey(r);
        const bool retrying = m_retry && m_retry->key == key && m_retry->dayStart == dayStart;
        // Of several entries due at once only the latest sounds (it would cut
        // the others at once anyway); of equal times, the first in the grid.
        if ((abs > prevAbs || retrying) && nowAbs - abs <= kCatchUpSeconds && *t > candidateTime
            && !wasRung(dayStart, key)) {
            candidate = r;
            candidateTime = *t;
        }
    }
    // A retry waits for the slot after the tick: its player may hold it up
    // for a whole bound, and the clock must not.
    const bool deferRetry = candidate > 0 && !retryNow
        && dayStart + candidateTime <= prevAbs;
    const int stop = candidate > 0 ? candidate : lastDue + 1;
    QString message;
    for (int r = from; r < stop; ++r) {
        const QString m = markPast(r, dayStart);
        if (message.isEmpty())
            message = m;
    }
    if (stop > from)
        m_board.setNextBellRow(stop);
    if (candidate > 0 && !deferRetry)
        ringAt(candidate, dayStart, nowAbs);
    // Only now, with the cursor past the failed bell: ticks running inside
    // the box go on with the next bells.
    if (!message.isEmpty())
        showBox(message);
}

QString RingEngine::markPast(int row, qint64 dayStart)
{
    ScheduleGrid &g = m_board.grid();
    const QString key = m_board.rowKey(row);
    const BellStatus fault = m_board.faultOf(key);
    if (fault != BellStatus::None) {
        g.setStatus(row, fault);
        return {};
    }
    const qint64 seconds = ScheduleGrid::integerOf(g.cell(ScheduleGrid::ColSeconds, row));
    if (m_retry && m_retry->key == key && m_retry->dayStart == dayStart) {
        // The output did not come back within the window.
        const QString message = m_retry->message;
        m_retry.reset();
        recordFailure(row, dayStart, BellStatus::Failed, message);
        return message;
    }
    // A twin of the same second sounded with the bell that rang.
    if (wasRung(dayStart, key) || secondRung(dayStart, seconds)) {
        g.setStatus(row, BellStatus::Done);
        return {};
    }
    recordFailure(row, dayStart, BellStatus::Missed, kMissedReason);
    return {};
}

void RingEngine::ringAt(int row, qint64 dayStart, qint64 nowAbs)
{
    ScheduleGrid &g = m_board.grid();
    const QString key = m_board.rowKey(row);
    const qint64 seconds = ScheduleGrid::integerOf(g.cell(ScheduleGrid::ColSeconds, row));
    // The bell sounding now is cut by this one.
    if (m_sounding)
        endSounding(BellStatus::Done);
    try {
        AudioPlayer *p = startBell(row, dayStart);
        // Measured right after play() returned: the delay the operator hears.
        const QDateTime started = m_clock.now();
        const qint64 delayMs = started.date().toJulianDay() * 86400000LL
            + started.time().msecsSinceStartOfDay() - (dayStart + seconds) * 1000;
        noteRung(dayStart, key, seconds);
        m_retry.reset();
        m_active = p == m_players[1] ? 1 : 0;
        // It rang, on the default output: 完成, and the record says where.
        const QString missing = p->missingOutput();
        const QString note = missing.isEmpty() ? QString() : missingOutputText(missing);
        int record = 0;
        if (m_history) {
            record = m_history->record({0, QDate::fromJulianDay(dayStart / 86400), seconds,
                                        g.cell(ScheduleGrid::ColName, row),
                                        g.cell(ScheduleGrid::ColMusic, row), BellStatus::Done,
                                        delayMs, note});
            flushSoon();
        }
        m_sounding = Sounding{key, p, record};
        m_refreshDueSeq = m_tickSeq;
        emit rang(row);
        // Once per missing output, not at every bell of the day; again after
        // it was back in between.
        if (missing != m_warnedMissing) {
            m_warnedMissing = missing;
            if (!missing.isEmpty())
                showBox(note);
        }
    } catch (const std::exception &e) {
        const QString message = BellBoard::ringFailureText(e);
        const auto *audio = dynamic_cast<const AudioError *>(&e);
        if (audio && audio->isOutputFailure() && nowAbs - (dayStart + seconds) < kCatchUpSeconds) {
            // The output may be back a moment later: the next ticks try again
            // while the window lasts; the cursor stays on the bell.
            m_retry = Retry{key, dayStart, seconds, g.cell(ScheduleGrid::ColName, row),
                            g.cell(ScheduleGrid::ColMusic, row), message};
            return;
        }
        m_retry.reset();
        // The day goes on: the entry is marked failed and the cursor moves
        // past it before the box opens, so that ticks running inside the box
        // ring the next bells at their seconds and never this one again.
        recordFailure(row, dayStart, BellStatus::Failed, message);
        m_board.setNextBellRow(row + 1);
        showBox(message);
    }
}

void RingEngine::TimerPrepareTimer()
{
    if (!m_board.running() || m_board.testing())
        return;
    const QDateTime now = m_clock.now();
    const QTime time = now.time();
    const qint64 dayStart = now.date().toJulianDay() * 86400;
    const qint64 nowAbs = dayStart + timetoint(time.hour(), time.minute(), time.second());
    try {
        if (m_retry && m_retry->dayStart == dayStart && m_prevAbs)
            ringCheck(nowAbs, *m_prevAbs, dayStart, true);
        if (m_board.running())
            prepareNext(nowAbs, dayStart);
    } catch (...) {
        // Not opened ahead: the bell's second opens it.
    }
}

void RingEngine::TimerShanTimer()
{
    if (!m_board.running())
        return;
    armBlink();
    try {
        // A bell cut off since the last tick shows "中断", never "完成".
        watchSounding();
        ScheduleGrid &g = m_board.grid();
        const int prev = m_board.nextBellRow() - 1;
        const int next = m_board.nextBellRow();
        auto toggle = [&](int row, BellStatus s) {
            if (row < 1 || row > g.lastRow())
                return;
            const BellStatus now = g.status(row);
            if (bellstatus::isFault(now))
                return; // a bell that did not sound keeps its mark
            g.setStatus(row, now == s ? BellStatus::None : s);
        };
        if (activePlayer().isPlaying()) {
            toggle(prev, BellStatus::Playing);
        } else {
            if (prev >= 1 && prev <= g.lastRow() && !bellstatus::isFault(g.status(prev)))
                g.setStatus(prev, BellStatus::Done);
            toggle(next, BellStatus::Waiting);
        }
    } catch (...) {
        // A blink that cannot write its cells just skips a beat.
    }
    if (m_processEvents)
        m_processEvents();
}

void RingEngine::ButtonPlayClick()
{
    if (m_board.testing())
        return;
    if (m_board.running()) {
        m_board.setRunning(false);
        TimerShan.stop();
    } else {
        m_board.setRunning(true);
        armBlink();
    }
    abandonRetry();
    for (AudioPlayer *p : m_players)
        if (p && p->isPlaying())
            p->stop();
    if (m_sounding)
        endSounding(BellStatus::Done);
    m_refreshDueSeq = 0;
    m_prepared.reset();
    m_prepareTried.clear();
    m_board.Refresh();
}
