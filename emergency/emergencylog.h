#pragma once
#include <QLoggingCategory>

// "daling.emergency": each emergency broadcast, its zones and its end.
Q_DECLARE_LOGGING_CATEGORY(lcEmergency)
