// What an output that reaches several places costs a bell: Play-to-sound of
// the real player, opened ahead as the ring engine does, on
//   direct    a null sink of its own (hall_a),
//   combined  module-combine-sink over hall_a and hall_b (heard in both),
//   tunnel    module-tunnel-sink to a second PulseAudio server on this
//             machine (its sink "remote"), as for a PC in another building,
// in turns within one run. bench/outputs/run.sh starts both servers and
// passes the second one's address in BENCH_REMOTE_SERVER.
#include "mpvplayer.h"
#include "benchtime.h"
#include "onsetrecorder.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <thread>
#include <vector>

namespace {

double ms(int64_t ns) { return double(ns) / 1e6; }

using bench::recorder;
using bench::Series;

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int runs = 15;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--runs")
            runs = std::max(1, std::atoi(argv[i + 1]));
    const char *remote = std::getenv("BENCH_REMOTE_SERVER");

    auto recA = recorder("hall_a.monitor"), recB = recorder("hall_b.monitor");
    std::unique_ptr<OnsetRecorder> recRemote = remote ? recorder("remote.monitor", remote) : nullptr;
    if (!recA || !recB || (remote && !recRemote))
        return 1;

    QTemporaryDir dir;
    const QString bell = dir.filePath("bell.wav");
    QProcess ff;
    ff.start("ffmpeg", {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                        "sine=frequency=880:duration=0.6:sample_rate=44100", bell});
    if (!ff.waitForFinished(60000) || ff.exitCode() != 0)
        return 1;

    struct Route {
        const char *name;
        QString device;
        std::vector<std::pair<const char *, OnsetRecorder *>> heard;
    };
    std::vector<Route> routes = {
        {"direct", "pulse/hall_a", {{"direct: hall_a", recA.get()}}},
        {"combined", "pulse/halls", {{"combined: hall_a", recA.get()}, {"combined: hall_b", recB.get()}}},
    };
    if (recRemote)
        routes.push_back({"tunnel", "pulse/tunnel", {{"tunnel: remote server's sink", recRemote.get()}}});

    std::printf("bench_outputs: %d runs each, in turns; play() of a file opened ahead to its first sound\n",
                runs);
    std::map<std::string, Series> results;
    MpvPlayer player(MpvPlayer::Output::System);
    auto quiet = [&] {
        for (auto *r : {recA.get(), recB.get(), recRemote.get()})
            if (r)
                r->waitQuiet(250, 5000);
    };
    for (int run = 0; run < runs; ++run) {
        for (const Route &route : routes) {
            player.setOutputDevice(route.device);
            player.setFileName(bell);
            try {
                const int64_t t0 = OnsetRecorder::wallNs();
                player.open();
                results[std::string(route.name) + " (device chosen): open()"].v.push_back(
                    ms(OnsetRecorder::wallNs() - t0));
            } catch (const AudioError &e) {
                std::printf("  %s: open failed: %s\n", route.name, qPrintable(e.text()));
                for (const auto &[name, rec] : route.heard)
                    results[name].missing++;
                continue;
            }
            if (!player.missingOutput().isEmpty())
                std::printf("  %s: output missing, fell back\n", route.name);
            quiet();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const int64_t t1 = OnsetRecorder::wallNs();
            player.play();
            for (const auto &[name, rec] : route.heard) {
                if (auto at = rec->waitOnset(t1, 3000))
                    results[name].v.push_back(ms(*at - t1));
                else
                    results[name].missing++;
            }
            quiet();
            player.close();
        }
    }
    for (const Route &route : routes)
        for (const auto &[name, rec] : route.heard)
            results[name].print(name);
    // The list of outputs is read at each open with a device chosen.
    for (const Route &route : routes) {
        const std::string name = std::string(route.name) + " (device chosen): open()";
        results[name].print(name.c_str());
    }
    Series dflt;
    player.setOutputDevice({});
    for (int run = 0; run < runs; ++run) {
        player.setFileName(bell);
        const int64_t t0 = OnsetRecorder::wallNs();
        player.open();
        dflt.v.push_back(ms(OnsetRecorder::wallNs() - t0));
        player.close();
    }
    dflt.print("default output: open()");
    return 0;
}
