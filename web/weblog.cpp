#include "weblog.h"

Q_LOGGING_CATEGORY(lcWeb, "daling.web", QtInfoMsg)
