#pragma once
// What the calendar dialog's buttons do, without a window: marking and
// unmarking days, the timetables, and the sheet exchange. Bad input gets a
// warning box and changes nothing; store failures go to the general error
// box. Each command returns whether it changed anything.
#include "schoolcalendar.h"

#include <functional>

class CalendarCommands {
public:
    // refresh reloads the main window's grid after a change that may alter
    // today's list.
    CalendarCommands(SchoolCalendar &calendar, Messages &messages, FileDialogs &dialogs,
                     std::function<void()> refresh);

    // Marks every day from first to last (texts yyyy-MM-dd; last may be
    // empty for one day). Days that carry a mark already are replaced only
    // when the operator agrees.
    bool mark(const QString &first, const QString &last, const QString &kind,
              const QString &weekday, const QString &remark);
    bool unmark(const QString &first, const QString &last);

    bool saveCurrentAs(const QString &name);
    bool rename(qint64 id, const QString &name);
    bool remove(qint64 id);
    bool setStartDay(qint64 id, const QString &monthDay);
    // After a confirmation that names both timetables.
    bool switchNow(qint64 id);

    bool importSheet();
    bool exportSheet();

    static constexpr int kMaxRangeDays = 366;

private:
    bool run(const std::function<bool()> &fn);
    QList<QDate> range(const QString &first, const QString &last) const;
    // Asks before marks of the same dates are replaced.
    bool mayReplace(const QList<CalendarDay> &incoming);

    SchoolCalendar &m_calendar;
    Messages &m_messages;
    FileDialogs &m_dialogs;
    std::function<void()> m_refresh;
};
