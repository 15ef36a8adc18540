// How late the relays switch and the contact is acted on, against a Modbus
// TCP module of our own on 127.0.0.1 (libmodbus's server, its own thread):
// from a bell's second minus its pre-roll to the coil write the module
// receives, and from a discrete input's closing to the emergency request
// (which includes the 200 ms debounce by design).
// usage: bench_relays [runs]   (default 20; about runs × 1.5 s)
#include "fireinputs.h"
#include "modbusserver.h"
#include "relayplan.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <algorithm>
#include <cstdio>

using steady = std::chrono::steady_clock;

static void print(const char *what, QList<double> ms)
{
    std::sort(ms.begin(), ms.end());
    std::printf("%-44s median %7.1f ms  max %7.1f ms  (n=%lld)\n", what, ms[ms.size() / 2], ms.last(),
                static_cast<long long>(ms.size()));
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    ModbusServer server;
    if (!server.ok())
        return 1;
    const QString module = QStringLiteral("127.0.0.1:%1").arg(server.port());
    SystemClock clock;
    RelayDevices devices;

    // Pre-roll: a sound 1 s ahead with a 500 ms pre-roll, hold 0, the
    // plan on its own 100 ms timer as in the engine.
    RelayPlan plan(devices, clock);
    plan.setRelays({{1, "bench", "modbus-tcp", module, 0, {}, 500, 0, 0}});
    plan.start();
    QTest::qWait(300);
    QList<double> late;
    for (int i = 0; i < runs; ++i) {
        const qsizetype before = server.writes().size();
        const QDateTime now = clock.now();
        const steady::time_point base = steady::now();
        plan.setUpcoming({{now.addMSecs(1000), now.addMSecs(1000), {}}});
        const steady::time_point due = base + std::chrono::milliseconds(500);
        if (!QTest::qWaitFor([&] { return server.writes().size() > before; }, 3000))
            return 1;
        const auto at = server.writes().at(before).at;
        late << std::chrono::duration<double, std::milli>(at - due).count();
        if (!QTest::qWaitFor([&] { return server.writes().size() > before + 1; }, 3000)) // off again
            return 1;
    }
    print("coil write minus (bell second - pre-roll)", late); // negative: early

    // The contact: closed, then the request for the emergency.
    FireInputs inputs(devices, clock);
    inputs.setInputs({{1, "bench", "modbus-tcp", module, 0, "", {}, true}});
    bool raised = false, cleared = false;
    QObject::connect(&inputs, &FireInputs::alarmRaised, [&] { raised = true; });
    QObject::connect(&inputs, &FireInputs::alarmCleared, [&] { cleared = true; });
    inputs.start();
    QList<double> toAlarm;
    for (int i = 0; i < runs; ++i) {
        raised = cleared = false;
        QElapsedTimer t;
        server.setInput(0, true);
        t.start();
        if (!QTest::qWaitFor([&] { return raised; }, 3000))
            return 1;
        toAlarm << t.nsecsElapsed() / 1e6;
        server.setInput(0, false);
        if (!QTest::qWaitFor([&] { return cleared; }, 3000))
            return 1;
        QTest::qWait(37 * (i % 3)); // not always in step with the polls
    }
    print("contact closed to emergency request", toAlarm);
    plan.rest();
    return 0;
}
