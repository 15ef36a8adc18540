// The engine's methods and notifications on an engine of fakes (its clock,
// players and boxes), through a real channel: each refusal answers the
// window's own text, the statuses a client is told follow the list as it
// shows them, and each change is told once.
#include "emergencybroadcast.h"
#include "engineapi.h"
#include "enginecore.h"
#include "fakes.h"
#include "ringengine.h"
#include "ringhistory.h"
#include "rpcclient.h"
#include "rpcserver.h"
#include "settings.h"
#include "testplayback.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

class ApiMethodsTest : public QObject {
    Q_OBJECT

    struct Fixture {
        TempHome home;
        QTemporaryDir runtime;
        FakeClock clock{QDateTime(QDate(2026, 12, 7), QTime(8, 0, 0))};
        FakeMessages messages;
        std::unique_ptr<EngineCore> core;
        RpcServer server;
        std::unique_ptr<EngineApi> api;
        RpcClient client;
        QList<std::pair<QString, QJsonObject>> told;

        Fixture()
        {
            home.touchMusic("a.wav");
            home.touchMusic("b.wav");
            {
                BellStore store;
                QVERIFY(store.open(home.db()).isEmpty());
                // 周一 2026-12-07.
                store.insert({0, 8 * 3600 + 30, "早读", "a.wav", "日一二三四五六", "", "", {}});
                store.insert({0, 8 * 3600 + 60, "第一节", "b.wav", "日一二三四五六", "", "备注", {}});
            }
            EngineContext ctx;
            ctx.paths = AppPaths(home.path());
            ctx.clock = &clock;
            ctx.messages = &messages;
            ctx.makePlayer = [this](const QString &) { return std::make_unique<FakePlayer>(&clock); };
            core = std::make_unique<EngineCore>(ctx);
            core->board().Refresh(); // the first tick would list them
            QVERIFY(server.listen(runtime.filePath("daling.sock")));
            api = std::make_unique<EngineApi>(server, EngineApi::Options{home.path() + "data/", true, {}});
            api->setCore(core.get());
            QObject::connect(&client, &RpcClient::notification, &client,
                             [this](const QString &m, const QJsonValue &p) { told.append({m, p.toObject()}); });
            client.connectToServer(runtime.filePath("daling.sock"));
            QVERIFY(client.waitForConnected(2000));
        }
        ~Fixture() { api->setCore(nullptr); }

        RpcResult call(const QString &method, const QJsonObject &params = {})
        {
            std::optional<RpcResult> got;
            client.call(method, params.isEmpty() ? QJsonValue() : QJsonValue(params),
                        [&got](const RpcResult &r) { got = r; });
            if (!QTest::qWaitFor([&] { return got.has_value(); }, 5000))
                return RpcError::noAnswer();
            return *got;
        }
        qint64 idOf(int index) const { return core->board().day().entry(index).id; }
        // What was told since the last look, by method.
        QList<QJsonObject> take(const QString &method)
        {
            QTest::qWait(50); // the notifications on their way
            QList<QJsonObject> out;
            for (const auto &[m, p] : std::as_const(told))
                if (m == method)
                    out.append(p);
            told.removeIf([&method](const auto &n) { return n.first == method; });
            return out;
        }
    };

    static QString errorText(const RpcResult &r)
    {
        return r.isError() ? QString::number(r.error().code) + " " + r.error().message : QStringLiteral("ok");
    }

private slots:
    // Refusals carry the window's own words, with code 1.
    void refusals_data()
    {
        QTest::addColumn<QString>("setup"); // running, testing, emergency or nothing
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("param"); // a bell's index, "running", "stopped" or "zone"
        QTest::addColumn<QString>("text");
        QTest::newRow("mode while testing") << "testing" << "Mode.Set" << "running" << EngineApi::kModeWhileTesting;
        QTest::newRow("test while running") << "running" << "Test.Play" << "0" << EngineApi::kTestWhileRunning;
        QTest::newRow("test in an emergency") << "emergency" << "Test.Play" << "0" << EmergencyBroadcast::kTestRefused;
        QTest::newRow("test of a bell not listed") << "" << "Test.Play" << "99" << EngineApi::kNoSuchBell;
        QTest::newRow("emergency in a zone nobody knows") << "" << "Emergency.Start" << "zone" << "";
    }
    void refusals()
    {
        QFETCH(QString, setup);
        QFETCH(QString, method);
        QFETCH(QString, param);
        QFETCH(QString, text);
        Fixture f;
        if (setup == "running")
            QVERIFY(!f.call("Mode.Set", {{"running", true}}).isError());
        if (setup == "testing")
            QCOMPARE(errorText(f.call("Test.Play", {{"id", f.idOf(1)}})), "ok");
        if (setup == "emergency")
            QCOMPARE(errorText(f.call("Emergency.Start")), "ok");
        QJsonObject params;
        if (method == "Mode.Set")
            params = {{"running", param == "running"}};
        else if (method == "Test.Play")
            params = {{"id", param == "99" ? 99999 : f.idOf(param.toInt())}};
        else
            params = {{"zones", QJsonArray{"没有这个分区"}}};
        const RpcResult r = f.call(method, params);
        QVERIFY2(r.isError(), qPrintable(method));
        QCOMPARE(r.error().code, EngineApi::kRefused);
        if (!text.isEmpty())
            QCOMPARE(r.error().message, text);
        else
            QVERIFY(r.error().message.contains("没有这个分区"));
    }

