#pragma once
// The bell clock's seconds: a single-shot timer re-armed from the wall clock
// a little after each of its seconds (a repeating 1000 ms timer drifts
// against it and would sooner or later skip one), and what each tick saw:
// its second, the previous tick's, and whether the date changed between
// them (midnight, or a clock set to another day). It decides nothing; the
// ring engine does, from the Tick.
#include "seams.h"

#include <QDate>
#include <QTimer>
#include <optional>

class RingClock {
public:
    // The clock aims this far past each wall-clock second.
    static constexpr int kTickDelayMs = 2;

    // Seconds are absolute local seconds: day * 86400 + second of the day.
    struct Tick {
        qint64 nowAbs = 0;
        qint64 prevAbs = 0;  // the previous tick's; nowAbs - 1 on the first
        qint64 dayStart = 0; // of nowAbs
        QDate date;
        QDate prevDate;      // invalid on the first tick
        int count = 0;       // 1 on the first
        qint64 second() const { return nowAbs - dayStart; }
        // The date changed since the previous tick.
        bool newDay() const { return prevDate.isValid() && prevDate != date; }
        // Forward across midnight (not a clock set back to an earlier day).
        bool forward() const { return prevDate < date; }
    };

    // timer: the clock's own, set up here (a member of its owner, under that owner's name).
    RingClock(const Clock &clock, QTimer &timer);

    // Arms the timer: the first tick comes just after a wall-clock second,
    // at least minMs from now.
    void start(int minMs = 500) { arm(minMs); }
    // A tick: re-arms the timer for the next second, then reads the time.
    Tick next();

    qint64 nowAbs() const;
    // The last tick's second of today, as the board's Refresh asks it for
    // the limit of the past: none before the first tick, 0 on a new day the
    // clock has not ticked in yet (its bells are all ahead; its first tick
    // sorts out those already due).
    std::optional<qint64> lastTickToday() const;
    std::optional<qint64> prevAbs() const { return m_prevAbs; }

private:
    void arm(int minMs = 0);

    const Clock &m_clock;
    QTimer &m_timer;
    int m_count = 0;
    std::optional<qint64> m_prevAbs;
    QDate m_prevDate;
};
