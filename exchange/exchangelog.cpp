#include "exchangelog.h"

Q_LOGGING_CATEGORY(lcExchange, "daling.exchange", QtInfoMsg)
