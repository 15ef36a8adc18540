#pragma once
// The bells of the day, wired from their parts: on each tick of its clock
// (RingClock) it switches to running mode the first time, asks DueBells
// which bell rings now and which have passed, rings it (on 铃声输出, opened
// ahead when it can, retried while its output may come back, or in its
// zones), blinks the playing and the next bell, and reloads the list after
// midnight. Stopped mode and the hold ring nothing. Every bell it tries ends
// with an honest status (完成, 失败, 错过, 中断), written by RingOutcomes
// with its record, log line and box. It learns of a bell's end from its
// player's signals.
#include "audioplayer.h"
#include "bellboard.h"
#include "duebells.h"
#include "ringclock.h"
#include "ringoutcomes.h"
#include "ringplayout.h"
#include "zonestore.h"

#include <QDate>
#include <QHash>
#include <QObject>
#include <functional>
#include <QSet>
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
    // 说明 and message of a bell whose file was still loading when its
    // catch-up window ended.
    static inline const QString kSlowOpenReason =
        QStringLiteral("铃声文件读取太慢，补打时限内没有读完，铃声没有播出！");

    // 说明 of a bell that rang on the system default output because the
    // chosen one was missing, and the warning shown once for it.
    static QString missingOutputText(const QString &device)
    {
        return QStringLiteral("指定的声音输出「%1」不存在，铃声已改用系统默认输出。").arg(device);
    }

    // Zones: a bell with zones rings on one player per zone, never on the
    // main player. zonePlayer makes (or returns the kept) player of a zone's
    // output when first needed; nullptr when it cannot.
    std::function<AudioPlayer *(const Zone &zone)> zonePlayer;
    void setZones(const QList<Zone> &zones);
    // The kept player of a known zone (made now when first needed), for
    // test playback: nullptr for a zone the engine does not know.
    AudioPlayer *playerOfZone(qint64 zone);
    QString zoneName(qint64 zone) const { return m_zones.value(zone).name; }
    // Zones whose sound travels on (a stream to the buildings): why nobody
    // hears what plays on a zone's output ("没有楼栋在收听"), empty when
    // someone does or nothing is known. Asked at the bell's second, so it
    // answers from what it learnt before and never waits; zonesSoon tells
    // it which zones a bell about two seconds away will ring in, the time
    // to ask ahead. Such a zone plays on but counts as silent.
    std::function<QString(const Zone &zone)> zoneUnheard;
    std::function<void(const QList<Zone> &zones)> zonesSoon;
    // 说明 of a bell heard in some zones only: the silent ones and why.
    static QString silentZonesText(const QStringList &zonesAndReasons)
    {
        return QStringLiteral("以下分区没有播出：%1").arg(zonesAndReasons.join(QStringLiteral("；")));
    }
    // 说明 of zones whose output came back within the catch-up window.
    static QString lateZonesText(const QStringList &zonesAndDelays)
    {
        return QStringLiteral("以下分区的声音输出恢复后补播，晚于铃声时刻：%1")
            .arg(zonesAndDelays.join(QStringLiteral("；")));
    }
    // 说明 of zones whose output died while the bell played there.
    static QString cutZonesText(const QStringList &zones)
    {
        return QStringLiteral("以下分区的声音输出在播放中途中断，铃声没有播完：%1").arg(zones.join(u'、'));
    }

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

    // Clamped to 0 … kMaxCatchUpSeconds.
    void setCatchUpSeconds(int seconds) { m_due.setCatchUpSeconds(seconds); }
    int catchUpSeconds() const { return m_due.catchUpSeconds(); }

    // How many entries the engine remembers as rung: only today's and
    // yesterday's are kept, so a program that runs for months does not grow.
    int rungEntriesHeld() const { return m_due.entriesHeld(); }
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

    QTimer TimerShiJian; // the clock: single-shot, re-armed every tick (RingClock)
    QTimer TimerShan;    // the status blink, enabled in running mode
    QTimer TimerPrepare; // retries and opens ahead, a moment after each tick

public slots:
    void TimerShiJianTimer();
    void TimerShanTimer();
    // Retries a bell whose start failed for want of output (within its
    // catch-up window), then opens the next bell's file ahead when one is
    // due within kPrepareAheadSeconds and its player is idle.
    void TimerPrepareTimer();
    // Switches the mode (ignored while a test runs: the button is disabled
    // then). A store failure of its Refresh propagates once the mode has
    // switched, the list staying as it was: the window's click shows it in
    // the general error box, the first tick's switch logs it and gives up
    // that tick; the next reload lists the day again.
    void ButtonPlayClick();

