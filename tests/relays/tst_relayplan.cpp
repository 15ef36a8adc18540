// When the amplifiers' relays switch: the plan on a fake clock, switching a
// Modbus TCP module of the test's own (libmodbus's server on 127.0.0.1) or
// a fake backend where only the plan's logic is asked.
#include "fakebackend.h"
#include "fakes.h"
#include "modbusserver.h"
#include "relayplan.h"

#include <QSignalSpy>
#include <QTest>

namespace {

Relay modbusRelay(qint64 id, const QString &name, int port, int coil, int order = 0,
                  QList<qint64> zones = {}, int pre = 3000, int hold = 60000)
{
    return Relay{id, name, "modbus-tcp", QStringLiteral("127.0.0.1:%1").arg(port), coil, zones, pre, hold, order};
}

Relay fakeRelay(qint64 id, int channel, QList<qint64> zones = {}, int order = 0)
{
    return Relay{id, QStringLiteral("R%1").arg(id), "gpio", "fake", channel, zones, 0, 1000, order};
}

QList<std::pair<int, bool>> coils(const QList<ModbusServer::Write> &writes)
{
    QList<std::pair<int, bool>> out;
    for (const auto &w : writes)
        out.append({w.coil, w.on});
    return out;
}

} // namespace

class RelayPlanTest : public QObject {
    Q_OBJECT
    const QDateTime t0{QDate(2026, 12, 7), QTime(8, 0, 0)};

    // Ticks every 100 ms of the fake clock up to until.
    void runTo(RelayPlan &plan, FakeClock &clock, const QDateTime &until)
    {
        while (clock.now() < until) {
            clock.advanceMs(100);
            plan.tick();
        }
    }

private slots:
    void bellRelayOnItsPreRollAndOffAfterItsHold()
    {
        ModbusServer server;
        QVERIFY(server.ok());
        FakeClock clock(t0);
        RelayDevices devices;
        RelayPlan plan(devices, clock);
        plan.setRelays({modbusRelay(1, "教学楼", server.port(), 3)});
        plan.start();
        // At rest first.
        QTRY_COMPARE(coils(server.writes()), (QList<std::pair<int, bool>>{{3, false}}));
        plan.timer.stop(); // the fake clock drives it from here
        // A bell at 8:00:10 that sounds two seconds.
        plan.setUpcoming({{t0.addSecs(10), t0.addSecs(12), {}}});
        runTo(plan, clock, t0.addMSecs(6800));
        QTest::qWait(150);
        QCOMPARE(server.writes().size(), 1);
        runTo(plan, clock, t0.addMSecs(7000)); // 3 s before the bell (a tick early at most)
        QTRY_COMPARE(server.writes().size(), 2);
        QVERIFY(server.coil(3));
        // On through the hold after the bell's end (8:00:12 + 60 s) ...
        runTo(plan, clock, t0.addMSecs(71900));
        QTest::qWait(150);
        QCOMPARE(server.writes().size(), 2);
        // ... and off at its end.
        runTo(plan, clock, t0.addMSecs(72000));
        QTRY_COMPARE(server.writes().size(), 3);
        QVERIFY(!server.coil(3));
        // A sound that plays now (the bell as it rang) holds it again from
        // its start until its hold after its end.
        plan.soundStarted("bell", {});
        QTRY_VERIFY(server.coil(3));
        runTo(plan, clock, t0.addSecs(100));
        plan.soundEnded("bell");
        runTo(plan, clock, t0.addMSecs(100000 + 59900));
        QVERIFY(plan.isOn(1));
        runTo(plan, clock, t0.addSecs(160));
        QTRY_VERIFY(!server.coil(3));
    }

