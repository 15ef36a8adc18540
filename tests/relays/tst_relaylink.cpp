// The relays and contacts in the engine as it runs: a Modbus TCP module of
// the test's own holds the relay's coil and the fire alarm's contact.
#include "bellstore.h"
#include "emergencybroadcast.h"
#include "enginecore.h"
#include "fakes.h"
#include "modbusserver.h"
#include "relaylink.h"
#include "relaystore.h"
#include "ringengine.h"
#include "ringhistory.h"

#include <QSignalSpy>
#include <QTest>

class RelayLinkTest : public QObject {
    Q_OBJECT

    // Lets the fake clock run with real time (the contact's debounce counts
    // by it) until done() or 10 s.
    template <typename F>
    static bool runUntil(FakeClock &clock, F done)
    {
        for (int i = 0; i < 200 && !done(); ++i) {
            clock.advanceMs(50);
            QTest::qWait(50);
        }
        return done();
    }

    static EngineContext context(const TempHome &home, FakeClock &clock, FakeMessages &messages)
    {
        EngineContext c;
        c.paths = AppPaths(home.path());
        c.clock = &clock;
        c.messages = &messages;
        c.makePlayer = [&clock](const QString &) { return std::make_unique<FakePlayer>(&clock); };
        return c;
    }

private slots:
    void contactStartsAndEndsTheEmergencyWithItsRelay()
    {
        ModbusServer server;
        QVERIFY(server.ok());
        TempHome home;
        const QString module = QStringLiteral("127.0.0.1:%1").arg(server.port());
        {
            BellStore store;
            QCOMPARE(store.open(home.db()), QString());
            RelayStore tables(store);
            tables.addRelay({0, "教学楼", "modbus-tcp", module, 0, {4}, 3000, 60000, 0});
            tables.addFireInput({0, "消防主机", "modbus-tcp", module, 2, "", {}, true});
        }
        FakeClock clock;
        FakeMessages messages;
        {
            EngineCore core(context(home, clock, messages));
            QTRY_COMPARE(server.writes().size(), 1); // at rest at the start
            QVERIFY(!server.writes().first().on);

            server.setInput(2, true);
            QVERIFY(runUntil(clock, [&] { return core.emergency().active(); }));
            // The emergency powers every relay (this one's zone too) at once.
            QTRY_VERIFY(server.coil(0));
            server.setInput(2, false);
            QVERIFY(runUntil(clock, [&] { return !core.emergency().active(); }));
            QTRY_VERIFY(!core.history().day(clock.now().date()).isEmpty());
            const QString reason = core.history().day(clock.now().date()).last().reason;
            QVERIFY2(reason.contains("由消防联动开始") && reason.contains("由消防联动结束"), qPrintable(reason));
            QVERIFY(server.coil(0)); // held on its 保持
        }
        // At the end it rests.
        QTRY_VERIFY(!server.coil(0));
    }

    void bellOfTheDaySwitchesItsZonesRelayAhead()
    {
        ModbusServer server;
        QVERIFY(server.ok());
        TempHome home;
        const QString module = QStringLiteral("127.0.0.1:%1").arg(server.port());
        FakeClock clock; // 08:00:00 on a Monday
        FakeMessages messages;
        EngineCore core(context(home, clock, messages));
        const qint64 zone = ZoneStore(core.store()).add({0, "操场", "pulse/a", 0});
        core.store().insert({0, 8 * 3600 + 30, "上课", "a.mp3", "日一二三四五六", "", "", {zone}});
        core.store().insert({0, 8 * 3600 + 20, "铃声输出", "a.mp3", "日一二三四五六", "", "", {}});
        RelayStore(core.store()).addRelay({0, "操场功放", "modbus-tcp", module, 1, {zone}, 5000, 10000, 0});
        core.applyZones();
        core.engine().ButtonPlayClick(); // running
        core.relays().reload();
        QTRY_COMPARE(server.writes().size(), 1); // at rest
        core.relays().plan().timer.stop();        // the fake clock drives it from here
        clock.setTime(QTime(8, 0, 24, 800));
        core.relays().plan().tick();
        QTest::qWait(150);
        QCOMPARE(server.writes().size(), 1); // the bell on 铃声输出 is not its zone
        clock.setTime(QTime(8, 0, 25));
        core.relays().plan().tick();
        QTRY_VERIFY(server.coil(1));
    }

