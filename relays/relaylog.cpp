#include "relaylog.h"

Q_LOGGING_CATEGORY(lcRelay, "daling.relay", QtInfoMsg)
