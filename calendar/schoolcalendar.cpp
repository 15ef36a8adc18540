#include "schoolcalendar.h"
#include "logging.h"
#include "bellboard.h"
#include "weekdayset.h"

SchoolCalendar::SchoolCalendar(BellStore &store)
    : m_days(store), m_timetables(store), m_settings(store), m_switch(m_timetables, m_settings)
{
}

DayPlan::Day SchoolCalendar::planOf(const QDate &date, const std::optional<CalendarDay> &mark)
{
    Day day{true, WeekdaySet::charOf(date), BellBoard::dateTextOf(date)};
    if (!mark)
        return day;
    day.rings = mark->kind == CalendarDay::Kind::MakeUp;
    if (day.rings)
        day.weekday = mark->weekday;
    day.dateText += u' ' + mark->panelText();
    return day;
}

DayPlan::Day SchoolCalendar::dayOf(const QDate &date)
{
    if (date != m_checked) {
        m_checked = date;
        try {
            if (const std::optional<Timetable> t = m_switch.check(date); t && onSwitched)
                onSwitched(t->name);
        } catch (const AppError &e) {
            qCWarning(lcCalendar) << "timetable not switched by its start day:" << e.text();
            if (onSwitchFailed)
                onSwitchFailed(e.text());
        }
    }
    std::optional<CalendarDay> mark;
    try {
        mark = m_days.day(date);
    } catch (const AppError &e) {
        // Marks that cannot be read: the plain week rings, rather than a
        // silent school day.
        qCWarning(lcCalendar) << "calendar marks not read, the plain week rings:" << e.text();
    }
    return planOf(date, mark);
}
