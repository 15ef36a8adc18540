#include "ringengine.h"
#include "secondsofday.h"

#include <QFileInfo>

namespace {

const QString kDone = QStringLiteral("完成");
const QString kWaiting = QStringLiteral("等待");
const QString kPlaying = QStringLiteral("播放");
const QString kFailed = QStringLiteral("失败");

// A bell names a file inside the music folder, never a path out of it.
bool isBareFileName(const QString &name)
{
    return !name.isEmpty() && !name.contains(u'/') && !name.contains(u'\\') && name != u"."
        && name != u"..";
}

qint64 secondsCell(const ScheduleGrid &g, int row, bool *empty)
{
    const QString text = g.cell(ScheduleGrid::ColSeconds, row);
    *empty = text.isEmpty();
    if (*empty)
        return 0;
    bool ok = false;
    const qint64 n = text.toLongLong(&ok);
    if (!ok)
        throw AppError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return n;
}

} // namespace

void ringRow(BellBoard &board, AudioPlayer &player, int row)
{
    const QString name = board.grid().cell(ScheduleGrid::ColMusic, row);
    player.close();
    player.setFileName(board.paths().musicFile(name));
    if (!isBareFileName(name))
        throw AudioError(QStringLiteral("not a file of the music folder: ") + name);
    player.open();
    board.progressMax = player.length();
    player.play();
    // A refused start would otherwise be a bell that silently never sounds.
    if (!player.isPlaying())
        throw AudioError(QStringLiteral("the player did not start ") + player.fileName());
}

RingEngine::RingEngine(BellBoard &board, AudioPlayer &player, Messages &messages,
                       const Clock &clock, QObject *parent)
    : QObject(parent), m_board(board), m_player(player), m_messages(messages), m_clock(clock)
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

QString RingEngine::entryKey(int row) const
{
    const ScheduleGrid &g = m_board.grid();
    return g.cell(ScheduleGrid::ColId, row) + u':' + g.cell(ScheduleGrid::ColSeconds, row);
}

bool RingEngine::wasRung(qint64 dayStart, const QString &key) const
{
    const auto it = m_rung.constFind(dayStart);
    return it != m_rung.constEnd() && it->contains(key);
}

int RingEngine::rungEntriesHeld() const
{
    int n = 0;
    for (const auto &day : m_rung)
        n += int(day.size());
    return n;
}

void RingEngine::reload(qint64 cutoffSeconds)
{
    // Refresh calls everything earlier than LabelNowTime past. Right after a
    // date change the new day's first seconds are still to be rung, so the
    // engine may hand it an earlier second than the clock's.
    struct Restore {
        BellBoard &b;
        QString keep;
        ~Restore() { b.labelNowTime = keep; }
    } restore{m_board, m_board.labelNowTime};
    m_board.labelNowTime = QString::number(cutoffSeconds);
    m_board.Refresh();
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

    m_board.labelNowTime = QString::number(nowSec);
    m_board.clockText = inttotime(nowSec);

    if (++m_tickCount == 1 && !m_board.running())
        ButtonPlayClick();

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
        // New day: yesterday's failures no longer matter, and the new
        // weekday's list must be in the grid before its 00:00:00 entry. Its
        // first seconds are left to the ring check and its window.
        m_board.failedIds.clear();
        for (auto it = m_rung.begin(); it != m_rung.end();)
            it = it.key() < dayStart - 86400 ? m_rung.erase(it) : std::next(it);
        m_prepared.reset();
        if (mayReload) {
            reload(forward ? 0 : nowSec);
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
        reload(nowSec);
        reloaded = true;
    }

    if ((nowSec == 1 || nowSec == 10 || nowSec == 30) && mayReload && !reloaded)
        reload(nowSec);

    if (m_board.running())
        prepareNext(nowAbs, dayStart);

    if (!m_board.testing()) {
        // The row of the bell playing: the cursor stays on a bell for its
        // first second, then moves past it.
        const int row = m_refreshDueSeq != 0 ? m_board.nextBellRow : m_board.nextBellRow - 1;
        if (m_board.running() && m_player.isPlaying() && row >= 1) {
            m_board.progressPos = m_player.position();
            m_board.yunXing = m_board.grid().cell(ScheduleGrid::ColMusic, row);
        } else {
            m_board.progressPos = 0;
            m_board.yunXing.clear();
        }
    }
    m_board.touch();
}

void RingEngine::ringCheck(qint64 nowAbs, qint64 prevAbs, qint64 dayStart)
{
    ScheduleGrid &g = m_board.grid();
    const int from = m_board.nextBellRow;
    int candidate = -1;
    qint64 candidateTime = -1;
    int lastDue = from - 1;
    for (int r = from; r >= 1 && r <= g.lastRow(); ++r) {
        bool empty = false;
        const qint64 t = secondsCell(g, r, &empty);
        if (empty || dayStart + t > nowAbs)
            break;
        lastDue = r;
        const qint64 abs = dayStart + t;
        // Of several entries due at once only the latest sounds (it would cut
        // the others at once anyway); of equal times, the first in the grid.
        if (abs > prevAbs && nowAbs - abs <= kCatchUpSeconds && t > candidateTime
            && !wasRung(dayStart, entryKey(r))) {
            candidate = r;
            candidateTime = t;
        }
    }
    const int stop = candidate > 0 ? candidate : lastDue + 1;
    for (int r = from; r < stop; ++r)
        markPast(r);
    if (stop > from)
        m_board.nextBellRow = stop;
    if (candidate > 0)
        ringAt(candidate, dayStart);
}

