#pragma once
// The remote control as the engine runs it: reads its settings from the
// store, serves the page while they switch it on, and reads them again
// whenever the engine re-reads its list (Day.OnChanged follows
// Bells.Reload), so that a changed port or address takes effect without a
// restart. Off (port 0): nothing listens on any network address.
#include "remotesettings.h"

#include <QObject>
#include <memory>

class EngineCore;
class RpcServer;
class WebAccounts;
class WebServer;

class WebRemote : public QObject {
    Q_OBJECT
public:
    WebRemote(RpcServer &rpc, EngineCore &core, QObject *parent = nullptr);
    ~WebRemote() override;

    // Reads the settings; starts, restarts or stops the server when they
    // changed since.
    void apply();
    WebServer *server() const { return m_server.get(); }

private:
    RpcServer &m_rpc;
    EngineCore &m_core;
    std::unique_ptr<WebAccounts> m_accounts;
    std::unique_ptr<WebServer> m_server;
    RemoteSettings m_current;
    quint64 m_subscription = 0;
};
