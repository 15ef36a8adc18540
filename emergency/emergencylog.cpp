#include "emergencylog.h"

Q_LOGGING_CATEGORY(lcEmergency, "daling.emergency", QtInfoMsg)
