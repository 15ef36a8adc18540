#pragma once
// The live announcement's methods and notifications on the engine's
// channel (docs/api.md): Paging.Start, Paging.Stop, Paging.GetStatus,
// Paging.OnChanged at each start and end, Paging.OnLevel a few times a
// second while it lasts. Made and handed its core by EngineApi.
#include <QJsonObject>
#include <QObject>

class EngineCore;
class RpcServer;

class PagingApi : public QObject {
    Q_OBJECT
public:
    explicit PagingApi(RpcServer &server, QObject *parent = nullptr);
    void setCore(EngineCore *core);
    // What Paging.GetStatus answers and Paging.OnChanged tells.
    QJsonObject status() const;

private:
    RpcServer &m_server;
    EngineCore *m_core = nullptr;
    QObject *m_link = nullptr;
};
