#pragma once
#include <QLoggingCategory>

// "daling.rpc": the engine's JSON-RPC channel (connections, refusals, bounds).
Q_DECLARE_LOGGING_CATEGORY(lcRpc)