    void testPlaybackStartsAtTheBellAskedForAndStops()
    {
        Fixture f;
        QCOMPARE(errorText(f.call("Test.Play", {{"id", f.idOf(1)}})), "ok");
        QCOMPARE(f.core->board().selectedRow(), 2);
        QCOMPARE(f.take("Test.OnChanged"), (QList<QJsonObject>{QJsonObject{{"testing", true}}}));
        QCOMPARE(f.call("Engine.GetStatus").value()["playing"]["music"].toString(), "b.wav");
        QCOMPARE(errorText(f.call("Test.Stop")), "ok");
        QVERIFY(!f.core->board().testing());
        QCOMPARE(f.take("Test.OnChanged"), (QList<QJsonObject>{QJsonObject{{"testing", false}}}));
    }

    // A test asked for by someone named (the remote control) is on record
    // under that name, at the second it played and with no entry of its
    // own, so that the bell's own outcome stays its own; the window's tests
    // (no one named) write nothing.
    void aTestAskedByNameIsRecorded()
    {
        Fixture f;
        QCOMPARE(errorText(f.call("Test.Play", {{"id", f.idOf(0)}})), "ok");
        QCOMPARE(errorText(f.call("Test.Stop")), "ok");
        QVERIFY(f.core->history().day(f.clock.now().date()).isEmpty());

        QCOMPARE(errorText(f.call("Test.Play", {{"id", f.idOf(1)}, {"by", "远程控制 王老师（10.0.0.5）"}})), "ok");
        const QList<RingRecord> records = f.core->history().day(f.clock.now().date());
        QCOMPARE(records.size(), 1);
        const RingRecord &r = records.first();
        QCOMPARE(r.name, QString("第一节"));
        QCOMPARE(r.music, QString("b.wav"));
        QCOMPARE(r.reason, EngineApi::testRecordText("远程控制 王老师（10.0.0.5）"));
        QCOMPARE(r.reason, QString("由远程控制 王老师（10.0.0.5）测试播放"));
        QCOMPARE(r.time, qint64(f.clock.now().time().msecsSinceStartOfDay() / 1000));
        QVERIFY(!r.entryId.has_value());
        QVERIFY(!r.sounding);
    }

    // The mode is told once, and the list read again with it.
    void modeSetTellsTheModeAndTheDay()
    {
        Fixture f;
        QCOMPARE(f.call("Mode.Set", {{"running", true}}).value()["mode"].toString(), "running");
        QCOMPARE(f.take("Mode.OnChanged"), (QList<QJsonObject>{QJsonObject{{"mode", "running"}}}));
        const QList<QJsonObject> days = f.take("Day.OnChanged");
        QVERIFY(!days.isEmpty());
        QCOMPARE(days.last(), (QJsonObject{{"date", "2026-12-07"}, {"mode", "running"}}));
        QCOMPARE(f.call("Mode.Set", {{"running", true}}).value()["mode"].toString(), "running");
        QVERIFY(f.take("Mode.OnChanged").isEmpty());
        QCOMPARE(f.call("Mode.Set", {{"running", 1}}).error().code, int(RpcCode::InvalidParams));
        QCOMPARE(f.call("Mode.Set", {{"running", false}}).value()["mode"].toString(), "stopped");
        QCOMPARE(f.take("Mode.OnChanged"), (QList<QJsonObject>{QJsonObject{{"mode", "stopped"}}}));
    }

