#include "seasonalswitch.h"
#include "logging.h"

std::optional<Timetable> SeasonalSwitch::due(const QList<Timetable> &all, const QDate &lastChecked,
                                             const QDate &today)
{
    std::optional<Timetable> best;
    QDate bestDay;
    if (!(lastChecked < today))
        return best;
    for (const Timetable &t : all) {
        if (t.startDay.size() != 5)
            continue; // switched by hand only
        const int month = t.startDay.left(2).toInt(), day = t.startDay.mid(3, 2).toInt();
        // The latest year whose start day lies in the window (02-29 only in
        // leap years).
        for (int y = today.year(); y >= lastChecked.year(); --y) {
            const QDate d(y, month, day);
            if (!d.isValid() || d > today)
                continue;
            if (d > lastChecked && (!bestDay.isValid() || d > bestDay)) {
                best = t;
                bestDay = d;
            }
            break;
        }
    }
    return best;
}

std::optional<Timetable> SeasonalSwitch::check(const QDate &today)
{
    const QDate last = QDate::fromString(m_settings.value(kCheckedKey), QStringLiteral("yyyy-MM-dd"));
    std::optional<Timetable> switched;
    if (last.isValid()) {
        std::optional<Timetable> t = due(m_timetables.list(), last, today);
        if (t && !t->current) {
            m_timetables.switchTo(t->id);
            switched = t;
        }
    }
    // Never set back: a clock run backwards must not make a start day due twice.
    if (!last.isValid() || last < today) {
        try {
            m_settings.setValue(kCheckedKey, today.toString(QStringLiteral("yyyy-MM-dd")));
        } catch (const StoreError &e) {
            // A store we may only read: the check runs again at the next start.
            qCInfo(lcCalendar) << "start-day check not kept:" << e.text();
        }
    }
    return switched;
}
