#pragma once
// The program's side of the emergency command line (emergencyclient.h is
// the caller's): the request a channel line carries.
#include "emergencybroadcast.h"

#include <QByteArray>
#include <optional>

namespace emergencycommand {

// The request a line "emergency <json>" carries (origin Command); nothing,
// with *error set, when the argument is not one.
std::optional<EmergencyBroadcast::Request> request(const QByteArray &argument, QString *error);

} // namespace emergencycommand
