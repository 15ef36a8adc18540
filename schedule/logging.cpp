#include "logging.h"

Q_LOGGING_CATEGORY(lcRing, "daling.ring", QtInfoMsg)
Q_LOGGING_CATEGORY(lcStore, "daling.store", QtInfoMsg)
Q_LOGGING_CATEGORY(lcCalendar, "daling.calendar", QtInfoMsg)
Q_LOGGING_CATEGORY(lcApp, "daling.app", QtInfoMsg)
Q_LOGGING_CATEGORY(lcService, "daling.service", QtInfoMsg)
