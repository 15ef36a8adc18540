#pragma once
// The school calendar as the board's day plan: a marked day's kind decides
// which entries ring, the date panel names it, and the first reload of a new
// date first switches the timetable when one starts that day.
#include "calendarstore.h"
#include "dayplan.h"
#include "seasonalswitch.h"
#include "settings.h"
#include "timetablestore.h"

#include <functional>

class SchoolCalendar : public DayPlan {
public:
    explicit SchoolCalendar(BellStore &store);

    Day dayOf(const QDate &date) override;
    // The plan of a date from its mark alone (no switch).
    static Day planOf(const QDate &date, const std::optional<CalendarDay> &mark);

    CalendarStore &days() { return m_days; }
    TimetableStore &timetables() { return m_timetables; }
    SeasonalSwitch &seasons() { return m_switch; }

    // What the main window says of the timetables: "已切换到冬季作息" on
    // the day of a switch by date, else "作息方案：冬季作息", or nothing
    // while no timetable is in use.
    QString timetableNote(const QDate &today);
    // For a window whose engine switches elsewhere: the timetable in use,
    // read as the engine's list changes. One that differs from the one seen
    // before, on a new date, was switched to by date: the note says so that day.
    void noteTimetableSeen(const QDate &today);

    // Told after a switch by date (the timetable's name), or when it failed
    // (the store's text); the list that rang before stays.
    std::function<void(const QString &)> onSwitched;
    std::function<void(const QString &)> onSwitchFailed;

private:
    CalendarStore m_days;
    TimetableStore m_timetables;
    Settings m_settings;
    SeasonalSwitch m_switch;
    QDate m_checked; // the date whose switch check has run in this process
    std::pair<QDate, QString> m_switched; // the last switch by date: its day, the timetable
    std::pair<QDate, QString> m_seen;     // the timetable in use when last seen, and the day
};
