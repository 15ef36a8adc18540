#include "dayschedule.h"

int DaySchedule::indexOf(const BellKey &key) const
{
    if (!m_indexBuilt) {
        m_index.clear();
        m_index.reserve(m_entries.size());
        // Of two entries with one key (never in a sane store) the first wins.
        for (int i = size() - 1; i >= 0; --i)
            m_index.insert(this->key(i), i);
        m_indexBuilt = true;
    }
    return m_index.value(key, -1);
}

void DaySchedule::setNext(int index)
{
    index = std::clamp(index, 0, size());
    if (index == m_next)
        return;
    m_next = index;
    emit nextChanged(index);
}

void DaySchedule::setStatus(int index, BellStatus status)
{
    if (!contains(index) || m_statuses[index] == status)
        return;
    m_statuses[index] = status;
    emit bellChanged(index);
}

void DaySchedule::reset(QList<BellEntry> entries, QList<BellStatus> statuses, int next)
{
    m_entries = std::move(entries);
    m_statuses = std::move(statuses);
    m_statuses.resize(m_entries.size(), BellStatus::None);
    m_next = std::clamp(next, 0, size());
    m_indexBuilt = false;
    m_index.clear();
    emit listChanged();
}

void BellsRung::noteRung(qint64 dayStart, const BellKey &key)
{
    Day &d = m_days[dayStart];
    d.keys.insert(key);
    d.seconds.insert(key.seconds);
}

void BellsRung::noteFailed(qint64 dayStart, const BellKey &key)
{
    m_days[dayStart].keys.insert(key);
}

bool BellsRung::wasRung(qint64 dayStart, const BellKey &key) const
{
    const auto it = m_days.constFind(dayStart);
    return it != m_days.constEnd() && it->keys.contains(key);
}

bool BellsRung::secondRung(qint64 dayStart, qint64 seconds) const
{
    const auto it = m_days.constFind(dayStart);
    return it != m_days.constEnd() && it->seconds.contains(seconds);
}

void BellsRung::newDay(qint64 dayStart)
{
    for (auto it = m_days.begin(); it != m_days.end();)
        it = it.key() < dayStart - 86400 ? m_days.erase(it) : std::next(it);
}

int BellsRung::entriesHeld() const
{
    int n = 0;
    for (const auto &day : m_days)
        n += int(day.keys.size());
    return n;
}
