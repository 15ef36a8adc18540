#pragma once
// Relays.Broadcast on the engine's channel: the window's ad-hoc broadcast
// plays in the window's process, the amplifiers' relays are the engine's
// (RelayLink), so the window says when its broadcast plays and in which
// zones (the store's ids). Registered beside EngineApi's methods.
#include <QString>
#include <functional>

class EngineCore;
class RpcServer;

namespace engineapirelays {
inline const QString kMethod = QStringLiteral("Relays.Broadcast");
// core: the engine's core now, nullptr while it starts or after it went.
void registerMethods(RpcServer &server, std::function<EngineCore *()> core);
} // namespace engineapirelays