signals:
    // A bell's sound has started (its index in the day's list at that moment).
    void rang(int index);
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
    // until the last of its zones' players has ended.
    struct Sounding {
        BellKey key;
        AudioPlayer *player = nullptr;
        int record = 0;
        QHash<AudioPlayer *, qint64> zones; // the zone players still sounding, with their zone
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
    // m_outcomes writes what it did. silent: the zones that stayed silent and why (the bell is 部分播出).
    // heardNowhere: it plays, but in no zone anybody hears it (失败).
    void started(AudioPlayer *p, const Bell &bell, qint64 dayStart, const QStringList &silent = {},
                 bool heardNowhere = false);
    // A bell with zones: started on every zone's player at once; what stayed
    // silent is named in its record.
    void ringZones(const Bell &bell, qint64 dayStart, qint64 nowAbs);
    AudioPlayer *playerOfZone(const Zone &zone);
    bool hasKnownZone(const QList<qint64> &zones) const;
    // Cuts the zones of the bell before, as a new bell does (keep: the
    // players of the bell about to ring that its 提前 started already).
    void stopZones(const QSet<AudioPlayer *> &keep = {});
    // Opens the bell's file ahead on every zone's idle player, and starts
    // each zone with a 提前 that much before the second.
    void prepareZones(const BellKey &key, qint64 dayStart, const QString &path);
    void startEarly(const BellKey &key, qint64 dayStart, qint64 zone);
    struct ZonePrepared {
        BellKey key;
        qint64 dayStart = 0;
        QString path;
        QHash<qint64, AudioPlayer *> opened; // by zone
        QSet<AudioPlayer *> early;           // started by their 提前
    };
    std::optional<ZonePrepared> m_zonePrepared;
    // A bell heard in some of its zones: the silent ones are tried again
    // each second of the catch-up window, and its record follows what each
    // zone did (silent, late, cut off) until it has ended everywhere.
    // A bell whose file still loads in every zone at its second waits (as
    // m_waiting) with rang unset, and starts with the first zone loaded.
    struct ZoneBell {
        Bell bell;
        int record = 0;
        QHash<qint64, QString> retried; // zone → why it is silent so far
        QStringList gone;               // silent for good: "乙（why）"
        QStringList late;               // heard late: "乙（3200 毫秒）"
        QStringList cut;                // their output died mid-bell
        qint64 latestMs = 0;            // the latest zone's delay
        QHash<qint64, AudioPlayer *> loading; // zones (of retried) whose file still loads
        bool rang = false;              // heard in some zone: its record exists
        int whole = 0;                  // zones that played it to its end
    };
    std::optional<ZoneBell> m_zoneBell;
    // Starts the bell in one zone: the player that sounds, or why the zone
    // stays silent and whether its output may come back.
    struct ZoneStart {
        AudioPlayer *player = nullptr;
        QString why;
        bool retry = false;
        AudioPlayer *loading = nullptr; // its file still loads on this player
        std::optional<AudioError> error;
    };
    // retrying: a file the zone's player has loaded since (a slow one) is
    // played as it is.
    ZoneStart startZone(const Zone &zone, const Bell &bell, const ZonePrepared *prep, bool retrying);
    // Tries the silent zones of the bell again (after the tick), until its
    // window has passed.
    void retryZones(qint64 nowAbs);
    // A zone of the zone bell sounds at last (its output back, its file
    // loaded): the bell starts there when no zone had it yet, else the zone
    // is named late.
    void zoneHeard(qint64 zone, AudioPlayer *p);
    // A zone player of the waiting zone bell finished loading (or failed):
    // the zone starts at once, within the catch-up window.
    bool zoneLoaded(AudioPlayer *p, const std::optional<AudioError> &failure = std::nullopt);
    // The zone bell no zone had yet is silent everywhere for good.
    void zoneBellFailed();
    // The players of 铃声输出 stop: a bell in zones cuts the bell before as
    // any bell does.
    void stopMainPlayers();
    // The zone bell's status and 说明 from what its zones did, written to
    // its row and its record.
    void updateZoneRecord();
    // A zone player of the bell has ended (cut off when interrupted).
    void zoneEnded(AudioPlayer *p, bool interrupted);
    // The zones still tried stay silent for good (a new bell, stopped mode,
    // a new day, the window's end).
    void dropZoneBell();
    // Stops every bell player and zone, ends what sounds, and forgets what
    // was opened ahead or is still retried in a zone.
    void silenceBells();
    // Zone names for the operator, joined with "、" (unknown ids left out).
    QString zoneNames(const QList<qint64> &zones) const;
    // A start that failed: tried again while the output may come back,
    // else marked failed with its box.
    void startFailed(const Bell &bell, const AudioError *audio, const QString &message, qint64 nowAbs);
    // Marks an entry the cursor passes; returns the message to show when
    // it ends a retried start.
    QString markPast(int index, qint64 dayStart);
    void prepareNext(qint64 nowAbs, qint64 dayStart);
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
    QHash<qint64, Zone> m_zones;
    QHash<qint64, AudioPlayer *> m_zonePlayers; // by zone id, made when first needed
    QSet<AudioPlayer *> m_watched;
    QString m_holdReason; // while the bells are held back
};
