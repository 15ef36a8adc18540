#pragma once
// Seasonal timetables (作息方案): tables fangan (name, start day MM-dd, the
// current mark) and fangan_ling (their entries), created when missing. The
// list in daling stays the one that rings; a switch copies it into the
// current timetable and the target's entries into it, in one transaction.
#include "bellstore.h"
#include "calendarday.h"

struct Timetable {
    qint64 id = 0;
    QString name;     // 名称, unique
    QString startDay; // 启用日: MM-dd, or empty for switching by hand
    bool current = false;
    qint64 entries = 0; // rows in fangan_ling (for the current one: in daling)
};

class TimetableStore {
public:
    static inline const QString kCurrentName = QStringLiteral("当前作息");

    explicit TimetableStore(BellStore &store) : m_store(store) {}

    // By name. An older file without the tables has none.
    QList<Timetable> list() const;
    std::optional<Timetable> byId(qint64 id) const;
    std::optional<Timetable> current() const;

    // A new timetable holding a copy of daling; returns its id. Throws
    // CalendarError for an empty or used name. becomeCurrent: the new one
    // is the current timetable from now on (later edits of the list go
    // with it); the one current before keeps the list as it is now.
    qint64 saveCurrentAs(const QString &name, bool becomeCurrent = false);
    void rename(qint64 id, const QString &name);
    // Throws CalendarError for the current timetable.
    void remove(qint64 id);
    // MM-dd, also M-d or M月d日; empty clears it. Throws CalendarError for a
    // day that no year has.
    void setStartDay(qint64 id, const QString &monthDay);

    // In one transaction: daling into the current timetable (one named
    // 当前作息 is created when none is current), the target's entries into
    // daling, the mark onto the target. Any failure leaves all as it was.
    // Switching to the current one does nothing.
    void switchTo(qint64 id);

    // "05-01" from what the operator typed, or a null text when no year
    // has that day.
    static QString normalStartDay(const QString &text);

    // Throws CalendarError for an empty name or one another timetable
    // (not `except`) has.
    void checkName(const QString &name, qint64 except) const;

private:
    void ensureTables() const;
    BellStore &m_store;
};
