#pragma once
// The switch of timetables by date: a timetable whose start day (启用日)
// fell after the last day checked and on or before today becomes current.
// The last day checked is kept in the settings ("校历检查日"), so a machine
// that was off on the day switches at its next start, and a timetable chosen
// by hand stays until the next start day comes.
#include "settings.h"
#include "timetablestore.h"

class SeasonalSwitch {
public:
    static inline const QString kCheckedKey = QStringLiteral("校历检查日");

    SeasonalSwitch(TimetableStore &timetables, Settings &settings)
        : m_timetables(timetables), m_settings(settings) {}

    // Switches when a start day is due and records today as checked. The
    // first check ever only records today. Returns the timetable switched
    // to. Throws StoreError when the switch fails: nothing changed, and the
    // day stays unchecked so the next check tries again.
    std::optional<Timetable> check(const QDate &today);

    // The timetable whose start day came last in (lastChecked, today].
    static std::optional<Timetable> due(const QList<Timetable> &all, const QDate &lastChecked,
                                        const QDate &today);

private:
    TimetableStore &m_timetables;
    Settings &m_settings;
};
