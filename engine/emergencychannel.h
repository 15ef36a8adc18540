#pragma once
// The channel's emergency commands (daling --emergency, --emergency-stop),
// answered once the alarm sounds or has failed. emergency() is nothing
// until the program's parts are made (a start-up box may still be open).
#include "emergencybroadcast.h"
#include "instance.h"

#include <functional>

void serveEmergency(Instance &instance, const std::function<EmergencyBroadcast *()> &emergency);
