#pragma once
// The day's bells as typed entries: today's list in running mode, every
// entry in stopped mode. Each bell carries its status (an enum, never a text)
// and a stable key (its id and its second), and the list keeps the ring
// cursor: the first bell not yet past. The ring engine, test playback, the
// list commands and the export read bells from here; the window's grid is
// only a view of it.
#include "bellkey.h"
#include "bellstatus.h"
#include "bellstore.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>

// A text as the grid and the log show it: at most this many characters,
// then "…". The whole text stays in the store and the sheets.
constexpr qsizetype kShownTextLimit = 1000;
inline QString shownText(const QString &text)
{
    return text.size() <= kShownTextLimit ? text : text.left(kShownTextLimit) + u'…';
}

// What rang (or failed) per day, kept by the day's list for the ring
// engine's decisions (DueBells) and for a reload's marks: a clock set back
// never rings an entry twice, and a reload shows 完成 for what sounded. A
// bell that sounded also counts for its second: a twin at that second
// sounded with it. A failure is no twin's sound.
class BellsRung {
public:
    void noteRung(qint64 dayStart, const BellKey &key);
    void noteFailed(qint64 dayStart, const BellKey &key);
    bool wasRung(qint64 dayStart, const BellKey &key) const;
    bool secondRung(qint64 dayStart, qint64 seconds) const;
    // A new day: only its own and yesterday's record are kept, so a program
    // that runs for months does not grow.
    void newDay(qint64 dayStart);
    int entriesHeld() const;

private:
    struct Day {
        QSet<BellKey> keys;
        QSet<qint64> seconds;
    };
    QHash<qint64, Day> m_days;
};

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

    // The faults of today's bells, kept across reloads until the day
    // changes: a bell that did not sound as it should (失败, 错过, 中断).
    // What sounded is in rung(); a past bell in neither was never tried
    // ("已过").
    BellStatus faultOf(const BellKey &key) const { return m_faults.value(key, BellStatus::None); }
    void setFault(const BellKey &key, BellStatus s) { m_faults.insert(key, s); }
    void clearFault(const BellKey &key) { m_faults.remove(key); }
    int faultCount() const { return int(m_faults.size()); }
    void forgetDay() { m_faults.clear(); }
    BellsRung &rung() { return m_rung; }
    const BellsRung &rung() const { return m_rung; }

signals:
    void bellChanged(int index);
    void listChanged();
    void nextChanged(int index);

private:
    QList<BellEntry> m_entries;
    QList<BellStatus> m_statuses;
    int m_next = 0;
    QHash<BellKey, BellStatus> m_faults;
    BellsRung m_rung;
    // Built on the first lookup after a reload: most reloads never need it.
    mutable QHash<BellKey, int> m_index;
    mutable bool m_indexBuilt = false;
};