    void powerSequenceOnInOrderOffInReverse()
    {
        ModbusServer server;
        QVERIFY(server.ok());
        FakeClock clock(t0);
        RelayDevices devices;
        RelayPlan plan(devices, clock);
        // 顺序 differs from the ids and the coils.
        plan.setRelays({modbusRelay(1, "A", server.port(), 0, 2, {}, 3000, 5000),
                        modbusRelay(2, "B", server.port(), 1, 0, {}, 3000, 5000),
                        modbusRelay(3, "C", server.port(), 2, 1, {}, 3000, 5000)});
        plan.start();
        plan.timer.stop();
        QTRY_COMPARE(server.writes().size(), 3);
        QList<std::pair<qint64, bool>> switched;
        QList<qint64> at;
        connect(&plan, &RelayPlan::switching, this, [&](qint64 relay, bool on) {
            switched.append({relay, on});
            at << t0.msecsTo(clock.now());
        });
        plan.setUpcoming({{t0.addSecs(10), t0.addSecs(10), {}}});
        // Each switch reaches the module before the fake clock moves on
        // (queued ones to the same coil would merge).
        while (clock.now() < t0.addSecs(20)) {
            clock.advanceMs(100);
            plan.tick();
            QTRY_COMPARE(server.writes().size(), 3 + switched.size());
        }
        // On 1 s apart so that the last is on its pre-roll before the bell
        // (a tick early); off in reverse, the last one in order first, at
        // its hold.
        QCOMPARE(switched, (QList<std::pair<qint64, bool>>{{2, true}, {3, true}, {1, true},
                                                           {1, false}, {3, false}, {2, false}}));
        QCOMPARE(at, (QList<qint64>{4900, 5900, 6900, 15000, 16000, 17000}));
        QTRY_COMPARE(server.writes().size(), 9);
        QCOMPARE(coils(server.writes().mid(3)), (QList<std::pair<int, bool>>{
                     {1, true}, {2, true}, {0, true}, {0, false}, {2, false}, {1, false}}));
    }

    void deadModuleNeverHoldsTheOthersAndIsNamed()
    {
        ModbusServer server;
        DeadServer dead;
        QVERIFY(server.ok() && dead.port() > 0);
        FakeClock clock(t0);
        RelayDevices devices;
        RelayPlan plan(devices, clock);
        plan.setRelays({modbusRelay(1, "礼堂", dead.port(), 0, 0), modbusRelay(2, "操场", server.port(), 0, 1)});
        QSignalSpy named(&plan, &RelayPlan::unanswered);
        // The emergency: the first relay in order is asked at once, from
        // inside the call; the dead one does not hold the next.
        plan.soundStarted("emergency", {}, true);
        QVERIFY(plan.isOn(1));
        runTo(plan, clock, t0.addSecs(1));
        QVERIFY(plan.isOn(2));
        QTRY_VERIFY(server.coil(0));
        QTRY_COMPARE(named.size(), 1);
        QCOMPARE(named.first().at(0).toString(), QString("礼堂"));
        QCOMPARE(named.first().at(1).toString(), QString("功放电源「礼堂」没有响应"));
        QCOMPARE(plan.unansweredFor({}), QStringList{"礼堂"});
        QCOMPARE(plan.unansweredFor({5}), QStringList{});
        // Retried, but named once.
        runTo(plan, clock, t0.addSecs(8));
        QTest::qWait(2500);
        QCOMPARE(named.size(), 1);
    }

    void callerNeverWaitsForAHangingDevice()
    {
        FakeBackendState state;
        state.hold = true;
        FakeClock clock(t0);
        RelayDevices devices([&](const RelayAddress &) { return std::make_unique<FakeBackend>(state); });
        {
            RelayPlan plan(devices, clock);
            plan.setRelays({fakeRelay(1, 0)});
            // Returns while the device's call is still held.
            plan.soundStarted("bell", {});
            plan.tick();
            QVERIFY(plan.isOn(1));
            QVERIFY(state.seen().isEmpty());
            state.release();
            QTRY_COMPARE(state.seen(), (QList<std::pair<int, bool>>{{0, true}}));
        }
    }

