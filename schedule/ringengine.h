#pragma once
// The bells of the day, wired from their parts: on each tick of its clock
// (RingClock) it switches to running mode the first time, asks DueBells
// which bell rings now and which have passed, rings it (on 铃声输出, opened
// ahead when it can, retried while its output may come back, or in its
// zones), blinks the playing and the next bell, and reloads the list after
// midnight. Stopped mode and the hold ring nothing. Every bell it tries ends
// with an honest status (完成, 失败, 错过, 中断), written by RingOutcomes
// with its record, log line and box. It learns of a bell's end from its
// player's signals; of a bell in zones, from RingZones.
#include "audioplayer.h"
#include "bellboard.h"
#include "duebells.h"
#include "ringclock.h"
#include "ringoutcomes.h"
#include "ringplayout.h"
#include "ringzones.h"
#include "zonestore.h"

#include <QDate>
#include <QObject>
#include <functional>
#include <QStringList>
#include <QTimer>
#include <optional>

class RingAlerts;
class RingHistory;

class RingEngine : public QObject {
    Q_OBJECT
public:
    // The catch-up window (补打时限): see DueBells.
    static constexpr int kDefaultCatchUpSeconds = DueBells::kDefaultCatchUpSeconds;
    static constexpr int kMaxCatchUpSeconds = DueBells::kMaxCatchUpSeconds;
    // The next bell's file is opened this many seconds ahead, so that its
    // tick only has to start it.
    static constexpr qint64 kPrepareAheadSeconds = 2;
    // A moment after each tick, never inside it, the engine retries a bell
    // whose start failed for want of output and opens the next bell ahead:
    // a sound server that stopped answering costs such a call its bound,
    // and the clock on screen must not wait for it.
    static constexpr int kPrepareDelayMs = 50;
    // When the output's latency is added to a bell's delay: see RingOutcomes.
    static constexpr int kLatencyReadMs = RingOutcomes::kLatencyReadMs;
    // 说明 of the history for a bell that never started, and for one whose
    // output died while it played.
    static inline const QString kMissedReason =
        QStringLiteral("铃声时刻已过（时钟跳变或程序繁忙），没有播放。");
    static inline const QString kStoppedReason = QStringLiteral("停止打铃期间，没有播放");
    static inline const QString &kInterruptedReason = RingOutcomes::kInterruptedReason;
    static inline const QString &kSlowOpenReason = RingOutcomes::kSlowOpenReason;

    // 说明 of a bell that rang on the system default output because the
    // chosen one was missing, and the warning shown once for it.
    static QString missingOutputText(const QString &device)
    {
        return QStringLiteral("指定的声音输出「%1」不存在，铃声已改用系统默认输出。").arg(device);
    }

    // Zones: a bell with zones rings on one player per zone (RingZones),
    // never on the main player. zonePlayer makes (or returns the kept)
    // player of a zone's output when first needed; nullptr when it cannot.
    std::function<AudioPlayer *(const Zone &zone)> zonePlayer;
    void setZones(const QList<Zone> &zones) { m_zones.known().setZones(zones); }
    // The kept player of a known zone (made now when first needed), for
    // test playback: nullptr for a zone the engine does not know.
    AudioPlayer *playerOfZone(qint64 zone) { return m_zones.known().player(zone); }
    QString zoneName(qint64 zone) const { return m_zones.known().zone(zone).name; }
    // Zones whose sound travels on (a stream to the buildings): why nobody
    // hears what plays on a zone's output ("没有楼栋在收听"), empty when
    // someone does or nothing is known. Asked at the bell's second, so it
    // answers from what it learnt before and never waits; zonesSoon tells
    // it which zones a bell about two seconds away will ring in, the time
    // to ask ahead. Such a zone plays on but counts as silent.
    std::function<QString(const Zone &zone)> zoneUnheard;
    std::function<void(const QList<Zone> &zones)> zonesSoon;

    // How the operator knows an output by its device name: the fallback
    // message and the record name it so (unset: the device name).
    std::function<QString(const QString &device)> outputLabel;

    // spare, when given, is a second player: a bell due while the previous
    // one still plays is opened on it ahead of its second.
    RingEngine(BellBoard &board, AudioPlayer &player, Messages &messages, const Clock &clock,
               QObject *parent = nullptr, AudioPlayer *spare = nullptr);
    ~RingEngine() override;

    // Where each bell's record goes (none: no records). Records are written
    // from the event loop after the tick that made them.
    void setHistory(RingHistory *history) { m_outcomes.setHistory(history); }
    // Where the bands learn of stopped mode and of bells that did not ring.
    void setAlerts(RingAlerts *alerts) { m_outcomes.setAlerts(alerts); }
    // What a bell's record adds to its 说明 for its zones as it sounds (the
    // amplifiers' relays that do not answer); none: nothing.
    void setPowerNote(std::function<QString(const QList<qint64> &zones)> note)
    {
        m_outcomes.powerNote = std::move(note);
    }

