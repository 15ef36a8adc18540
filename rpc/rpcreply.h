#pragma once
// The answer to one request, given later. An async method keeps the reply
// (copies share it) and calls send() exactly once, on the server's thread. A
// reply dropped unanswered answers an internal error, so no client waits for
// ever; a second send() is logged and ignored. Answers to a client that has
// gone, and to a client's notification, go nowhere.
#include "rpcmessage.h"

#include <memory>

class RpcConnection;

class RpcReply {
public:
    void send(const RpcResult &result) const;
    bool answered() const;
    // The client that asked has disconnected: the work may stop early.
    bool clientGone() const;

    struct State;

private:
    friend class RpcServer;
    explicit RpcReply(std::shared_ptr<State> state) : m_state(std::move(state)) {}
    std::shared_ptr<State> m_state;
};
