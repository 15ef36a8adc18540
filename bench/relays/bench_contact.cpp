// The relays and the fire alarm's contact at a real dalingd (no display), in
// one run beside the bell onset: a data folder of its own with bells 4 s
// apart powered by a relay (预开 1 s) on a Modbus TCP module of ours on
// 127.0.0.1, and a contact on the same module whose closing plays the
// alarm file everywhere and whose opening ends it. The null sink's monitor
// is recorded. Per run it prints the bell's onset after its second, how
// long before the sound the relay's coil was written, and from the
// contact's closing to the alarm's sound (the 200 ms debounce included, by
// design). Needs a PulseAudio server whose default sink is a null sink:
// bench/relays/run-contact.sh starts one.
// Usage: bench_contact <dalingd> [bells] [contacts]
#include "bellstore.h"
#include "benchengine.h"
#include "benchtime.h"
#include "modbusserver.h"
#include "onsetrecorder.h"
#include "relaystore.h"

#include <QCoreApplication>
#include <QTest>
#include <QTime>

#include <algorithm>
#include <csignal>
#include <cstdio>

namespace {

// The module's steady clock placed on the wall clock.
int64_t wallOf(std::chrono::steady_clock::time_point t)
{
    const int64_t wall = OnsetRecorder::wallNs();
    const auto now = std::chrono::steady_clock::now();
    return wall - std::chrono::duration_cast<std::chrono::nanoseconds>(now - t).count();
}

// leastIsWorst: for a lead, the shortest one is the worst.
void line(const char *what, const std::vector<double> &v, bool leastIsWorst = false)
{
    const bench::Stats s = bench::stats(v);
    const double worst = leastIsWorst && !v.empty() ? *std::min_element(v.begin(), v.end()) : s.worst;
    std::printf("%-46s median %7.1f ms  worst %7.1f ms  (n=%zu)\n", what, s.median, worst, s.n);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_contact <dalingd> [bells] [contacts]\n");
        return 2;
    }
    const QString dalingd = QString::fromLocal8Bit(argv[1]);
    const int bells = argc > 2 ? std::max(1, std::atoi(argv[2])) : 6;
    const int contacts = argc > 3 ? std::max(1, std::atoi(argv[3])) : 8;
    constexpr int kGap = 4;
    constexpr int kPreMs = 1000;

    ModbusServer module;
    if (!module.ok())
        return 1;
    const QString address = QStringLiteral("127.0.0.1:%1").arg(module.port());

    bench::EngineHome home;
    if (!home.tone("bell.wav", 880, 1) || !home.tone("alarm.wav", 660, 20))
        return 1;
    std::vector<int64_t> dueNs;
    {
        BellStore store;
        if (const QString e = store.open(home.store()); !e.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(e));
            return 1;
        }
        for (const int s : bench::EngineHome::addBells(store, bells, kGap))
            dueNs.push_back(bench::EngineHome::wallNsOf(s));
        RelayStore relays(store);
        // Off 0.5 s after each bell, so that every bell switches it on anew.
        relays.addRelay({0, "功放", "modbus-tcp", address, 0, {}, kPreMs, 500, 0});
        relays.addFireInput({0, "消防", "modbus-tcp", address, 0, "alarm.wav", {}, true});
    }
    const auto recorder = bench::recorder(bench::sinkMonitor());
    if (!recorder || !home.start(dalingd))
        return 1;
    OnsetRecorder &rec = *recorder;

    // The bells, each with its relay switched on ahead.
    (void)QTest::qWaitFor([&] { return OnsetRecorder::wallNs() > dueNs.back() + 2 * bench::kSecondNs; },
                    (10 + bells * kGap + 5) * 1000);
    std::vector<double> onsets, coilLead;
    const QList<ModbusServer::Write> writes = module.writes();
    std::printf("bell  onset-after-second  coil-before-sound\n");
    for (size_t i = 0; i < dueNs.size(); ++i) {
        const auto onset = bench::onsetIn(rec, dueNs[i] - 300'000'000, dueNs[i] + 2 * bench::kSecondNs);
        std::optional<int64_t> on;
        for (const ModbusServer::Write &w : writes) {
            const int64_t at = wallOf(w.at);
            if (w.on && at > dueNs[i] - 3 * bench::kSecondNs && at < dueNs[i] + bench::kSecondNs)
                on = at;
        }
        if (!onset) {
            std::printf("%zu     not heard\n", i + 1);
            continue;
        }
        onsets.push_back((*onset - dueNs[i]) / 1e6);
        if (on)
            coilLead.push_back((*onset - *on) / 1e6);
        std::printf("%zu     %8.1f ms        %s\n", i + 1, onsets.back(),
                    on ? qPrintable(QStringLiteral("%1 ms").arg(coilLead.back(), 0, 'f', 1)) : "no write");
    }

    // The contact: closed, the alarm heard, opened, quiet again.
    rec.waitQuiet(500, 5000);
    std::vector<double> toSound;
    for (int i = 0; i < contacts; ++i) {
        const int64_t t0 = OnsetRecorder::wallNs();
        module.setInput(0, true);
        const auto onset = rec.waitOnset(t0, 5000);
        module.setInput(0, false);
        if (onset)
            toSound.push_back((*onset - t0) / 1e6);
        else
            std::printf("contact %d: no alarm heard\n", i + 1);
        rec.waitQuiet(500, 5000);
        QTest::qWait(300 + 37 * (i % 3)); // not always in step with the polls
    }
    ::kill(pid_t(home.process().processId()), SIGTERM);
    home.process().waitForFinished(15000);

    std::printf("\n");
    line("bell onset after its second", onsets);
    line("relay coil written before the bell's sound", coilLead, true);
    std::printf("  (预开 %d ms: the coil should come about that long before)\n", kPreMs);
    line("contact closed to the alarm's sound", toSound);
    std::printf("  (the contact is debounced for 200 ms before it counts)\n");
    return onsets.size() == size_t(bells) && toSound.size() == size_t(contacts) ? 0 : 1;
}
