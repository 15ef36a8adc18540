#include "inprocessengine.h"

#include "engineapi.h"
#include "engineapirelays.h"
#include "logging.h"
#include "ringengine.h"
#include "rpcserver.h"

InProcessEngine::InProcessEngine(const EngineContext &ctx, QString socketPath)
    : m_socket(std::move(socketPath)), m_ownServer(std::make_unique<RpcServer>())
{
    // Listening before the core is built, as dalingd's channel does.
    if (!m_ownServer->listen(m_socket))
        qCWarning(lcApp) << "the engine's channel does not listen at" << m_socket;
    m_api = std::make_unique<EngineApi>(*m_ownServer, EngineApi::Options{ctx.paths.dataFolder(), false, {}});
    m_core = std::make_unique<EngineCore>(ctx);
    m_api->setCore(m_core.get());
    serveRelays(*m_ownServer);
}

InProcessEngine::InProcessEngine(const EngineContext &ctx, RpcServer &server, QString socketPath)
    : m_socket(std::move(socketPath))
{
    m_api = std::make_unique<EngineApi>(server, EngineApi::Options{ctx.paths.dataFolder(), false, {}});
    m_core = std::make_unique<EngineCore>(ctx);
    m_api->setCore(m_core.get());
    serveRelays(server);
}

void InProcessEngine::serveRelays(RpcServer &server)
{
    *m_reach = m_core.get();
    engineapirelays::registerMethods(server, [reach = m_reach] { return *reach; });
}

InProcessEngine::~InProcessEngine()
{
    *m_reach = nullptr;
    // The channel goes first: nothing asks a core that is going.
    m_api->setCore(nullptr);
    m_api.reset();
    m_ownServer.reset();
    m_core.reset();
}

void InProcessEngine::windowShown()
{
    if (m_started)
        return;
    m_started = true;
    m_core->engine().start();
}
