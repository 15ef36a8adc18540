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
};

QTEST_GUILESS_MAIN(RelayLinkTest)
#include "tst_relaylink.moc"
