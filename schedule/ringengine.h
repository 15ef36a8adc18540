#pragma once
// The bell clock: ticks just after every wall-clock second, switches to
// running mode on its first tick, rings each of today's entries at its
// second, blinks the playing and the next entry, and reloads the list after
// midnight.
#include "audioplayer.h"
#include "bellboard.h"

#include <QDate>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <functional>
#include <optional>

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
    // delayed by a busy machine); older ones are marked past.
    static constexpr qint64 kCatchUpSeconds = 3;
    // The next bell's file is opened this many seconds ahead, when the
    // player is idle, so that its tick only has to start it.
    static constexpr qint64 kPrepareAheadSeconds = 2;
    // The clock aims this far past each wall-clock second.
    static constexpr int kTickDelayMs = 2;

    RingEngine(BellBoard &board, AudioPlayer &player, Messages &messages, const Clock &clock,
               QObject *parent = nullptr);

    // Lets the window repaint and handle its input (the blink does this after
    // each step). Tests leave it empty.
    void setProcessEvents(std::function<void()> fn) { m_processEvents = std::move(fn); }

    // How many entries the engine remembers as rung: only today's and
    // yesterday's are kept, so a program that runs for months does not grow.
    int rungEntriesHeld() const;

    // Arms the clock: the first tick comes just after a wall-clock second,
    // about one second from now.
    void start();

    QTimer TimerShiJian; // the clock: single-shot, re-armed every tick
    QTimer TimerShan;    // the status blink, enabled in running mode

public slots:
    void TimerShiJianTimer();
    void TimerShanTimer();
    // Switches the mode (ignored while a test runs: the button is disabled
    // then). Store failures of its Refresh propagate to the general error box.
    void ButtonPlayClick();

signals:
    // A bell has started (row of the grid at that moment).
    void rang(int row);
    // A bell's file could not be played; the row shows "失败".
    void ringFailed(int row);

private:
    struct Prepared {
        QString key;  // which entry of which day
        QString path; // the file open in the player
        qint64 length = 0;
    };

    void tick(quint64 seq);
    void armClock(int minMs = 0);
    void armBlink();
    // Refresh with "earlier than cutoff" as the meaning of past.
    void reload(qint64 cutoffSeconds);
    void ringCheck(qint64 nowAbs, qint64 prevAbs, qint64 dayStart);
    void ringAt(int row, qint64 dayStart);
    void markPast(int row);
    void prepareNext(qint64 nowAbs, qint64 dayStart);
    QString entryKey(int row) const; // "id:time"
    bool wasRung(qint64 dayStart, const QString &key) const;

    BellBoard &m_board;
    AudioPlayer &m_player;
    Messages &m_messages;
    const Clock &m_clock;
    std::function<void()> m_processEvents;

    int m_tickCount = 0;
    quint64 m_tickSeq = 0;           // counts every tick, nested ones too
    std::optional<qint64> m_prevAbs; // the previous tick's local second (day * 86400 + second)
    QDate m_prevDate;
    quint64 m_refreshDueSeq = 0;     // the tick that rang a bell whose Refresh is still due
    std::optional<Prepared> m_prepared;
    QString m_prepareTried;          // a failed pre-open is not retried for the same entry
    // Entries rung (or failed) per day, keyed "id:time", so that a clock set
    // back never rings one twice.
    QHash<qint64, QSet<QString>> m_rung;
    bool m_boxOpen = false;
};