    void retriedUntilItAnswersAgain()
    {
        FakeBackendState state;
        state.failing = 2;
        FakeClock clock(t0);
        RelayDevices devices([&](const RelayAddress &) { return std::make_unique<FakeBackend>(state); });
        RelayPlan plan(devices, clock);
        plan.setRelays({fakeRelay(1, 4)});
        QSignalSpy named(&plan, &RelayPlan::unanswered);
        QSignalSpy back(&plan, &RelayPlan::answered);
        plan.soundStarted("test", {});
        QTRY_COMPARE(named.size(), 1);
        // Not before its retry time.
        runTo(plan, clock, t0.addMSecs(RelayPlan::kRetryMs - 200));
        QTest::qWait(100);
        QCOMPARE(state.seen().size(), 1);
        runTo(plan, clock, t0.addMSecs(RelayPlan::kRetryMs + 100));
        QTRY_COMPARE(state.seen().size(), 2);
        // Second failure: still named once.
        QTest::qWait(100);
        runTo(plan, clock, t0.addMSecs(2 * RelayPlan::kRetryMs + 300));
        QTRY_COMPARE(back.size(), 1);
        QCOMPARE(named.size(), 1);
        QCOMPARE(back.first().at(0).toString(), QString("R1"));
        QCOMPARE(state.seen().size(), 3);
        QVERIFY(plan.unansweredFor({}).isEmpty());
    }

    void zonesChooseTheRelays_data()
    {
        QTest::addColumn<QList<qint64>>("zones");
        QTest::addColumn<bool>("everywhere");
        QTest::addColumn<QList<qint64>>("on");
        // R1 powers 铃声输出/广播输出, R2 zone 1, R3 zones 2 and 3.
        QTest::newRow("bells' output") << QList<qint64>{} << false << QList<qint64>{1};
        QTest::newRow("zone 1") << QList<qint64>{1} << false << QList<qint64>{2};
        QTest::newRow("zones 3 and 4") << QList<qint64>{3, 4} << false << QList<qint64>{3};
        QTest::newRow("zones 1 and 2") << QList<qint64>{1, 2} << false << QList<qint64>{2, 3};
        QTest::newRow("a zone nobody powers") << QList<qint64>{9} << false << QList<qint64>{};
        QTest::newRow("everywhere") << QList<qint64>{} << true << QList<qint64>{1, 2, 3};
    }
    void zonesChooseTheRelays()
    {
        QFETCH(QList<qint64>, zones);
        QFETCH(bool, everywhere);
        QFETCH(QList<qint64>, on);
        FakeBackendState state;
        FakeClock clock(t0);
        RelayDevices devices([&](const RelayAddress &) { return std::make_unique<FakeBackend>(state); });
        RelayPlan plan(devices, clock);
        plan.setRelays({fakeRelay(1, 0), fakeRelay(2, 1, {1}), fakeRelay(3, 2, {2, 3})});
        plan.soundStarted("s", zones, everywhere);
        runTo(plan, clock, t0.addSecs(3));
        QList<qint64> got;
        for (qint64 r : {1, 2, 3})
            if (plan.isOn(r))
                got << r;
        QCOMPARE(got, on);
    }

    void relayRemovedIsLeftAtRest()
    {
        FakeBackendState state;
        FakeClock clock(t0);
        RelayDevices devices([&](const RelayAddress &) { return std::make_unique<FakeBackend>(state); });
        RelayPlan plan(devices, clock);
        plan.setRelays({fakeRelay(1, 0), fakeRelay(2, 6)});
        plan.soundStarted("s", {});
        QTRY_COMPARE(state.seen().size(), 1);
        plan.setRelays({fakeRelay(2, 6)});
        QTRY_COMPARE(state.seen(), (QList<std::pair<int, bool>>{{0, true}, {0, false}}));
        // At the end everything rests at once, without a sequence.
        runTo(plan, clock, t0.addSecs(2));
        QTRY_VERIFY(state.seen().contains(std::pair{6, true}));
        plan.rest();
        QTRY_COMPARE(state.seen().last(), (std::pair{6, false}));
    }
};

QTEST_GUILESS_MAIN(RelayPlanTest)
#include "tst_relayplan.moc"
