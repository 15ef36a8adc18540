#pragma once
// The operator's side of a start or an end from a button or the tray (the
// main window's, the ad-hoc window's): asked once, 否 the default; a start
// that is refused says why. The command line asks nothing and does not come
// here.
#include "emergencybroadcast.h"
#include "seams.h"

namespace emergencyask {

// True when it started.
bool start(EmergencyBroadcast &e, Messages &messages, EmergencyBroadcast::Origin origin);
// True when it ended.
bool stop(EmergencyBroadcast &e, Messages &messages, EmergencyBroadcast::Origin origin);
// Starts when none is going on, else ends: one button or item for both.
void toggle(EmergencyBroadcast &e, Messages &messages, EmergencyBroadcast::Origin origin);
// What such a button or item reads now.
QString caption(const EmergencyBroadcast &e);

} // namespace emergencyask
