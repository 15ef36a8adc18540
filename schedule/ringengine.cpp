#include "ringengine.h"

#include <QFileInfo>
#include <algorithm>
#include "logging.h"
#include "secondsofday.h"
#include "soundserver.h"

RingEngine::RingEngine(BellBoard &board, AudioPlayer &player, Messages &messages,
                       const Clock &clock, QObject *parent, AudioPlayer *spare)
    : QObject(parent), m_board(board), m_day(board.day()), m_playout(board, player, spare), m_clock(clock),
      m_ticker(clock, TimerShiJian), m_due(m_day.rung()), m_outcomes(m_day, messages, this), m_zones(clock, m_outcomes, this)
{
    connect(&m_outcomes, &RingOutcomes::rang, this, [this](int index) {
        emit rang(index, m_sounding && m_sounding->zones ? m_zones.soundingZones() : QList<qint64>{});
    });
    connect(&m_outcomes, &RingOutcomes::bellEnded, this, &RingEngine::bellEnded);
    connect(&m_outcomes, &RingOutcomes::ringFailed, this, &RingEngine::ringFailed);
    m_outcomes.zoneNames = [this](const QList<qint64> &zones) { return m_zones.known().names(zones); };
    // Set on the engine, read when needed.
    m_zones.known().make = [this](const Zone &z) { return zonePlayer ? zonePlayer(z) : nullptr; };
    m_zones.zoneUnheard = [this](const Zone &z) { return zoneUnheard ? zoneUnheard(z) : QString(); };
    m_zones.zonesSoon = [this](const QList<Zone> &zones) {
        if (zonesSoon)
            zonesSoon(zones);
    };
    m_zones.outputLabel = [this](const QString &device) {
        return outputLabel ? outputLabel(device) : SoundServer::label(device);
    };
    connect(&m_zones, &RingZones::firstHeard, this, &RingEngine::zonesFirstHeard);
    connect(&m_zones, &RingZones::heardAgain, this, &RingEngine::zonesHeardAgain);
    connect(&m_zones, &RingZones::endedEverywhere, this, &RingEngine::zonesEnded);
    connect(&m_zones, &RingZones::failedEverywhere, this, &RingEngine::zonesFailed);
    // The blink is aimed at the middle of each second so that its repaint
    // never sits in front of a bell's tick.
    TimerShan.setSingleShot(true);
    connect(&TimerShiJian, &QTimer::timeout, this, &RingEngine::TimerShiJianTimer);
    connect(&TimerShan, &QTimer::timeout, this, &RingEngine::TimerShanTimer);
    TimerPrepare.setSingleShot(true);
    connect(&TimerPrepare, &QTimer::timeout, this, &RingEngine::TimerPrepareTimer);
    TimerStart.setSingleShot(true);
    TimerStart.setTimerType(Qt::PreciseTimer);
    connect(&TimerStart, &QTimer::timeout, this, &RingEngine::TimerStartTimer);
    for (AudioPlayer *p : m_playout.players())
        if (p)
            watch(p);
    // An edit, an import or a timetable switch changes today's bells.
    connect(&m_day, &DaySchedule::listChanged, this, [this] { m_today.reset(); });
    m_board.setRingCutoff([this] { return refreshCutoff(); });
}

RingEngine::~RingEngine() { m_board.setRingCutoff({}); }

void RingEngine::watch(AudioPlayer *p)
{
    connect(p, &AudioPlayer::ended, this, [this, p](bool interrupted) { onEnded(p, interrupted); });
    connect(p, &AudioPlayer::opened, this, [this, p] { onOpened(p); });
    connect(p, &AudioPlayer::openFailed, this,
            [this, p](const QString &text, AudioError::Cause cause) { onOpenFailed(p, text, cause); });
}

