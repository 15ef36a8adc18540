#pragma once
// The day's bells as typed entries: today's list in running mode, every
// entry in stopped mode. Each bell carries its status (an enum, never a text)
// and a stable key (its id and its second), and the list keeps the ring
// cursor: the first bell not yet past. The ring engine, test playback, the
// list commands and the export read bells from here; the window's grid is
// only a view of it.
#include "bellstatus.h"
#include "bellstore.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>

// Which entry of which second: stays the same across reloads of the list,
// so that a bell is found again wherever a reload put it.
struct BellKey {
    qint64 id = 0;
    qint64 seconds = 0;
    bool operator==(const BellKey &) const = default;
};
inline size_t qHash(const BellKey &k, size_t seed = 0) { return qHashMulti(seed, k.id, k.seconds); }

// A text as the grid and the log show it: at most this many characters,
// then "…". The whole text stays in the store and the sheets.
constexpr qsizetype kShownTextLimit = 1000;
inline QString shownText(const QString &text)
{
    return text.size() <= kShownTextLimit ? text : text.left(kShownTextLimit) + u'…';
}

class DaySchedule : public QObject {
    Q_OBJECT
public:
    explicit DaySchedule(QObject *parent = nullptr) : QObject(parent) {}

    int size() const { return int(m_entries.size()); }
    bool isEmpty() const { return m_entries.isEmpty(); }
    bool contains(int index) const { return index >= 0 && index < size(); }
    // Callers check contains() first.
    const BellEntry &entry(int index) const { return m_entries[index]; }
    BellStatus status(int index) const { return m_statuses[index]; }
    BellKey key(int index) const { return {m_entries[index].id, m_entries[index].time}; }
    // The bell with that key, or -1.
    int indexOf(const BellKey &key) const;
    const QList<BellEntry> &entries() const { return m_entries; }

    // The ring cursor: the first bell still to come, size() when all are past.
    int next() const { return m_next; }
    void setNext(int index);

    // One bell's status changes: announced for that bell alone.
    void setStatus(int index, BellStatus status);
    // A new list (a reload): statuses one per entry (missing ones are None).
    void reset(QList<BellEntry> entries, QList<BellStatus> statuses, int next);

    // What today's bells did, kept across reloads until the day changes: a
    // bell that did not sound as it should (失败, 错过, 中断) shows that, one
    // that sounded "完成", and one past that was never tried "已过".
    BellStatus faultOf(const BellKey &key) const { return m_faults.value(key, BellStatus::None); }
    void setFault(const BellKey &key, BellStatus s) { m_faults.insert(key, s); }
    void clearFault(const BellKey &key) { m_faults.remove(key); }
    int faultCount() const { return int(m_faults.size()); }
    bool sounded(const BellKey &key) const { return m_sounded.contains(key); }
    void markSounded(const BellKey &key) { m_sounded.insert(key); }
    void forgetDay()
    {
        m_faults.clear();
        m_sounded.clear();
    }

signals:
    void bellChanged(int index);
    void listChanged();
    void nextChanged(int index);

private:
    QList<BellEntry> m_entries;
    QList<BellStatus> m_statuses;
    int m_next = 0;
    QHash<BellKey, BellStatus> m_faults;
    QSet<BellKey> m_sounded;
    // Built on the first lookup after a reload: most reloads never need it.
    mutable QHash<BellKey, int> m_index;
    mutable bool m_indexBuilt = false;
};
