#pragma once
// The bell clock: ticks just after every wall-clock second, switches to
// running mode on its first tick, rings each of today's entries at its
// second, blinks the playing and the next entry, and reloads the list after
// midnight. Every bell ends with an honest status (完成, 失败, 错过, 中断) and
// a record in the ring history.
#include "audioplayer.h"
#include "bellboard.h"

#include <QDate>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <functional>
#include <optional>

class RingHistory;

// Rings one grid row through a player: Close, FileName := the row's file in
// the music folder, Open, progress maximum := Length, Play. Throws
// AudioError or AppError when the file cannot be played (also when the
// cell is not a bare file name, or the player does not start); used by the
// ring engine, test playback and the grid's double-click.
void ringRow(BellBoard &board, AudioPlayer &player, int row);

class RingEngine : public QObject {
    Q_OBJECT
public:
    // An entry whose second came at most this long ago still rings (a tick
    // delayed by a busy machine, an output back after a moment); older ones
    // are marked past.
    static constexpr qint64 kCatchUpSeconds = 3;
    // The next bell's file is opened this many seconds ahead, so that its
    // tick only has to start it.
    static constexpr qint64 kPrepareAheadSeconds = 2;
    // The clock aims this far past each wall-clock second.
    static constexpr int kTickDelayMs = 2;
    // A moment after each tick, never inside it, the engine retries a bell
    // whose start failed for want of output and opens the next bell ahead:
    // a sound server that stopped answering costs such a call its bound,
    // and the clock on screen must not wait for it.
    static constexpr int kPrepareDelayMs = 50;
    // 说明 of the history for a bell that never started, and for one whose
    // output died while it played.
    static inline const QString kMissedReason =
        QStringLiteral("铃声时刻已过（时钟跳变或程序繁忙），没有播放。");
    static inline const QString kInterruptedReason =
        QStringLiteral("声音输出在播放中途中断，铃声没有播完。");

    // 说明 of a bell that rang on the system default output because the
    // chosen one was missing, and the warning shown once for it.
    static QString missingOutputText(const QString &device)
    {
        return QStringLiteral("指定的声音输出「%1」不存在，铃声已改用系统默认输出。").arg(device);
    }

    // spare, when given, is a second player: a bell due while the previous
    // one still plays is opened on it ahead of its second.
    RingEngine(BellBoard &board, AudioPlayer &player, Messages &messages, const Clock &clock,
               QObject *parent = nullptr, AudioPlayer *spare = nullptr);

    // Lets the window repaint and handle its input (the blink does this after
    // each step). Tests leave it empty.
    void setProcessEvents(std::function<void()> fn) { m_processEvents = std::move(fn); }
    // Where each bell's record goes (none: no records). Records are written
    // from the event loop after the tick that made them.
    void setHistory(RingHistory *history) { m_history = history; }

    // How many entries the engine remembers as rung: only today's and
    // yesterday's are kept, so a program that runs for months does not grow.
    int rungEntriesHeld() const;
    // The player of the bell sounding now (or of the last one).
    AudioPlayer &activePlayer() const { return *m_players[m_active]; }

    // Arms the clock: the first tick comes just after a wall-clock second,
    // about one second from now.
    void start();

    QTimer TimerShiJian; // the clock: single-shot, re-armed every tick
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
    // then). Store failures of its Refresh propagate to the general error box.
    void ButtonPlayClick();

signals:
    // A bell's sound has started (its grid row at that moment).
    void rang(int row);
    // A bell that rang has stopped sounding: Done (its end, the next bell or
    // the operator stopped it) or Interrupted (its output died). Each rang()
    // is followed by exactly one bellEnded(). row is -1 when the bell is no
    // longer listed (a new day's list came in).
    void bellEnded(int row, BellStatus result);
    // A bell that never sounded: Failed (its start failed) or Missed (its
    // second passed without a start).
    void ringFailed(int row, BellStatus result);

private:
    struct Prepared {
        QString key;  // which entry of which day
        QString path; // the file open in the player
        AudioPlayer *player = nullptr;
        qint64 length = 0;
    };
    // The bell sounding now, watched for its end.
    struct Sounding {
        QString key;
        AudioPlayer *player = nullptr;
        int record = 0;
    };
    // A start that failed for want of output, tried again on each tick
    // until the catch-up window has passed.
    struct Retry {
        QString key;
        qint64 dayStart = 0;
        qint64 seconds = 0;
        QString name, music, message;
    };

    void tick(quint64 seq);
    void armClock(int minMs = 0);
    void armBlink();
    // Refresh with "earlier than cutoff" as the meaning of past; a bell whose
    // start is still retried stays ahead of the cursor.
    void reload(qint64 cutoffSeconds, qint64 dayStart);
    // retryNow: a bell whose start failed for want of output is tried again
    // here (after the tick); otherwise it only keeps its place.
    void ringCheck(qint64 nowAbs, qint64 prevAbs, qint64 dayStart, bool retryNow = false);
    void ringAt(int row, qint64 dayStart, qint64 nowAbs);
    // Starts the row's bell: only play() when it was opened ahead, else the
    // whole ringRow sequence. Returns the player that sounds.
    AudioPlayer *startBell(int row, qint64 dayStart);
    // Marks an entry the cursor passes; returns the message to show when
    // it ends a retried start.
    QString markPast(int row, qint64 dayStart);
    void prepareNext(qint64 nowAbs, qint64 dayStart);
    AudioPlayer *preparePlayer() const;
    bool wasRung(qint64 dayStart, const QString &key) const;
    bool secondRung(qint64 dayStart, qint64 seconds) const;
    void noteRung(qint64 dayStart, const QString &key, qint64 seconds);

    // Outcomes: the row's status, the fault kept for Refresh, the history
    // record and the signals.
    void recordFailure(int row, qint64 dayStart, BellStatus result, const QString &reason);
    void abandonRetry();
    void watchSounding();
    void endSounding(BellStatus result);
    int rowOfKey(const QString &key) const;
    void showBox(const QString &message);
    void flushSoon();

    BellBoard &m_board;
    AudioPlayer *m_players[2];
    int m_active = 0;
    Messages &m_messages;
    const Clock &m_clock;
    std::function<void()> m_processEvents;
    RingHistory *m_history = nullptr;
    bool m_flushQueued = false;

    int m_tickCount = 0;
    quint64 m_tickSeq = 0;           // counts every tick, nested ones too
    std::optional<qint64> m_prevAbs; // the previous tick's local second (day * 86400 + second)
    QDate m_prevDate;
    quint64 m_refreshDueSeq = 0;     // the tick that rang a bell whose Refresh is still due
    std::optional<Prepared> m_prepared;
    QString m_prepareTried;          // a failed pre-open is not retried for the same entry
    std::optional<Sounding> m_sounding;
    std::optional<Retry> m_retry;
    // Entries rung (or failed) per day, keyed "id:time", and their seconds,
    // so that a clock set back never rings one twice.
    struct Day {
        QSet<QString> keys;
        QSet<qint64> seconds;
    };
    QHash<qint64, Day> m_rung;
    bool m_boxOpen = false;
    QString m_warnedMissing; // the missing output already warned about
};