void RingEngine::start()
{
    m_ticker.start();
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

RingEngine::Bell RingEngine::bellAt(int index, qint64 dayStart) const
{
    const BellEntry &e = m_day.entry(index);
    return {m_day.key(index), dayStart, e.name, e.music, e.zones};
}

AudioPlayer *RingEngine::heardPlayer() const
{
    if (activePlayer().isPlaying())
        return &activePlayer();
    return m_sounding && m_sounding->zones ? m_zones.heardPlayer() : nullptr;
}

qint64 RingEngine::pastCutoff(qint64 cutoffSeconds, qint64 dayStart) const
{
    // A bell whose start is still being retried, or whose file still loads,
    // must stay in front of the cursor, or the reload would call it past.
    if (m_retry && m_retry->bell.dayStart == dayStart)
        cutoffSeconds = std::min(cutoffSeconds, m_retry->bell.key.seconds);
    if (m_waiting && m_waiting->bell.dayStart == dayStart)
        cutoffSeconds = std::min(cutoffSeconds, m_waiting->bell.key.seconds);
    if (m_deferred && m_deferred->bell.dayStart == dayStart)
        cutoffSeconds = std::min(cutoffSeconds, m_deferred->bell.key.seconds);
    return cutoffSeconds;
}

std::optional<qint64> RingEngine::refreshCutoff() const
{
    const std::optional<qint64> last = m_ticker.lastTickToday();
    if (!last || *last == 0)
        return last;
    const qint64 dayStart = nowAbsSeconds() / 86400 * 86400;
    return pastCutoff(*last, dayStart);
}

void RingEngine::reload(qint64 cutoffSeconds, qint64 dayStart)
{
    m_board.refreshAt(pastCutoff(cutoffSeconds, dayStart));
}

void RingEngine::TimerShiJianTimer()
{
    const RingClock::Tick t = m_ticker.next();
    try {
        tick(t);
    } catch (const std::exception &e) {
        // The clock must survive anything; the next tick runs normally.
        qCWarning(lcRing) << "clock tick abandoned:" << e.what();
    }
}

void RingEngine::tick(const RingClock::Tick &t)
{
    const qint64 nowSec = t.second();
    const qint64 dayStart = t.dayStart;
    const qint64 nowAbs = t.nowAbs;
    const qint64 prevAbs = t.prevAbs;

    m_board.setLabelNowTime(QString::number(nowSec));
    m_board.setClockText(inttotime(nowSec));

    if (t.count == 1 && !m_board.running())
        ButtonPlayClick();

    // A Refresh in stopped mode would move a running test's selection.
    const bool mayReload = !m_board.testing();
    bool reloaded = false;
    if (t.newDay()) {
        const bool forward = t.forward();
        // A tick late for yesterday's last seconds still rings them, from
        // yesterday's list, before the new day's list replaces it.
        if (forward && m_board.running())
            ringCheck(nowAbs, prevAbs, t.prevDate.toJulianDay() * 86400);
        // New day: yesterday's marks no longer matter, and the new weekday's
        // list must be in place before its 00:00:00 entry. Its first seconds
        // are left to the ring check and its window.
        abandonRetry();
        abandonWaiting();
        if (m_deferred) {
            const Deferred d = *std::exchange(m_deferred, std::nullopt);
            recordFailure(d.bell, BellStatus::Missed, d.reason);
        }
        m_day.forgetDay();
        m_day.rung().newDay(dayStart);
        m_playout.forget();
        m_zones.drop();
        if (mayReload) {
            reload(forward ? 0 : nowSec, dayStart);
            reloaded = true;
        }
    }

    // Also marks the bell rung at the previous second 完成 and moves the
    // cursor past it: a change of that bell, not a reload.
    if (m_board.running())
        ringCheck(nowAbs, prevAbs, dayStart);
    // A bell started ahead that this second did not ring is silenced.
    TimerStart.stop();
    m_earlyFor.reset();
    m_playout.dropEarly();

    if ((nowSec == 1 || nowSec == 10 || nowSec == 30) && mayReload && !reloaded)
        reload(nowSec, dayStart);

    if (m_board.running())
        TimerPrepare.start(kPrepareDelayMs);
    else
        stoppedCheck(nowAbs, prevAbs, dayStart);

    if (!m_board.testing()) {
        // The box names the file that sounds: with two entries at one second
        // the cursor's may be the twin that did not ring.
        if (AudioPlayer *p = m_board.running() ? heardPlayer() : nullptr) {
            // A zone started by its 提前 has not set the bar's length.
            if (p != &activePlayer())
                m_board.setProgressMax(p->length());
            m_board.setProgressPos(p->position());
            m_board.setYunXing(QFileInfo(p->fileName()).fileName());
        } else {
            m_board.setProgressPos(0);
            m_board.setYunXing(QString());
        }
    }
}

void RingEngine::ringCheck(qint64 nowAbs, qint64 prevAbs, qint64 dayStart, bool retryNow)
{
    const int from = m_day.next();
    // A retried start, or a file still loading, keeps its bell a candidate
    // after its second.
    QList<BellKey> kept;
    if (m_retry && m_retry->bell.dayStart == dayStart)
        kept << m_retry->bell.key;
    if (m_waiting && m_waiting->bell.dayStart == dayStart)
        kept << m_waiting->bell.key;
    if (m_deferred && m_deferred->bell.dayStart == dayStart)
        kept << m_deferred->bell.key;
    const DueBells::Due due = m_due.at(m_day.entries(), from, dayStart, prevAbs, nowAbs, kept);
    int candidate = due.ring;
    // Held back: every bell due is passed, none rings.
    if (held())
        candidate = -1;
    // A retry waits for the slot after the tick: its player may hold it up
    // for a whole bound, and the clock must not.
    const bool deferRetry = candidate >= 0 && !retryNow && dayStart + m_day.entry(candidate).time <= prevAbs;
    const int stop = candidate >= 0 ? candidate : due.stop;
    QString message;
    for (int i = from; i < stop; ++i) {
        const QString m = markPast(i, dayStart);
        if (message.isEmpty())
            message = m;
    }
    m_day.setNext(stop);
    if (candidate >= 0 && !deferRetry)
        ringAt(candidate, dayStart, nowAbs);
    if (!message.isEmpty())
        m_outcomes.post(message);
}

QString RingEngine::markPast(int index, qint64 dayStart)
{
    if (!m_day.entry(index).hasValidTime())
        return {};
    const BellKey key = m_day.key(index);
    const BellStatus fault = m_day.faultOf(key);
    if (fault != BellStatus::None) {
        m_outcomes.passed(index, fault);
        return {};
    }
    if (m_retry && m_retry->bell.key == key && m_retry->bell.dayStart == dayStart) {
        // The output did not come back within the window.
        const Retry r = *std::exchange(m_retry, std::nullopt);
        recordFailure(r.bell, BellStatus::Failed, r.message);
        return r.message;
    }
    if (m_waiting && m_waiting->bell.key == key && m_waiting->bell.dayStart == dayStart) {
        // Its file did not load within the window (or a later bell came).
        const Waiting w = *std::exchange(m_waiting, std::nullopt);
        m_zones.drop(); // a bell in zones that no zone had yet
        recordFailure(w.bell, BellStatus::Failed, kSlowOpenReason);
        return kSlowOpenReason;
    }
    if (m_deferred && m_deferred->bell.key == key && m_deferred->bell.dayStart == dayStart) {
        // Its zones were not given back within the window (or a later bell came).
        const Deferred d = *std::exchange(m_deferred, std::nullopt);
        recordFailure(d.bell, BellStatus::Missed, d.reason);
        return {};
    }
    // A twin of the same second sounded with the bell that rang.
    if (m_day.rung().wasRung(dayStart, key) || m_day.rung().secondRung(dayStart, key.seconds)) {
        m_outcomes.passed(index, BellStatus::Done);
        return {};
    }
    recordFailure(bellAt(index, dayStart), BellStatus::Missed, held() ? m_holdReason : kMissedReason);
    return {};
}

void RingEngine::ringAt(int index, qint64 dayStart, qint64 nowAbs)
{
    const Bell bell = bellAt(index, dayStart);
    if (m_waiting && m_waiting->bell.key == bell.key && m_waiting->bell.dayStart == dayStart)
        return; // its file is still loading: it starts when loaded
    if (m_taken && bellTaken(bell.zones)) {
        if (!isDeferred(bell)) {
            m_deferred = Deferred{bell, m_taken->reason};
            qCInfo(lcRing).noquote() << "bell" << inttotime(bell.key.seconds) << shownText(bell.name)
                                     << "waits for its zones:" << m_taken->reason;
        }
        return;
    }
    if (isDeferred(bell))
        m_deferred.reset();
    // The bell sounding now ends here (完成). Its zones stop at once; on
    // 铃声输出 it stops when this bell starts, or is opened on its player,
    // so a file still loading on the spare lets it play on until then.
    if (m_sounding)
        endSounding(BellStatus::Done);
    m_zones.endBefore(bell.key, dayStart);
    // Zones the engine does not know (deleted since, or read from a copy
    // while the store is away) leave the bell on 铃声输出 rather than silent.
    if (m_zones.hasKnownZone(bell.zones)) {
        stopMainPlayers();
        ringZones(bell, dayStart, nowAbs);
        return;
    }
    try {
        AudioPlayer *loading = nullptr;
        AudioPlayer *p = m_playout.start(bell.key, dayStart, bell.music, &loading);
        if (!p) {
            m_retry.reset();
            m_waiting = Waiting{bell, loading};
            qCInfo(lcRing).noquote() << "bell" << inttotime(bell.key.seconds) << shownText(bell.name)
                                     << "waits for its file to load:" << shownText(bell.music);
            return;
        }
        started(p, bell, dayStart);
    } catch (const std::exception &e) {
        startFailed(bell, dynamic_cast<const AudioError *>(&e), BellBoard::ringFailureText(e), nowAbs);
        qCDebug(lcRing) << "start failed:" << e.what();
    }
}

void RingEngine::TimerPrepareTimer()
{
    if (!m_board.running() || m_board.testing() || held())
        return;
    const qint64 nowAbs = nowAbsSeconds();
    const qint64 dayStart = nowAbs - nowAbs % 86400;
    try {
        const bool deferredFree = m_deferred && m_deferred->bell.dayStart == dayStart && !bellTaken(m_deferred->bell.zones);
        if (((m_retry && m_retry->bell.dayStart == dayStart) || deferredFree) && m_ticker.prevAbs())
            ringCheck(nowAbs, *m_ticker.prevAbs(), dayStart, true);
        m_zones.retry(nowAbs, m_due.catchUpSeconds());
        if (m_board.running()) {
            prepareNext(nowAbs, dayStart);
            armEarlyStart(nowAbs, dayStart);
        }
    } catch (const std::exception &e) {
        // Not opened ahead: the bell's second opens it.
        qCWarning(lcRing) << "opening ahead abandoned:" << e.what();
    }
}
