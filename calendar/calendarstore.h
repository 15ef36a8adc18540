#pragma once
// Table rili of the bell store, created when missing: the marked days of
// the school calendar, keyed by date (yyyy-MM-dd).
#include "bellstore.h"
#include "calendarday.h"

#include <optional>

class CalendarStore {
public:
    explicit CalendarStore(BellStore &store) : m_store(store) {}

    // The mark of a date, if any. Throws StoreError when the store fails; a
    // file without the table has no marks.
    std::optional<CalendarDay> day(const QDate &date) const;
    // Every mark from first to last, both included, by date.
    QList<CalendarDay> days(const QDate &first, const QDate &last) const;
    QList<CalendarDay> allDays() const;
    // Writes the marks (replacing those of the same dates) in one
    // transaction: all or none.
    void put(const QList<CalendarDay> &days);
    // Removes the marks of the dates (those without a mark are ignored), in
    // one transaction.
    void remove(const QList<QDate> &dates);

private:
    void ensureTable() const;
    QList<CalendarDay> select(const QString &where, const QString &from, const QString &to) const;
    BellStore &m_store;
};
