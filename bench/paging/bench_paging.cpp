// The live announcement's latency: clicks played into a virtual microphone
// (the null sink "mic", whose monitor is the engine's input) and heard in
// two zones' null sinks through a real dalingd, beside PulseAudio's own
// module-loopback from the same input to a third null sink at its lowest
// latency, in the same run. Prints, per click, the time from the input to
// each sink (median and worst), the spread between the two zones, and the
// engine's CPU while it pages. Run through bench/paging/run.sh.
#include "benchtime.h"
#include "bellstore.h"
#include "pagingservice.h"
#include "pagingsound.h"
#include "rpcclient.h"
#include "settings.h"
#include "zonestore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

double cpuOf(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> parts = f.readAll().split(')').value(1).trimmed().split(' ');
    // Fields 14 and 15 (utime, stime), counted after the name's ')'.
    return (parts.value(11).toDouble() + parts.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString dalingd = qEnvironmentVariable("BENCH_DALINGD");
    const int clicks = qEnvironmentVariableIntValue("BENCH_CLICKS") > 0 ? qEnvironmentVariableIntValue("BENCH_CLICKS") : 40;
    if (dalingd.isEmpty()) {
        std::fprintf(stderr, "BENCH_DALINGD: the dalingd to run\n");
        return 2;
    }
    QTemporaryDir home, runtime;
    QDir().mkpath(home.filePath("data"));
    QFile::copy(dalingd, home.filePath("dalingd"));
    {
        BellStore store;
        if (!store.open(home.filePath("data/dbDaLing.db")).isEmpty())
            return 2;
        ZoneStore(store).add({0, "教学楼A", "pulse/zoneA", 0});
        ZoneStore(store).add({0, "教学楼B", "pulse/zoneB", 0});
        Settings s(store);
        s.setValue(PagingService::kInputSetting, "mic.monitor");
        s.setFlag(PagingService::kChimeSetting, false);
    }
    // PulseAudio's own path, at the lowest latency it takes.
    QProcess loopback;
    loopback.start("pactl", {"load-module", "module-loopback", "source=mic.monitor", "sink=ref", "latency_msec=1",
                             "source_dont_move=true", "sink_dont_move=true"});
    if (!loopback.waitForFinished(10000) || loopback.exitCode() != 0) {
        std::fprintf(stderr, "module-loopback did not load\n");
        return 2;
    }

    QProcess engine;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    env.remove("DISPLAY");
    env.remove("NOTIFY_SOCKET");
    engine.setProcessEnvironment(env);
    engine.start(home.filePath("dalingd"), {});
    const QString socket = runtime.filePath("daling.sock");
    bool ready = false;
    for (int i = 0; i < 300 && !ready; ++i) {
        const RpcResult r = rpcCall(socket, "Engine.GetStatus", {}, 1000);
        ready = !r.isError() && !r.value()["starting"].toBool();
        if (!ready)
            QThread::msleep(100);
    }
    if (!ready) {
        std::fprintf(stderr, "dalingd did not start\n");
        return 2;
    }

    auto mic = bench::recorder("mic.monitor"), a = bench::recorder("zoneA.monitor"), b = bench::recorder("zoneB.monitor"),
         ref = bench::recorder("ref.monitor");
    if (!mic || !a || !b || !ref)
        return 2;
    const RpcResult started =
        rpcCall(socket, "Paging.Start", QJsonObject{{"zones", QJsonArray{"教学楼A", "教学楼B"}}, {"by", "bench"}}, 8000);
    if (started.isError()) {
        std::fprintf(stderr, "Paging.Start: %s\n", qPrintable(started.error().message));
        return 2;
    }
    QThread::msleep(500); // past the fade-in
    const double cpu0 = cpuOf(engine.processId());
    const int64_t t0 = OnsetRecorder::wallNs();
    MicFeeder feeder("mic", MicFeeder::Kind::Clicks, 500);
    if (!feeder.start())
        return 2;
    QThread::msleep(clicks * 500 + 300);
    feeder.stop();
    QThread::msleep(300);
    const int64_t t1 = OnsetRecorder::wallNs();
    const double cpu = cpuOf(engine.processId()) - cpu0;
    rpcCall(socket, "Paging.Stop", {}, 3000);
    ::kill(pid_t(engine.processId()), SIGTERM);
    engine.waitForFinished(10000);

    bench::Series toA, toB, toRef, spread;
    for (const OnsetRecorder::Sound &s : mic->sounds()) {
        if (s.startNs < t0)
            continue;
        const int64_t until = s.startNs + 250 * 1000000LL;
        const auto oa = bench::onsetIn(*a, s.startNs - 5 * 1000000LL, until);
        const auto ob = bench::onsetIn(*b, s.startNs - 5 * 1000000LL, until);
        const auto orf = bench::onsetIn(*ref, s.startNs - 5 * 1000000LL, until);
        auto add = [&](bench::Series &row, const std::optional<int64_t> &o) {
            if (o)
                row.v.push_back(double(*o - s.startNs) / 1e6);
            else
                ++row.missing;
        };
        add(toA, oa);
        add(toB, ob);
        add(toRef, orf);
        if (oa && ob)
            spread.v.push_back(std::abs(double(*oa - *ob)) / 1e6);
    }
    std::printf("live announcement: input to sink, %d clicks (fragments %d ms, outputs hold %d ms)\n", clicks,
                LivePager::kFragmentMs, LivePager::kTargetMs);
    toA.print("dalingd → zone A");
    toB.print("dalingd → zone B");
    toRef.print("module-loopback latency_msec=1 (reference)");
    spread.print("spread between zone A and zone B");
    std::printf("  dalingd CPU while paging: %.1f %% of one core (%.2f s over %.1f s)\n",
                100.0 * cpu / (double(t1 - t0) / 1e9), cpu, double(t1 - t0) / 1e9);
    return 0;
}
