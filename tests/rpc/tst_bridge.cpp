// Callers of other transports (the remote control) through handleLine()
// and subscribe(): the check runs before the method, answers reach the
// sink now or later but never a caller that has gone, notifications reach
// subscribers until they unsubscribe, and bad lines are answered as on the
// socket.
#include "rpcserver.h"

#include <QJsonDocument>
#include <QTest>

namespace {

QJsonObject parsed(const QByteArray &line)
{
    return QJsonDocument::fromJson(line).object();
}

} // namespace

class BridgeTest : public QObject {
    Q_OBJECT

private slots:
    void theCheckRunsBeforeTheMethod()
    {
        RpcServer server;
        int ran = 0;
        server.registerMethod("Mode.Set", [&ran](const QJsonValue &) { ++ran; return QJsonObject{}; });
        RpcCaller caller{"test", [](const QString &m) -> std::optional<RpcError> {
                             if (m == "Mode.Set")
                                 return RpcError{RpcCode::Forbidden, "无权限"};
                             return std::nullopt;
                         }, {}};
        QList<QByteArray> out;
        server.handleLine(R"({"jsonrpc":"2.0","id":4,"method":"Mode.Set"})", caller,
                          [&out](const QByteArray &l) { out << l; });
        QCOMPARE(ran, 0);
        QCOMPARE(out.size(), 1);
        QCOMPARE(parsed(out[0]).value("id").toInt(), 4);
        QCOMPARE(parsed(out[0]).value("error").toObject().value("code").toInt(), int(RpcCode::Forbidden));
        // Refused notifications are silent too.
        server.handleLine(R"({"jsonrpc":"2.0","method":"Mode.Set"})", caller, [&out](const QByteArray &l) { out << l; });
        QCOMPARE(out.size(), 1);
        // Bad lines are answered as on the socket; blank ones are not.
        server.handleLine("{not json", caller, [&out](const QByteArray &l) { out << l; });
        server.handleLine("   ", caller, [&out](const QByteArray &l) { out << l; });
        QCOMPARE(out.size(), 2);
        QCOMPARE(parsed(out[1]).value("error").toObject().value("code").toInt(), int(RpcCode::ParseError));
    }

    void aLateAnswerReachesOnlyACallerStillThere()
    {
        RpcServer server;
        QList<RpcReply> held;
        server.registerAsyncMethod("Emergency.Start", [&held](const QJsonValue &, RpcReply r) { held << r; });
        bool present = true;
        RpcCaller caller{"test", {}, [&present] { return present; }};
        QList<QByteArray> out;
        const auto sink = [&out](const QByteArray &l) { out << l; };
        server.handleLine(R"({"jsonrpc":"2.0","id":1,"method":"Emergency.Start"})", caller, sink);
        server.handleLine(R"({"jsonrpc":"2.0","id":2,"method":"Emergency.Start"})", caller, sink);
        QCOMPARE(held.size(), 2);
        QVERIFY(out.isEmpty());
        held[0].send(QJsonObject{{"text", ""}});
        QCOMPARE(out.size(), 1);
        QCOMPARE(parsed(out[0]).value("id").toInt(), 1);
        present = false;
        QVERIFY(held[1].clientGone());
        held[1].send(QJsonObject{});
        QCOMPARE(out.size(), 1);
    }

    void subscribersHearEveryNotificationUntilTheyLeave()
    {
        RpcServer server;
        QList<QByteArray> a, b;
        const quint64 first = server.subscribe([&a](const QByteArray &l) { a << l; });
        server.subscribe([&b](const QByteArray &l) { b << l; });
        server.notify("Bell.OnStatus", QJsonObject{{"id", 1}});
        server.unsubscribe(first);
        server.notify("Mode.OnChanged", QJsonObject{{"mode", "stopped"}});
        QCOMPARE(a.size(), 1);
        QCOMPARE(b.size(), 2);
        QCOMPARE(parsed(b[1]).value("method").toString(), QString("Mode.OnChanged"));
        QVERIFY(b[1].endsWith('\n'));
    }
};

QTEST_GUILESS_MAIN(BridgeTest)
#include "tst_bridge.moc"
