#pragma once
// The log categories of the bell schedule's layers. Everything goes to
// standard error, where the desktop session's journal keeps it; debug lines
// are off unless QT_LOGGING_RULES turns them on ("daling.ring.debug=true").
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcRing)     // "daling.ring": each bell's outcome, the clock
Q_DECLARE_LOGGING_CATEGORY(lcStore)    // "daling.store": the bell store and its tables
Q_DECLARE_LOGGING_CATEGORY(lcApp)      // "daling.app": the program on the desktop (one copy, signals)
Q_DECLARE_LOGGING_CATEGORY(lcCalendar) // "daling.calendar": school days and timetables
Q_DECLARE_LOGGING_CATEGORY(lcService) // "daling.service": the engine as a service (readiness, watchdog, untold boxes)
