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
    // A holiday says which one (" 10月1日 周四 放假 国庆节").
    if (!day.rings && !mark->remark.isEmpty())
        day.dateText += u' ' + mark->remark;
    return day;
}

DayPlan::Day SchoolCalendar::dayOf(const QDate &date)
{
    if (date != m_checked) {
        m_checked = date;
        try {
            if (const std::optional<Timetable> t = m_switch.check(date)) {
                m_switched = {date, t->name};
                if (onSwitched)
                    onSwitched(t->name);
            }
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

void SchoolCalendar::noteTimetableSeen(const QDate &today)
{
    QString name;
    try {
        if (const std::optional<Timetable> t = m_timetables.current())
            name = t->name;
    } catch (const AppError &e) {
        qCWarning(lcCalendar) << "current timetable not read:" << e.text();
        return;
    }
    if (m_seen.first.isValid() && m_seen.first != today && !name.isEmpty() && name != m_seen.second)
        m_switched = {today, name};
    m_seen = {today, name};
}

QString SchoolCalendar::timetableNote(const QDate &today)
{
    // Said on the day of a switch by date (at start or at midnight), so
    // that the operator knows why the list changed.
    if (m_switched.first == today && !m_switched.second.isEmpty())
        return QStringLiteral("已切换到%1").arg(m_switched.second);
    try {
        if (const std::optional<Timetable> t = m_timetables.current())
            return QStringLiteral("作息方案：%1").arg(t->name);
    } catch (const AppError &e) {
        qCWarning(lcCalendar) << "current timetable not read:" << e.text();
    }
    return {};
}
