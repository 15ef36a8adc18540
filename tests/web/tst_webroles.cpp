// The least role of each engine method over the network: each method at
// each role allowed or refused, the listed names the engine's own (a typo
// would refuse a method to everyone), and what is not listed refused.
#include "engineapi.h"
#include "rpcclient.h"
#include "rpcserver.h"
#include "webroles.h"

#include <QTemporaryDir>
#include <QTest>

class WebRolesTest : public QObject {
    Q_OBJECT

private slots:
    void eachMethodAtEachRole_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<bool>("viewer");
        QTest::addColumn<bool>("duty");
        QTest::addColumn<bool>("admin");
        const QList<std::tuple<const char *, bool, bool, bool>> rows{
            {"Server.GetRPCVersion", true, true, true},
            {"Engine.GetStatus", true, true, true},
            {"Day.GetBells", true, true, true},
            {"Mode.Set", false, true, true},
            {"Test.Play", false, true, true},
            {"Test.Stop", false, true, true},
            {"Emergency.Start", false, true, true},
            {"Emergency.Stop", false, true, true},
            {"Bells.Reload", false, true, true},
            // Shows a window on the broadcasting PC: never over the network.
            {"Window.Raise", false, false, false},
            {"Engine.Quit", false, false, false},
            {"engine.getstatus", false, false, false},
            {"", false, false, false},
        };
        for (const auto &[m, v, d, a] : rows)
            QTest::newRow(*m ? m : "(empty)") << QString(m) << v << d << a;
    }
    void eachMethodAtEachRole()
    {
        QFETCH(QString, method);
        QFETCH(bool, viewer);
        QFETCH(bool, duty);
        QFETCH(bool, admin);
        QCOMPARE(webroles::allows(WebRole::Viewer, method), viewer);
        QCOMPARE(webroles::allows(WebRole::Duty, method), duty);
        QCOMPARE(webroles::allows(WebRole::Admin, method), admin);
    }

    void roleTexts()
    {
        for (const WebRole r : {WebRole::Viewer, WebRole::Duty, WebRole::Admin})
            QCOMPARE(webroles::fromText(" " + webroles::text(r) + " "), r);
        QCOMPARE(webroles::text(WebRole::Duty), QString("值班"));
        QVERIFY(!webroles::fromText("管理员"));
        QVERIFY(!webroles::fromText(""));
    }

    // Through a real channel with the engine's methods registered: each
    // listed name is one the engine serves.
    void listedMethodsAreTheEngines()
    {
        QTemporaryDir runtime, data;
        RpcServer server;
        QVERIFY(server.listen(runtime.filePath("daling.sock")));
        EngineApi api(server, EngineApi::Options{data.path(), true, {}});
        RpcClient client;
        client.connectToServer(runtime.filePath("daling.sock"));
        QVERIFY(client.waitForConnected(2000));
        auto code = [&client](const QString &method) {
            std::optional<RpcResult> got;
            client.call(method, QJsonValue(), [&got](const RpcResult &r) { got = r; });
            if (!QTest::qWaitFor([&] { return got.has_value(); }, 5000))
                return RpcCode::NoAnswer;
            return got->isError() ? got->error().code : 0;
        };
        QCOMPARE(code("No.SuchMethod"), RpcCode::MethodNotFound);
        QCOMPARE(code("Window.Raise") == RpcCode::MethodNotFound, false);
        for (const QString &m : webroles::listedMethods()) {
            const int c = code(m);
            QVERIFY2(c != RpcCode::MethodNotFound && c != RpcCode::NoAnswer, qPrintable(m));
        }
    }
};

QTEST_GUILESS_MAIN(WebRolesTest)
#include "tst_webroles.moc"
