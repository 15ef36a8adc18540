#include "duebells.h"

#include <algorithm>

void DueBells::setCatchUpSeconds(int seconds)
{
    m_catchUp = std::clamp(seconds, 0, kMaxCatchUpSeconds);
}

DueBells::Due DueBells::at(const QList<BellEntry> &bells, int from, qint64 dayStart, qint64 prevAbs,
                           qint64 nowAbs, const QList<BellKey> &kept) const
{
    int candidate = -1;
    qint64 candidateTime = -1;
    int lastDue = from - 1;
    for (int i = from; i < bells.size(); ++i) {
        const BellEntry &e = bells[i];
        if (!e.hasValidTime())
            continue; // shown as 时间无效, never rung
        const qint64 abs = dayStart + e.time;
        if (abs > nowAbs)
            break;
        lastDue = i;
        const BellKey key{e.id, e.time};
        if ((abs > prevAbs || kept.contains(key)) && nowAbs - abs <= m_catchUp && e.time > candidateTime
            && !m_rung.wasRung(dayStart, key)) {
            candidate = i;
            candidateTime = e.time;
        }
    }
    return {candidate, candidate >= 0 ? candidate : lastDue + 1};
}

DueBells::Skipped DueBells::skipped(const QList<BellEntry> &bells, qint64 dayStart, qint64 prevAbs,
                                    qint64 nowAbs) const
{
    Skipped out;
    for (int i = 0; i < bells.size(); ++i) {
        const BellEntry &e = bells[i];
        if (!e.hasValidTime())
            continue;
        const qint64 abs = dayStart + e.time;
        if (abs > nowAbs) {
            out.next = i;
            break; // the list is ordered by time
        }
        if (abs > prevAbs && !m_rung.wasRung(dayStart, {e.id, e.time}))
            out.passed << i;
    }
    return out;
}
