#include "webremote.h"

#include "enginecore.h"
#include "ringhistory.h"
#include "rpcmessage.h"
#include "rpcserver.h"
#include "settings.h"
#include "storesql.h"
#include "webaccounts.h"
#include "weblog.h"
#include "webserver.h"

WebRemote::WebRemote(RpcServer &rpc, EngineCore &core, QObject *parent)
    : QObject(parent), m_rpc(rpc), m_core(core)
{
    try {
        m_accounts = std::make_unique<WebAccounts>(core.store());
    } catch (const StoreError &e) {
        qCWarning(lcWeb).noquote() << "the remote control cannot start:" << e.text();
        return;
    }
    m_subscription = m_rpc.subscribe([this](const QByteArray &line) {
        // Only the re-read of the list; the rest of what is told is not ours.
        if (rpcParseLine(line).method == u"Day.OnChanged")
            QMetaObject::invokeMethod(this, &WebRemote::apply, Qt::QueuedConnection);
    });
    apply();
}

WebRemote::~WebRemote()
{
    m_rpc.unsubscribe(m_subscription);
    m_server.reset();
}

void WebRemote::apply()
{
    if (!m_accounts)
        return;
    const RemoteSettings wanted = RemoteSettings::load(m_core.settings());
    if (wanted == m_current && (m_server || !wanted.enabled()))
        return;
    m_server.reset();
    m_current = wanted;
    if (!wanted.enabled()) {
        qCInfo(lcWeb) << "remote control is off";
        return;
    }
    WebServer::Services services;
    services.rpc = &m_rpc;
    services.accounts = m_accounts.get();
    services.clock = &m_core.board().clock();
    services.history = [this](const QDate &date) { return m_core.history().day(date); };
    auto server = std::make_unique<WebServer>(services);
    if (!server->start(wanted).isEmpty())
        return; // logged; tried again at the next re-read
    m_server = std::move(server);
}
