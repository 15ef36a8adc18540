// Bells in two buildings through Snapcast: from a bell's scheduled second to
// its first sound at each building's speaker (a null sink of the building's
// own PulseAudio server, played by its snapclient), and the spread between
// the buildings. The ring engine rings zones 甲 (pipe sink bldg_a) and 乙
// (bldg_b) with 提前 = the stream's buffer; beside it, in the same run,
// paplay started 提前 before a second into each pipe sink. The pipe sinks'
// own monitors show how much of the delay is the broadcasting PC's.
// bench/snapcast/run.sh sets up the servers and passes their addresses.
#include "bellboard.h"
#include "mpvplayer.h"
#include "benchtime.h"
#include "onsetrecorder.h"
#include "ringengine.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace {

using bench::recorder;
using bench::sleepUntilNs;
using Stats = bench::Series;

// First sound placed within [due - 300 ms, due + 1 s).
std::optional<double> onsetMs(const OnsetRecorder &rec, int64_t dueNs)
{
    for (const auto &s : rec.sounds())
        if (s.startNs >= dueNs - 300000000LL && s.startNs < dueNs + 1000000000LL)
            return double(s.startNs - dueNs) / 1e6;
    return std::nullopt;
}

QString env(const char *name)
{
    const QString v = qEnvironmentVariable(name);
    if (v.isEmpty()) {
        std::fprintf(stderr, "%s is not set: run through bench/snapcast/run.sh\n", name);
        std::exit(2);
    }
    return v;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int bells = 10;
    const int bufferMs = qEnvironmentVariableIntValue("SNAP_BUFFER_MS");
    // 提前: the buffer, plus what the buildings' players add when told.
    const int leadMs = qEnvironmentVariableIsSet("SNAP_LEAD_MS") ? qEnvironmentVariableIntValue("SNAP_LEAD_MS")
                                                                  : bufferMs;
    for (int i = 1; i + 1 < argc; ++i)
        if (QByteArray(argv[i]) == "--bells")
            bells = std::max(1, atoi(argv[i + 1]));

    QTemporaryDir home;
    QDir(home.path()).mkpath(QStringLiteral("data"));
    QDir(home.path()).mkpath(QStringLiteral("音乐"));
    const QString tone = home.path() + QStringLiteral("/音乐/tone.wav");
    QProcess ff;
    ff.start("ffmpeg", {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                        "sine=frequency=880:duration=0.5", "-ac", "2", "-ar", "48000", tone});
    if (!ff.waitForFinished(60000) || ff.exitCode() != 0) {
        std::fprintf(stderr, "ffmpeg could not make the tone\n");
        return 2;
    }

    std::vector<std::unique_ptr<OnsetRecorder>> recs;
    recs.push_back(recorder("speaker.monitor", env("SNAP_PULSE_A").toStdString()));
    recs.push_back(recorder("speaker.monitor", env("SNAP_PULSE_B").toStdString()));
    recs.push_back(recorder("bldg_a.monitor", {}));
    recs.push_back(recorder("bldg_b.monitor", {}));
    for (const auto &r : recs)
        if (!r)
            return 2;
    sleepUntilNs(OnsetRecorder::wallNs() + 1500000000LL); // let the streams settle

    // The reference: paplay started 提前 before a second into both pipe sinks.
    std::vector<int64_t> paplayDue;
    const QByteArray tonePath = QFile::encodeName(tone);
    for (int i = 0; i < bells; ++i) {
        const int64_t due = (OnsetRecorder::wallNs() / 1000000000 + 3) * 1000000000LL;
        sleepUntilNs(due - int64_t(leadMs) * 1000000);
        pid_t pids[2];
        const char *sinks[] = {"--device=bldg_a", "--device=bldg_b"};
        for (int k = 0; k < 2; ++k) {
            char *args[] = {const_cast<char *>("paplay"), const_cast<char *>(sinks[k]),
                            const_cast<char *>(tonePath.constData()), nullptr};
            if (posix_spawnp(&pids[k], "paplay", nullptr, nullptr, args, environ) != 0) {
                std::fprintf(stderr, "paplay could not start\n");
                return 2;
            }
        }
        paplayDue.push_back(due);
        for (pid_t p : pids)
            waitpid(p, nullptr, 0);
    }

    // The engine: bells three seconds apart in both zones.
    BellStore store;
    if (const QString err = store.open(home.path() + "/data/dbDaLing.db"); !err.isEmpty()) {
        std::fprintf(stderr, "store: %s\n", qPrintable(err));
        return 2;
    }
    ZoneStore zones(store);
    const QList<qint64> ids{zones.add({0, "甲", "pulse/bldg_a", leadMs}), zones.add({0, "乙", "pulse/bldg_b", leadMs})};
    SystemClock clock;
    const QDateTime now = clock.now();
    const qint64 first = now.time().msecsSinceStartOfDay() / 1000 + 4;
    std::vector<int64_t> engineDue;
    for (int i = 0; i < bells; ++i) {
        store.insert({0, first + 3 * i, "bell", "tone.wav", "日一二三四五六", "1", "", ids});
        engineDue.push_back(QDateTime(now.date(), QTime(0, 0).addSecs(int(first + 3 * i))).toMSecsSinceEpoch()
                            * 1000000);
    }
    AppPaths paths(home.path() + "/");
    BellBoard board(store, clock, paths);
    MpvPlayer player(MpvPlayer::Output::System, QStringLiteral("pulse/dflt"));
    struct NoBoxes : Messages {
        void plain(const QString &t) override { std::fprintf(stderr, "box: %s\n", qPrintable(t)); }
        void typedOk(Kind, const QString &t) override { plain(t); }
        Answer yesNo(Kind, const QString &) override { return Answer::No; }
        void generalError(const QString &t) override { plain(t); }
        Answer okCancel(const QString &, const QString &) override { return Answer::Cancel; }
    } boxes;
    RingEngine engine(board, player, boxes, clock);
    engine.setZones(zones.list());
    std::vector<std::unique_ptr<MpvPlayer>> zonePlayers;
    engine.zonePlayer = [&](const Zone &z) -> AudioPlayer * {
        zonePlayers.push_back(std::make_unique<MpvPlayer>(MpvPlayer::Output::System, z.output));
        return zonePlayers.back().get();
    };
    engine.start();
    QTimer::singleShot(int(engineDue.back() / 1000000 - QDateTime::currentMSecsSinceEpoch()) + 2000, &app,
                       &QCoreApplication::quit);
    app.exec();
    for (auto &r : recs)
        r->waitQuiet(150, 3000);

    const auto report = [&](const char *what, const std::vector<int64_t> &due, bool withPipe) {
        Stats a, b, spread, pipe, pipeB;
        for (int64_t d : due) {
            const auto oa = onsetMs(*recs[0], d), ob = onsetMs(*recs[1], d);
            oa ? a.v.push_back(*oa) : void(++a.missing);
            ob ? b.v.push_back(*ob) : void(++b.missing);
            if (oa && ob)
                spread.v.push_back(std::abs(*oa - *ob));
            if (withPipe) {
                // The pipe sink's monitor hears it 提前 before the second.
                const auto op = onsetMs(*recs[2], d - int64_t(leadMs) * 1000000);
                op ? pipe.v.push_back(*op) : void(++pipe.missing);
                const auto opb = onsetMs(*recs[3], d - int64_t(leadMs) * 1000000);
                opb ? pipeB.v.push_back(*opb) : void(++pipeB.missing);
            }
        }
        std::printf("\n%s (buffer %d ms, 提前 %d ms), scheduled second -> first sound\n", what, bufferMs, leadMs);
        a.print("building A");
        b.print("building B");
        spread.print("spread |A - B|");
        if (withPipe)
        {
            pipe.print("pipe sink bldg_a (after second - 提前)");
            pipeB.print("pipe sink bldg_b (after second - 提前)");
        }
    };
    report("paplay into the pipe sinks", paplayDue, true);
    report("ring engine, zones 甲 and 乙", engineDue, true);
    return 0;
}
