#include "clientlog.h"

Q_LOGGING_CATEGORY(lcClient, "daling.client", QtInfoMsg)
