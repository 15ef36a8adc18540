#pragma once
// The log category of the amplifier relays and the fire alarm's contacts.
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcRelay) // "daling.relay": each switch that fails, each contact that changes