    // Clamped to 0 … kMaxCatchUpSeconds.
    void setCatchUpSeconds(int seconds) { m_due.setCatchUpSeconds(seconds); }
    int catchUpSeconds() const { return m_due.catchUpSeconds(); }

    // How many entries the engine remembers as rung: only today's and
    // yesterday's are kept, so a program that runs for months does not grow.
    int rungEntriesHeld() const { return m_day.rung().entriesHeld(); }
    // The player of the bell sounding now (or of the last one).
    AudioPlayer &activePlayer() const { return m_playout.active(); }
    // The player the window follows (its file name and progress): the main
    // player while it plays, else one of the zones the bell sounds in;
    // nullptr when no bell is heard.
    AudioPlayer *heardPlayer() const;

    // Arms the clock: the first tick comes just after a wall-clock second,
    // about one second from now.
    void start();

    // Holding the bells back (an emergency broadcast has the speakers): the
    // bell sounding is cut, bells due meanwhile are not rung but recorded
    // 错过 with the reason, and after the release the day goes on with the
    // next bell due; none held back rings late.
    void holdBells(const QString &reason);
    void releaseBells();
    bool held() const { return !m_holdReason.isEmpty(); }

    // Zones taken by a sound above the bells (a live announcement; every
    // bell when everywhere): a bell sounding in them is cut, one due in
    // them waits until they are given back and then rings late with its
    // delay recorded; past its catch-up window it is 错过 with reason. A
    // bell in several zones waits while any of them is taken. Bells in
    // other zones ring as ever; a bell on 铃声输出 waits only for everywhere.
    void takeZones(const QList<qint64> &zones, bool everywhere, const QString &reason);
    void giveBackZones();
    bool zonesTaken() const { return m_taken.has_value(); }

    QTimer TimerShiJian; // the clock: single-shot, re-armed every tick (RingClock)
    QTimer TimerShan;    // the status blink, enabled in running mode
    QTimer TimerPrepare; // retries and opens ahead, a moment after each tick
    // Starts the bell opened ahead for the coming second that much before
    // it as its player takes to start (at the second itself when its starts
    // cost nothing measurable), so that it is heard at the second and not
    // after the tick; the second's tick still decides and records it
    // (RingPlayout).
    QTimer TimerStart;

public slots:
    void TimerShiJianTimer();
    void TimerShanTimer();
    // Retries a bell whose start failed for want of output (within its
    // catch-up window), then opens the next bell's file ahead when one is
    // due within kPrepareAheadSeconds and its player is idle.
    void TimerPrepareTimer();
    // The early start, when the coming second still rings that bell.
    void TimerStartTimer();
    // Switches the mode (ignored while a test runs: the button is disabled
    // then). A store failure of its Refresh propagates once the mode has
    // switched, the list staying as it was: the window's click shows it in
    // the general error box, the first tick's switch logs it and gives up
    // that tick; the next reload lists the day again.
    void ButtonPlayClick();

signals:
    // A bell's sound has started (its index in the day's list at that
    // moment), in these zones (none: on 铃声输出). A bell in zones that had
    // ended everywhere rings again when a zone is heard late.
    void rang(int index, const QList<qint64> &zones);
    // A bell that rang has stopped sounding: Done (its end, or cut by the
    // next bell, 停  止 or a hold) or Interrupted (its output died; for a
    // bell in zones, in every zone that had it). Each rang()
    // is followed by exactly one bellEnded(). index is -1 when the bell is
    // no longer listed (a new day's list came in).
    void bellEnded(int index, BellStatus result);
    // A bell that never sounded: Failed (its start failed) or Missed (its
    // second passed without a start).
    void ringFailed(int index, BellStatus result);

private:
    // The bell sounding now, watched for its end. A bell in zones sounds
    // until the last of its zones has ended (RingZones tells).
    struct Sounding {
        BellKey key;
        AudioPlayer *player = nullptr;
        int record = 0;
        bool zones = false;
    };
    // What the history and the log need of a bell no longer in the list.
    using Bell = RingOutcomes::Bell;
    // A start that failed for want of output, tried again on each tick
    // until the catch-up window has passed.
    struct Retry {
        Bell bell;
        QString message;
    };
    // A bell whose second came while its file was still loading: it starts
    // when the load completes within the catch-up window.
    struct Waiting {
        Bell bell;
        AudioPlayer *player = nullptr;
    };