    void bellsOverlappingHoldTheirRelayUntilTheLastEnds()
    {
        ModbusServer server;
        QVERIFY(server.ok());
        TempHome home;
        FakeClock clock;
        FakeMessages messages;
        EngineCore core(context(home, clock, messages));
        const qint64 zone = ZoneStore(core.store()).add({0, "操场", "pulse/a", 0});
        const qint64 relay = RelayStore(core.store()).addRelay(
            {0, "操场功放", "modbus-tcp", QStringLiteral("127.0.0.1:%1").arg(server.port()), 0, {zone}, 0, 1000, 0});
        core.relays().reload();
        RelayPlan &plan = core.relays().plan();
        plan.timer.stop();
        auto after = [&](int ms) {
            clock.advanceMs(ms);
            plan.tick();
        };
        emit core.engine().rang(0, {zone});
        QVERIFY(plan.isOn(relay));
        after(500);
        emit core.engine().rang(1, {zone}); // the next bell before the first one's end
        emit core.engine().bellEnded(0, BellStatus::Done);
        after(5000);
        QVERIFY(plan.isOn(relay)); // the second still sounds
        emit core.engine().bellEnded(1, BellStatus::Done);
        after(900);
        QVERIFY(plan.isOn(relay));
        after(200);
        QVERIFY(!plan.isOn(relay)); // its 保持 after the last one
        QTRY_VERIFY(!server.coil(0));
    }

    // The record is written as the bell starts: a relay powering its zones
    // that has not answered by then is named in its 说明; one that answers
    // adds nothing.
    void aBellsRecordNamesTheRelayThatDoesNotAnswer_data()
    {
        QTest::addColumn<bool>("dead");
        QTest::addColumn<QList<qint64>>("relayZones");
        QTest::addColumn<QString>("reason");
        QTest::newRow("dead module, 铃声输出") << true << QList<qint64>{} << "功放电源「礼堂功放」没有响应";
        QTest::newRow("dead module, another zone") << true << QList<qint64>{99} << "";
        QTest::newRow("module answers") << false << QList<qint64>{} << "";
    }
    void aBellsRecordNamesTheRelayThatDoesNotAnswer()
    {
        QFETCH(bool, dead);
        QFETCH(QList<qint64>, relayZones);
        QFETCH(QString, reason);
        ModbusServer server;
        DeadServer hung;
        QVERIFY(server.ok() && hung.port() > 0);
        TempHome home;
        home.touchMusic("a.mp3");
        FakeClock clock; // 08:00:00 on a Monday
        FakeMessages messages;
        EngineCore core(context(home, clock, messages));
        core.store().insert({0, 8 * 3600 + 5, "上课", "a.mp3", "日一二三四五六", "", "", {}});
        const int port = dead ? hung.port() : server.port();
        RelayStore(core.store()).addRelay({0, "礼堂功放", "modbus-tcp", QStringLiteral("127.0.0.1:%1").arg(port),
                                           0, relayZones, 3000, 60000, 0});
        core.relays().reload();
        QSignalSpy band(&core.relays(), &RelayLink::bandChanged);
        core.engine().TimerShiJianTimer(); // running mode
        if (dead)
            QTRY_VERIFY(core.relays().bandText().contains(RelayPlan::unansweredText("礼堂功放")));
        else
            QTRY_VERIFY(!server.writes().isEmpty());
        clock.setTime(QTime(8, 0, 5, 2));
        core.engine().TimerShiJianTimer();
        QTRY_VERIFY(core.history().flush() && !core.history().day(clock.now().date()).isEmpty());
        const RingRecord r = core.history().day(clock.now().date()).first();
        QCOMPARE(r.name, QStringLiteral("上课"));
        QCOMPARE(r.result, BellStatus::Done); // the bell still played
        QCOMPARE(r.reason, reason);
        QCOMPARE(band.isEmpty(), !dead);
    }

