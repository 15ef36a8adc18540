#pragma once
// A stand-in for the engine's side of the API: a real RpcServer on a private
// socket that answers the contract's methods from a script and records what
// it was asked. For the link's own behaviour (connecting, refusing, losing,
// typed calls); the real engine's side is tested with EngineCore.
#include "rpcserver.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <memory>

struct FakeEngine {
    struct Call {
        QString method;
        QJsonValue params;
    };
    QString socketPath;
    QString dataFolder;
    std::unique_ptr<RpcServer> server;
    QList<Call> calls;
    // What a method answers; missing: {}.
    QHash<QString, RpcResult> answers;
    // Held replies of methods told to wait (answered by hand, or dropped).
    QHash<QString, QList<RpcReply>> held;
    QSet<QString> hold;

    FakeEngine(QString socket, QString folder) : socketPath(std::move(socket)), dataFolder(std::move(folder)) {}

    static QStringList methods()
    {
        return {"Engine.GetStatus", "Day.GetBells", "Mode.Set", "Bells.Reload", "Test.Play", "Test.Stop",
                "Emergency.Start", "Emergency.Stop", "Window.Raise", "X.Slow"};
    }

    QJsonObject status() const
    {
        return {{"version", "3.12"}, {"dataFolder", dataFolder}, {"pid", 4242}, {"service", true},
                {"mode", "running"}, {"now", "08:00:05"}, {"date", "2026-12-07"},
                {"dateText", " 12月7日 周一"}, {"testing", false}, {"emergency", false},
                {"bands", QJsonArray{}}, {"playing", QJsonValue()}};
    }

    bool start()
    {
        server = std::make_unique<RpcServer>();
        for (const QString &m : methods()) {
            server->registerAsyncMethod(m, [this, m](const QJsonValue &params, RpcReply reply) {
                calls.append({m, params});
                if (hold.contains(m)) {
                    held[m].append(reply);
                    return;
                }
                if (answers.contains(m))
                    reply.send(answers.value(m));
                else if (m == QLatin1String("Engine.GetStatus"))
                    reply.send(status());
                else
                    reply.send(QJsonObject{});
            });
        }
        return server->listen(socketPath);
    }
    void stop() { server.reset(); }
    int count(const QString &method) const
    {
        int n = 0;
        for (const Call &c : calls)
            n += c.method == method;
        return n;
    }
    QJsonValue lastParams(const QString &method) const
    {
        for (qsizetype i = calls.size() - 1; i >= 0; --i)
            if (calls[i].method == method)
                return calls[i].params;
        return QJsonValue::Undefined;
    }
};
