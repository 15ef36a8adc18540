// Zones: a bell in two and in four local zones, each zone a null sink of one
// private PulseAudio server (bench/zones/run.sh starts it). For every bell,
// the onset in each zone after its scheduled second and the spread between
// its zones; median and worst over the bells, beside paplay started at the
// second on one zone's sink in the same run. Then how many zone players the
// engine had made before the first bell was near, and idle CPU in running
// mode once the four zones' players exist.
#include "bellboard.h"
#include "mpvplayer.h"
#include "benchtime.h"
#include "onsetrecorder.h"
#include "ringengine.h"
#include "zonestore.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

extern char **environ;

namespace {

class PrintMessages : public Messages {
public:
    void plain(const QString &text) override { note(text); }
    void typedOk(Kind, const QString &text) override { note(text); }
    Answer yesNo(Kind, const QString &text) override { note(text); return Answer::Yes; }
    void generalError(const QString &text) override { note(text); }
    Answer okCancel(const QString &, const QString &text) override { note(text); return Answer::Ok; }

private:
    static void note(const QString &text) { std::printf("  message: %s\n", qPrintable(text)); }
};

using namespace bench;

void runEventsUntilNs(int64_t ns)
{
    QEventLoop loop;
    QTimer t;
    t.setSingleShot(true);
    QObject::connect(&t, &QTimer::timeout, &loop, &QEventLoop::quit);
    t.start(int(std::max<int64_t>(1, (ns - OnsetRecorder::wallNs()) / 1000000)));
    loop.exec();
}

void row(const char *name, const Stats &s, int missing)
{
    std::printf("%-44s %6.1fms %6.1fms %4zu  %d\n", name, s.median, s.worst, s.n, missing);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int bells = qEnvironmentVariableIntValue("BENCH_BELLS") > 0
        ? qEnvironmentVariableIntValue("BENCH_BELLS") : 12;
    constexpr int kZones = 4;

    QTemporaryDir home;
    QDir(home.path()).mkpath(QStringLiteral("data"));
    QDir(home.path()).mkpath(QStringLiteral("音乐"));
    const QString tone = home.path() + QStringLiteral("/音乐/tone.wav");
    QProcess ff;
    ff.start(QStringLiteral("ffmpeg"), {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                        "sine=frequency=1000:duration=0.5", "-ar", "48000", tone});
    if (!ff.waitForFinished(60000) || ff.exitCode() != 0) {
        std::fprintf(stderr, "ffmpeg could not make the test sound\n");
        return 2;
    }

    // One recorder per zone's sink.
    std::vector<std::unique_ptr<OnsetRecorder>> recs;
    for (int z = 1; z <= kZones; ++z) {
        OnsetRecorder::Options opt;
        opt.device = "zone_" + std::to_string(z) + ".monitor";
        opt.threshold = 300;
        // 2 ms reads: the spread compares two recorders' placements, each
        // uncertain by up to one read, so the usual 5 ms would hide it.
        opt.readMs = 2;
        if (const int ms = qEnvironmentVariableIntValue("BENCH_READ_MS"); ms > 0)
            opt.readMs = ms;
        recs.push_back(std::make_unique<OnsetRecorder>(opt));
        if (std::string err; !recs.back()->start(&err)) {
            std::fprintf(stderr, "cannot record %s: %s (bench/zones/run.sh starts the server)\n",
                         opt.device.c_str(), err.c_str());
            return 2;
        }
    }
    sleepUntilNs(OnsetRecorder::wallNs() + 1500000000LL);

    // The reference: paplay started exactly at a second, on zone 1's sink.
    std::vector<int64_t> paplayDue;
    const QByteArray toneFile = QFile::encodeName(tone);
    for (int i = 0; i < 10; ++i) {
        const int64_t due = nextSecondNs(OnsetRecorder::wallNs() + kSecondNs);
        sleepUntilNs(due);
        pid_t pid;
        char *args[] = {const_cast<char *>("paplay"), const_cast<char *>("-d"), const_cast<char *>("zone_1"),
                        const_cast<char *>(toneFile.constData()), nullptr};
        if (posix_spawnp(&pid, "paplay", nullptr, nullptr, args, environ) != 0) {
            std::fprintf(stderr, "paplay could not start\n");
            return 2;
        }
        paplayDue.push_back(due);
        waitpid(pid, nullptr, 0);
    }

    BellStore store;
    if (const QString err = store.open(home.path() + "/data/dbDaLing.db"); !err.isEmpty()) {
        std::fprintf(stderr, "store: %s\n", qPrintable(err));
        return 2;
    }
    ZoneStore zoneStore(store);
    QList<qint64> ids;
    for (int z = 1; z <= kZones; ++z)
        ids << zoneStore.add({0, QStringLiteral("分区%1").arg(z), QStringLiteral("pulse/zone_%1").arg(z), 0});

    // Bells 3 s apart: the first half in two zones, the second in four.
    const int64_t start = nextSecondNs(OnsetRecorder::wallNs()) + 6 * kSecondNs;
    const qint64 startSec = QDateTime::fromMSecsSinceEpoch(start / 1000000).time().msecsSinceStartOfDay() / 1000;
    if (startSec + 6 * bells + 20 >= 86400) {
        std::fprintf(stderr, "too close to midnight; run again in a few minutes\n");
        return 2;
    }
    const QString all = QStringLiteral("日一二三四五六");
    QList<BellEntry> entries;
    std::vector<int64_t> due2, due4;
    for (int i = 0; i < 2 * bells; ++i) {
        const bool four = i >= bells;
        entries.append({0, startSec + 3 * i, four ? "four" : "two", "tone.wav", all, "", "",
                        four ? ids : ids.mid(0, 2)});
        (four ? due4 : due2).push_back(start + int64_t(3 * i) * kSecondNs);
    }
    store.replaceAll(entries);

    SystemClock clock;
    AppPaths paths(home.path() + "/");
    BellBoard board(store, clock, paths);
    MpvPlayer player(MpvPlayer::Output::System);
    MpvPlayer spare(MpvPlayer::Output::System);
    PrintMessages messages;
    RingEngine engine(board, player, messages, clock, nullptr, &spare);
    std::vector<std::unique_ptr<MpvPlayer>> zonePlayers;
    engine.zonePlayer = [&](const Zone &z) -> AudioPlayer * {
        zonePlayers.push_back(std::make_unique<MpvPlayer>(MpvPlayer::Output::System, z.output));
        zonePlayers.back()->setConfinedTo(paths.musicFolder());
        return zonePlayers.back().get();
    };
    engine.setZones(zoneStore.list());
    // Made when first needed: none while no bell is near.
    size_t madeEarly = 0;
    QTimer::singleShot(int((start - 3 * kSecondNs - OnsetRecorder::wallNs()) / 1000000), [&] {
        madeEarly = zonePlayers.size();
    });
    size_t rang = 0;
    QObject::connect(&engine, &RingEngine::rang, [&] { ++rang; });
    engine.start();
    runEventsUntilNs(due4.back() + 2 * kSecondNs);
    // Stopped before the idle spell: their reads would be most of its cost.
    for (auto &r : recs)
        r->stop();

    // Idle in running mode, the four zones' players made.
    const double cpu0 = cpuSeconds();
    const int64_t idle0 = OnsetRecorder::wallNs();
    runEventsUntilNs(idle0 + 20 * kSecondNs);
    const double idleCpu = (cpuSeconds() - cpu0) / (double(OnsetRecorder::wallNs() - idle0) / 1e9);

    std::printf("\nonset after the bell's second in each zone (ms); spread = latest - earliest zone\n");
    std::vector<double> paplay;
    int paplayMissing = 0;
    for (int64_t d : paplayDue) {
        if (const auto t = onsetIn(*recs[0], d - 200000000LL, d + 1500000000LL))
            paplay.push_back(double(*t - d) / 1e6);
        else
            ++paplayMissing;
    }
    std::printf("\n%-44s %8s %8s %4s  %s\n", "", "median", "worst", "n", "missing");
    row("paplay at the second (zone 1's sink)", stats(paplay), paplayMissing);
    for (const auto &[n, due] : {std::pair{2, &due2}, std::pair{4, &due4}}) {
        std::vector<double> onsets, spreads;
        int missing = 0;
        for (int64_t d : *due) {
            double lo = 1e9, hi = -1e9;
            bool all = true;
            for (int z = 0; z < n; ++z) {
                const auto t = onsetIn(*recs[size_t(z)], d - 200000000LL, d + 1500000000LL);
                if (!t) {
                    ++missing;
                    all = false;
                    continue;
                }
                const double ms = double(*t - d) / 1e6;
                onsets.push_back(ms);
                lo = std::min(lo, ms);
                hi = std::max(hi, ms);
            }
            if (all)
                spreads.push_back(hi - lo);
            if (qEnvironmentVariableIsSet("BENCH_VERBOSE"))
                std::printf("  %d zones, bell at +%llds: spread %.1f ms\n", n,
                            (long long)((d - start) / kSecondNs), all ? hi - lo : -1.0);
        }
        const QByteArray on = QStringLiteral("bell in %1 zones: onset, every zone").arg(n).toUtf8();
        const QByteArray sp = QStringLiteral("bell in %1 zones: spread between zones").arg(n).toUtf8();
        row(on.constData(), stats(onsets), missing);
        row(sp.constData(), stats(spreads), 0);
        // Zones 3 and 4 stay silent for the two-zone bells.
        if (n == 2)
            for (int z = 2; z < kZones; ++z)
                for (int64_t d : *due)
                    if (onsetIn(*recs[size_t(z)], d - 200000000LL, d + 1500000000LL))
                        std::printf("  heard in zone %d, which the bell does not have\n", z + 1);
    }
    std::printf("\nzone players made before the first bell was near: %zu; after the bells: %zu\n",
                madeEarly, zonePlayers.size());
    std::printf("bells rung: %zu of %d\n", rang, 2 * bells);
    std::printf("idle in running mode, four zones' players made: CPU %.2f %% of one core\n", idleCpu * 100.0);
    return 0;
}