    // The list as a client reads it and is told of it: the bell sounding
    // 播放 with its delay, the next 等待, each change told once.
    void bellsAreToldAsTheListShowsThem()
    {
        Fixture f;
        // No tick yet: running mode's list reads the clock's label for now.
        f.core->board().setLabelNowTime(QString::number(8 * 3600));
        QVERIFY(!f.call("Mode.Set", {{"running", true}}).isError());
        QJsonObject day = f.call("Day.GetBells").value().toObject();
        QCOMPARE(day["mode"].toString(), "running");
        QCOMPARE(day["next"].toInteger(), f.idOf(0));
        QJsonArray bells = day["bells"].toArray();
        QCOMPARE(bells.size(), 2);
        QCOMPARE(bells[0].toObject()["status"].toString(), "等待");
        QCOMPARE(bells[0].toObject()["time"].toString(), "08:00:30");
        QCOMPARE(bells[1].toObject()["remark"].toString(), "备注");
        QCOMPARE(bells[1].toObject()["days"].toString(), "日一二三四五六");
        QVERIFY(bells[0].toObject()["delayMs"].isNull());
        f.take("Bell.OnStatus");

        // The first bell sounds 120 ms after its second.
        f.clock.setTime(QTime(8, 0, 30, 120));
        emit f.core->engine().rang(0, {});
        QList<QJsonObject> told = f.take("Bell.OnStatus");
        QCOMPARE(told.size(), 1); // the next waits only while none sounds
        QCOMPARE(told[0]["status"].toString(), "播放");
        QCOMPARE(told[0]["delayMs"].toInteger(), 120);
        QCOMPARE(told[0]["id"].toInteger(), f.idOf(0));
        QCOMPARE(f.call("Engine.GetStatus").value()["playing"]["id"].toInteger(), f.idOf(0));
        // A second look at the same state tells nothing.
        emit f.core->board().day().nextChanged(0);
        QVERIFY(f.take("Bell.OnStatus").isEmpty());

        f.core->board().day().setNext(1);
        f.core->board().day().setStatus(0, BellStatus::Done);
        emit f.core->engine().bellEnded(0, BellStatus::Done);
        told = f.take("Bell.OnStatus");
        QCOMPARE(told.size(), 2);
        QCOMPARE(told[0]["status"].toString(), "完成");
        QCOMPARE(told[1]["status"].toString(), "等待");
        bells = f.call("Day.GetBells").value()["bells"].toArray();
        QCOMPARE(bells[0].toObject()["status"].toString(), "完成");
        QCOMPARE(bells[0].toObject()["delayMs"].toInteger(), 120);
        QCOMPARE(bells[1].toObject()["status"].toString(), "等待");
        QVERIFY(f.call("Engine.GetStatus").value()["playing"].isNull());
    }

    void emergencyIsAnsweredOnceSettledAndStoppedOnce()
    {
        Fixture f;
        const RpcResult started = f.call("Emergency.Start");
        QCOMPARE(errorText(started), "ok");
        QCOMPARE(f.take("Emergency.OnChanged"), (QList<QJsonObject>{QJsonObject{{"active", true}}}));
        QCOMPARE(f.call("Emergency.Start").value()["text"].toString(), EngineApi::kEmergencyGoingOn);
        QCOMPARE(f.call("Engine.GetStatus").value()["bands"][0]["kind"].toString(), "emergency");
        QCOMPARE(f.call("Emergency.Stop").value()["text"].toString(), QString());
        QCOMPARE(f.take("Emergency.OnChanged"), (QList<QJsonObject>{QJsonObject{{"active", false}}}));
        QCOMPARE(f.call("Emergency.Stop").value()["text"].toString(), EngineApi::kNoEmergency);
    }

    void reloadReadsTheStoreAgainAndTellsTheDay()
    {
        Fixture f;
        {
            BellStore store;
            QVERIFY(store.open(f.home.db()).isEmpty());
            store.insert({0, 9 * 3600, "第二节", "a.wav", "日一二三四五六", "", "", {}});
            Settings(store).setCatchUpSeconds(45); // changed by another program
        }
        QCOMPARE(f.call("Day.GetBells").value()["bells"].toArray().size(), 2);
        QCOMPARE(errorText(f.call("Bells.Reload")), "ok");
        QCOMPARE(f.call("Day.GetBells").value()["bells"].toArray().size(), 3);
        QCOMPARE(f.core->engine().catchUpSeconds(), 45);
        QVERIFY(!f.take("Day.OnChanged").isEmpty());
    }
};

QTEST_GUILESS_MAIN(ApiMethodsTest)
#include "tst_apimethods.moc"