void RingEngine::markPast(int row)
{
    ScheduleGrid &g = m_board.grid();
    const bool failed = m_board.failedIds.contains(g.cell(ScheduleGrid::ColId, row));
    g.setCell(ScheduleGrid::ColStatus, row, failed ? kFailed : kDone);
}

void RingEngine::ringAt(int row, qint64 dayStart)
{
    const QString key = entryKey(row);
    m_rung[dayStart].insert(key);
    const QString preparedKey = QString::number(dayStart) + u':' + key;
    try {
        const QString name = m_board.grid().cell(ScheduleGrid::ColMusic, row);
        const bool ready = m_prepared && m_prepared->key == preparedKey
            && m_prepared->path == m_board.paths().musicFile(name)
            && m_player.fileName() == m_prepared->path
            && m_player.mode() == AudioPlayer::Mode::Stopped && m_player.position() == 0;
        if (ready) {
            // Opened a moment ago while the player was idle: only start it.
            m_board.progressMax = m_prepared->length;
            m_prepared.reset();
            m_player.play();
            if (!m_player.isPlaying())
                throw AudioError(QStringLiteral("the player did not start ") + m_player.fileName());
        } else {
            m_prepared.reset();
            ringRow(m_board, m_player, row);
        }
        m_refreshDueSeq = m_tickSeq;
        emit rang(row);
    } catch (const std::exception &e) {
        const QString message = BellBoard::ringFailureText(e);
        // The day goes on: the entry is marked failed and the cursor moves
        // past it before the box opens, so that ticks running inside the box
        // ring the next bells at their seconds and never this one again.
        ScheduleGrid &g = m_board.grid();
        m_board.failedIds.insert(g.cell(ScheduleGrid::ColId, row));
        g.setCell(ScheduleGrid::ColStatus, row, kFailed);
        m_board.nextBellRow = row + 1;
        m_board.touch();
        emit ringFailed(row);
        if (!m_boxOpen) { // one box at a time; later failures show in their rows
            m_boxOpen = true;
            struct Close {
                bool &open;
                ~Close() { open = false; }
            } close{m_boxOpen};
            m_messages.plain(message);
        }
    }
}

void RingEngine::prepareNext(qint64 nowAbs, qint64 dayStart)
{
    const AudioPlayer::Mode mode = m_player.mode();
    // Never touch a bell that is still sounding (or paused).
    if (mode == AudioPlayer::Mode::Playing || mode == AudioPlayer::Mode::Paused)
        return;
    const ScheduleGrid &g = m_board.grid();
    for (int r = std::max(1, m_board.nextBellRow); r <= g.lastRow(); ++r) {
        bool empty = false;
        const qint64 t = secondsCell(g, r, &empty);
        if (empty)
            return;
        const qint64 abs = dayStart + t;
        if (abs <= nowAbs)
            continue; // the bell of this second, or one to be marked past
        if (abs - nowAbs > kPrepareAheadSeconds)
            return;
        const QString key = entryKey(r);
        if (wasRung(dayStart, key))
            continue;
        const QString preparedKey = QString::number(dayStart) + u':' + key;
        if ((m_prepared && m_prepared->key == preparedKey) || m_prepareTried == preparedKey)
            return;
        m_prepareTried = preparedKey;
        const QString name = g.cell(ScheduleGrid::ColMusic, r);
        if (!isBareFileName(name))
            return; // it fails at its own second, with its message
        const QString path = m_board.paths().musicFile(name);
        m_prepared.reset();
        try {
            m_player.close();
            m_player.setFileName(path);
            m_player.open();
            m_prepared = Prepared{preparedKey, path, m_player.length()};
        } catch (const std::exception &) {
            // Tried again at the bell's second, which shows the message then.
        }
        return;
    }
}

void RingEngine::TimerShanTimer()
{
    if (!m_board.running())
        return;
    armBlink();
    try {
        ScheduleGrid &g = m_board.grid();
        const int prev = m_board.nextBellRow - 1;
        const int next = m_board.nextBellRow;
        auto toggle = [&](int row, const QString &text) {
            if (row < 1 || row > g.lastRow())
                return;
            const QString s = g.cell(ScheduleGrid::ColStatus, row);
            if (s == kFailed)
                return; // a failed bell keeps its mark
            g.setCell(ScheduleGrid::ColStatus, row, s == text ? QString() : text);
        };
        if (m_player.isPlaying()) {
            toggle(prev, kPlaying);
        } else {
            if (prev >= 1 && prev <= g.lastRow()
                && g.cell(ScheduleGrid::ColStatus, prev) != kFailed)
                g.setCell(ScheduleGrid::ColStatus, prev, kDone);
            toggle(next, kWaiting);
        }
    } catch (...) {
        // A blink that cannot write its cells just skips a beat.
    }
    m_board.touch();
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
    if (m_player.isPlaying())
        m_player.stop();
    m_refreshDueSeq = 0;
    m_prepared.reset();
    m_prepareTried.clear();
    m_board.Refresh();
}