    void tick(const RingClock::Tick &t);
    void armBlink();
    // Refresh with "earlier than cutoff" as the meaning of past; a bell whose
    // start is still retried (or whose file still loads) stays ahead of the
    // cursor.
    void reload(qint64 cutoffSeconds, qint64 dayStart);
    qint64 pastCutoff(qint64 cutoffSeconds, qint64 dayStart) const;
    // That limit of the past, as the board's Refresh asks it: the last
    // tick's second (0 on a day the clock has not ticked yet).
    std::optional<qint64> refreshCutoff() const;
    // retryNow: a bell whose start failed for want of output is tried again
    // here (after the tick); otherwise it only keeps its place.
    void ringCheck(qint64 nowAbs, qint64 prevAbs, qint64 dayStart, bool retryNow = false);
    // Stopped mode: today's bells due since the previous tick are recorded
    // 错过, and the band learns which bell is skipped next.
    void stoppedCheck(qint64 nowAbs, qint64 prevAbs, qint64 dayStart);
    void ringAt(int index, qint64 dayStart, qint64 nowAbs);
    // A bell that sounds: it becomes the bell sounding, on p, and
    // m_outcomes writes what it did. inZones: p is a zone's; silent: the
    // zones that stayed silent and why (the bell is 部分播出); heardNowhere:
    // it plays, but in no zone anybody hears it (失败).
    void started(AudioPlayer *p, const Bell &bell, qint64 dayStart, bool inZones = false,
                 const QStringList &silent = {}, bool heardNowhere = false);
    // A bell with zones: started in every zone at once; what stayed silent
    // is named in its record.
    void ringZones(const Bell &bell, qint64 dayStart, qint64 nowAbs);
    // What RingZones tells of the bell in zones.
    void zonesFirstHeard(AudioPlayer *p, const QStringList &silent);
    void zonesHeardAgain(AudioPlayer *p);
    void zonesEnded(BellStatus result);
    void zonesFailed(const QString &message);
    // The players of 铃声输出 stop: a bell in zones cuts the bell before as
    // any bell does.
    void stopMainPlayers();
    // Stops every bell player and zone, ends what sounds, and forgets what
    // was opened ahead or is still retried in a zone.
    void silenceBells();
    // A start that failed: tried again while the output may come back,
    // else marked failed with its box.
    void startFailed(const Bell &bell, const AudioError *audio, const QString &message, qint64 nowAbs);
    // Marks an entry the cursor passes; returns the message to show when
    // it ends a retried start.
    QString markPast(int index, qint64 dayStart);
    void prepareNext(qint64 nowAbs, qint64 dayStart);
    // Arms TimerStart when the bell ready ahead is due at the next second.
    void armEarlyStart(qint64 nowAbs, qint64 dayStart);
    // The bell the second at dueAbs rings now as things stand, or -1.
    int dueAt(qint64 dueAbs, qint64 dayStart) const;
    Bell bellAt(int index, qint64 dayStart) const;
    qint64 nowAbsSeconds() const { return m_ticker.nowAbs(); }

    // What a player tells by itself.
    void watch(AudioPlayer *p);
    void onEnded(AudioPlayer *p, bool interrupted);
    void onOpened(AudioPlayer *p);
    void onOpenFailed(AudioPlayer *p, const QString &text, AudioError::Cause cause);

    // Outcomes go through m_outcomes; these end what the engine holds.
    void recordFailure(const Bell &bell, BellStatus result, const QString &reason)
    {
        m_outcomes.failed(bell, result, reason);
    }
    void abandonRetry();
    void abandonWaiting();
    void endSounding(BellStatus result);

    BellBoard &m_board;
    DaySchedule &m_day;
    RingPlayout m_playout;
    const Clock &m_clock;
    RingClock m_ticker;
    DueBells m_due;
    RingOutcomes m_outcomes;
    RingZones m_zones;
    // Today's bells as running mode would list them, read once per stopped
    // spell (again after the list or the date changed).
    struct Today {
        qint64 dayStart = 0;
        QList<BellEntry> bells;
    };
    std::optional<Today> m_today;

    std::optional<Sounding> m_sounding;
    std::optional<Retry> m_retry;
    std::optional<Waiting> m_waiting;
    QString m_holdReason; // while the bells are held back
    struct Taken {
        QList<qint64> zones;
        bool everywhere = false;
        QString reason;
    };
    std::optional<Taken> m_taken;
    // A bell due in zones taken, waiting for them (with the reason it is
    // missed if they come back too late).
    struct Deferred {
        Bell bell;
        QString reason;
    };
    std::optional<Deferred> m_deferred;
    bool bellTaken(const QList<qint64> &zones) const;
    bool isDeferred(const Bell &bell) const
    {
        return m_deferred && m_deferred->bell.key == bell.key && m_deferred->bell.dayStart == bell.dayStart;
    }
    // What TimerStart was armed for.
    struct EarlyStart {
        BellKey key;
        qint64 dayStart = 0;
        QDateTime aimedAt; // when TimerStart is meant to fire
    };
    std::optional<EarlyStart> m_earlyFor;
};