    // The band names what does not answer; a relay moved to a module that
    // answers (the dialog saved it) is no longer named.
    void bandNamesWhatDoesNotAnswer()
    {
        ModbusServer server;
        DeadServer hung;
        QVERIFY(server.ok() && hung.port() > 0);
        TempHome home;
        FakeClock clock;
        FakeMessages messages;
        EngineCore core(context(home, clock, messages));
        QCOMPARE(core.relays().bandText(), QString());
        RelayStore tables(core.store());
        Relay relay{0, "礼堂功放", "modbus-tcp", QStringLiteral("127.0.0.1:%1").arg(hung.port()), 0, {}, 0, 0, 0};
        relay.id = tables.addRelay(relay);
        tables.addFireInput({0, "消防主机", "modbus-tcp", QStringLiteral("127.0.0.1:%1").arg(hung.port()), 0, "", {}, true});
        core.relays().reload();
        QTRY_VERIFY(core.relays().bandText().contains(RelayPlan::unansweredText("礼堂功放")));
        QTRY_VERIFY(core.relays().bandText().contains(FireInputs::unansweredText("消防主机")));
        relay.address = QStringLiteral("127.0.0.1:%1").arg(server.port());
        tables.updateRelay(relay);
        QSignalSpy band(&core.relays(), &RelayLink::bandChanged);
        core.relays().reload();
        QVERIFY(!band.isEmpty());
        QVERIFY(!core.relays().bandText().contains(RelayPlan::unansweredText("礼堂功放")));
        QVERIFY(core.relays().bandText().contains(FireInputs::unansweredText("消防主机")));
    }

    // The ad-hoc broadcast powers the relays of 广播输出 (empty 分区) or of
    // the zones it plays in, and lets them go their 保持 after it stops.
    void theBroadcastPowersItsRelays()
    {
        ModbusServer server;
        QVERIFY(server.ok());
        TempHome home;
        FakeClock clock;
        FakeMessages messages;
        EngineCore core(context(home, clock, messages));
        const QString module = QStringLiteral("127.0.0.1:%1").arg(server.port());
        RelayStore tables(core.store());
        const qint64 hall = tables.addRelay({0, "广播功放", "modbus-tcp", module, 0, {}, 0, 1000, 0});
        const qint64 field = tables.addRelay({0, "操场功放", "modbus-tcp", module, 1, {4}, 0, 1000, 0});
        core.relays().reload();
        RelayPlan &plan = core.relays().plan();
        plan.timer.stop();
        auto after = [&](int ms) {
            clock.advanceMs(ms);
            plan.tick();
        };
        core.relays().broadcastPlaying(true);
        QVERIFY(plan.isOn(hall) && !plan.isOn(field));
        after(2000);
        core.relays().broadcastPlaying(true); // the same again: nothing new
        core.relays().broadcastPlaying(true, {4}); // now in a zone
        after(500);
        QVERIFY(plan.isOn(field));
        QVERIFY(plan.isOn(hall)); // its 保持 since the broadcast left 广播输出
        after(600);
        QVERIFY(!plan.isOn(hall));
        core.relays().broadcastPlaying(false);
        after(900);
        QVERIFY(plan.isOn(field));
        after(200);
        QVERIFY(!plan.isOn(field));
        core.relays().broadcastPlaying(false); // stopped twice: nothing left to end
        QTRY_VERIFY(!server.coil(0) && !server.coil(1));
    }
};

QTEST_GUILESS_MAIN(RelayLinkTest)
#include "tst_relaylink.moc"
