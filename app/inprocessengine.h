#pragma once
// The engine built in the window's own process and served behind a real
// socket, so that the window is still only its client: tests run the
// window this way with the fake clock, players and boxes driving the
// engine (EngineCore + EngineApi + RpcServer, as dalingd serves them).
#include "enginecore.h"
#include "enginehost.h"

#include <memory>

class EngineApi;
class RpcServer;

class InProcessEngine : public EngineHost {
public:
    InProcessEngine(const EngineContext &ctx, QString socketPath);
    // On a channel that already listens (an Instance's, which holds the
    // data folder's lock as dalingd does).
    InProcessEngine(const EngineContext &ctx, RpcServer &server, QString socketPath);
    ~InProcessEngine() override;

    QString socketPath() const override { return m_socket; }
    bool endsWithWindow() const override { return true; }
    EngineCore *core() override { return m_core.get(); }
    // The clock starts with the window, as the window's own engine did.
    void windowShown() override;
    EngineApi &api() { return *m_api; }

private:
    QString m_socket;
    std::unique_ptr<EngineCore> m_core;
    std::unique_ptr<RpcServer> m_ownServer;
    std::unique_ptr<EngineApi> m_api;
    bool m_started = false;
    // What the channel's relay method reaches: emptied when this goes (the
    // channel may outlive it).
    std::shared_ptr<EngineCore *> m_reach = std::make_shared<EngineCore *>(nullptr);
    void serveRelays(RpcServer &server);
};
