// A bell's status at a connected client: from the bell's first sound at the
// output to its Bell.OnStatus "播放" at a client of dalingd's channel. Runs a
// real dalingd (no display) in a data folder of its own with bells 3 s
// apart, records the null sink's monitor, and prints per bell the onset
// after the second, the notification after the onset and the delay the
// engine reported. Needs a PulseAudio server whose default sink is a null
// sink: bench/rpc/run-bellstatus.sh starts one.
// Usage: bench_bellstatus <dalingd> [bells]
#include "bellstore.h"
#include "benchtime.h"
#include "onsetrecorder.h"
#include "rpcclient.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
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

    QTemporaryDir home;
    QDir(home.path()).mkpath("data");
    QDir(home.path()).mkpath("音乐");
    QProcess ff;
    ff.start("ffmpeg", {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                        "sine=frequency=880:duration=1", "-ar", "48000", home.filePath("音乐/bell.wav")});
    if (!ff.waitForFinished(60000) || ff.exitCode() != 0) {
        std::fprintf(stderr, "ffmpeg failed\n");
        return 1;
    }
    // The first bell once the engine is surely ticking.
    const int first = QTime::currentTime().msecsSinceStartOfDay() / 1000 + 10;
    std::map<QString, int64_t> dueNs; // by "HH:MM:SS"
    {
        BellStore store;
        if (const QString e = store.open(home.filePath("data/dbDaLing.db")); !e.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(e));
            return 1;
        }
        const QDateTime midnight(QDate::currentDate(), QTime(0, 0));
        for (int i = 0; i < bells; ++i) {
            const int s = first + i * kGap;
            store.insert({0, s, QStringLiteral("铃%1").arg(i + 1), "bell.wav", "日一二三四五六", "1", "", {}});
            dueNs[QTime::fromMSecsSinceStartOfDay(s * 1000).toString("HH:mm:ss")] =
                midnight.addSecs(s).toMSecsSinceEpoch() * 1'000'000;
        }
    }
    const QString exe = home.filePath("dalingd");
    QFile::copy(dalingd, exe);
    QFile(exe).setPermissions(QFile::permissions(dalingd));

    OnsetRecorder::Options o;
    if (const char *src = std::getenv("BENCH_SOURCE"))
        o.device = src;
    OnsetRecorder rec(o);
    std::string error;
    if (!rec.start(&error)) {
        std::fprintf(stderr, "recorder: %s\n", error.c_str());
        return 1;
    }

    QProcess engine;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    engine.setProcessEnvironment(env);
    engine.setStandardErrorFile(home.filePath("dalingd.log"));
    engine.start(exe, {});
    const QString socket = qEnvironmentVariable("XDG_RUNTIME_DIR") + "/daling.sock";
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        const RpcResult r = rpcCall(socket, "Engine.GetStatus", {}, 1000);
        if (!r.isError() && !r.value()["starting"].toBool())
            break;
        if (waited.elapsed() > 8000) {
            std::fprintf(stderr, "dalingd did not answer\n");
            return 1;
        }
        QThread::msleep(50);
    }

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
    ::kill(pid_t(engine.processId()), SIGTERM);
    engine.waitForFinished(15000);
    const bench::Stats s = bench::stats(afterSound), on = bench::stats(onsets);
    std::printf("status at the client after the sound: median %.1f ms, worst %.1f ms (%zu bells)\n",
                s.median, s.worst, s.n);
    std::printf("onset after the second: median %.1f ms, worst %.1f ms\n", on.median, on.worst);
    return s.n == size_t(bells) ? 0 : 1;
}
