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
            && !wasRung(dayStart, key)) {
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
        if (abs > prevAbs && !wasRung(dayStart, {e.id, e.time}))
            out.passed << i;
    }
    return out;
}

void DueBells::noteRung(qint64 dayStart, const BellKey &key)
{
    Day &d = m_rung[dayStart];
    d.keys.insert(key);
    d.seconds.insert(key.seconds);
}

void DueBells::noteFailed(qint64 dayStart, const BellKey &key)
{
    m_rung[dayStart].keys.insert(key);
}

bool DueBells::wasRung(qint64 dayStart, const BellKey &key) const
{
    const auto it = m_rung.constFind(dayStart);
    return it != m_rung.constEnd() && it->keys.contains(key);
}

bool DueBells::secondRung(qint64 dayStart, qint64 seconds) const
{
    const auto it = m_rung.constFind(dayStart);
    return it != m_rung.constEnd() && it->seconds.contains(seconds);
}

void DueBells::newDay(qint64 dayStart)
{
    for (auto it = m_rung.begin(); it != m_rung.end();)
        it = it.key() < dayStart - 86400 ? m_rung.erase(it) : std::next(it);
}

int DueBells::entriesHeld() const
{
    int n = 0;
    for (const auto &day : m_rung)
        n += int(day.keys.size());
    return n;
}
