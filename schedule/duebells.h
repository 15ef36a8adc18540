#pragma once
// Which of a day's bells ring at a tick and which have passed, from the
// day list's record of what rang (BellsRung). No timers and no players: the
// ring engine asks it on each tick with the seconds the clock saw.
#include "dayschedule.h"

#include <QHash>
#include <QList>
#include <QSet>

class DueBells {
public:
    explicit DueBells(const BellsRung &rung) : m_rung(rung) {}

    // An entry whose second came at most this long ago still rings (a tick
    // delayed by a busy machine, a clock stepped after a suspend, an output
    // back after a moment); older ones are passed. The operator sets it
    // (补打时限) within these bounds: a bell a little late beats no bell.
    static constexpr int kDefaultCatchUpSeconds = 60;
    static constexpr int kMaxCatchUpSeconds = 300;

    // Clamped to 0 … kMaxCatchUpSeconds.
    void setCatchUpSeconds(int seconds);
    int catchUpSeconds() const { return m_catchUp; }

    // What a tick finds from the cursor on.
    struct Due {
        int ring = -1; // the entry that rings now; -1 for none
        int stop = 0;  // the entries from the cursor up to here have passed
        bool operator==(const Due &) const = default;
    };
    // The bells of dayStart's list (ordered by time) from the cursor, at a
    // tick at nowAbs after one at prevAbs (absolute local seconds, day *
    // 86400 + second). Of the entries due since prevAbs within the catch-up
    // window and not rung yet, the latest rings (it would cut the others at
    // once anyway; of equal times, the first in the list); the ones before
    // it have passed. With none, every entry due has passed. kept: entries
    // that stay candidates after their tick (a start still retried, a file
    // still loading). Entries without a valid time never ring.
    Due at(const QList<BellEntry> &bells, int from, qint64 dayStart, qint64 prevAbs, qint64 nowAbs,
           const QList<BellKey> &kept = {}) const;
    // Stopped mode: the entries whose second came after prevAbs up to nowAbs
    // and that are not recorded yet (they are skipped), and the first one
    // still to come (-1 when none is left).
    struct Skipped {
        QList<int> passed;
        int next = -1;
    };
    Skipped skipped(const QList<BellEntry> &bells, qint64 dayStart, qint64 prevAbs, qint64 nowAbs) const;

private:
    const BellsRung &m_rung;
    int m_catchUp = kDefaultCatchUpSeconds;
};
