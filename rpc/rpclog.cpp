#include "rpclog.h"

Q_LOGGING_CATEGORY(lcRpc, "daling.rpc", QtInfoMsg)
