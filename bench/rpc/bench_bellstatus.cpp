// A bell's status at a connected client: from the bell's first sound at the
// output to its Bell.OnStatus "播放" at a client of dalingd's channel. Runs a
// real dalingd (no display) in a data folder of its own with bells 3 s
// apart, records the null sink's monitor, and prints per bell the onset
// after the second, the notification after the onset and the delay the
// engine reported. Needs a PulseAudio server whose default sink is a null
// sink: bench/rpc/run-bellstatus.sh starts one.
// Usage: bench_bellstatus <dalingd> [bells]
#include "bellstore.h"
#include "benchengine.h"
#include "benchtime.h"
#include "onsetrecorder.h"
#include "rpcclient.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <QTest>
#include <QTime>

#include <csignal>
#include <cstdio>
#include <map>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_bellstatus <dalingd> [bells]\n");
        return 2;
    }
    const QString dalingd = QString::fromLocal8Bit(argv[1]);
    const int bells = argc > 2 ? std::atoi(argv[2]) : 10;
    constexpr int kGap = 3;

    bench::EngineHome home;
    if (!home.tone("bell.wav", 880, 1))
        return 1;
    std::map<QString, int64_t> dueNs; // by "HH:MM:SS"
    {
        BellStore store;
        if (const QString e = store.open(home.store()); !e.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(e));
            return 1;
        }
        for (const int s : bench::EngineHome::addBells(store, bells, kGap))
            dueNs[QTime::fromMSecsSinceStartOfDay(s * 1000).toString("HH:mm:ss")] = bench::EngineHome::wallNsOf(s);
    }
    const auto recorder = bench::recorder(bench::sinkMonitor());
    if (!recorder || !home.start(dalingd))
        return 1;
    OnsetRecorder &rec = *recorder;
    const QString socket = bench::EngineHome::socket();

    RpcClient client;
    struct Told {
        int64_t atNs;
        qint64 delayMs;
    };
    std::map<QString, Told> told;
    QObject::connect(&client, &RpcClient::notification, &client, [&](const QString &m, const QJsonValue &p) {
        const int64_t at = OnsetRecorder::wallNs();
        if (m == "Bell.OnStatus" && p["status"].toString() == QStringLiteral("播放"))
            told.emplace(p["time"].toString(), Told{at, p["delayMs"].toInteger()});
    });
    client.connectToServer(socket);
    client.waitForConnected(2000);
    (void)QTest::qWaitFor([&] { return int(told.size()) >= bells; }, (10 + bells * kGap + 5) * 1000);

    // The last bell's sound reaches the monitor after its status.
    rec.waitOnset(dueNs.rbegin()->second - 300'000'000, 2000);
    std::vector<double> afterSound, onsets;
    std::printf("bell       onset-after-second  status-after-sound  engine's delayMs\n");
    for (const auto &[time, due] : dueNs) {
        const auto it = told.find(time);
        const auto onset = bench::onsetIn(rec, due - 300'000'000, due + 2 * bench::kSecondNs);
        if (it == told.end() || !onset) {
            std::printf("%s  %s\n", qPrintable(time), it == told.end() ? "not told" : "not heard");
            continue;
        }
        const double o = (*onset - due) / 1e6, a = (it->second.atNs - *onset) / 1e6;
        onsets.push_back(o);
        afterSound.push_back(a);
        std::printf("%s   %8.1f ms         %8.1f ms          %lld\n", qPrintable(time), o, a,
                    static_cast<long long>(it->second.delayMs));
    }
    ::kill(pid_t(home.process().processId()), SIGTERM);
    home.process().waitForFinished(15000);
    const bench::Stats s = bench::stats(afterSound), on = bench::stats(onsets);
    std::printf("status at the client after the sound: median %.1f ms, worst %.1f ms (%zu bells)\n",
                s.median, s.worst, s.n);
    std::printf("onset after the second: median %.1f ms, worst %.1f ms\n", on.median, on.worst);
    return s.n == size_t(bells) ? 0 : 1;
}
