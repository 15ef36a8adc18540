// Ring onset: from a bell's scheduled wall-clock second to its first sound at
// the output, for the ring engine on its real timers with the real player,
// beside paplay started exactly at a second. Then a stalled sound server
// (SIGSTOP 3 s before a bell, SIGCONT 6 s later): the longest gap between two
// clock ticks meanwhile, what became of each bell, and the onset of the bells
// after the server is back. Then idle CPU and memory in running mode. Needs
// a PulseAudio server whose default sink is a null sink (bench/ring/run.sh
// starts one and passes its pid in BENCH_PULSE_PID).
#include "bellboard.h"
#include "mpvplayer.h"
#include "benchtime.h"
#include "onsetrecorder.h"
#include "ringengine.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <spawn.h>
#include <thread>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

extern char **environ;

namespace {

class PrintMessages : public Messages {
public:
    int count = 0;
    void plain(const QString &text) override { note(text); }
    void typedOk(Kind, const QString &text) override { note(text); }
    Answer yesNo(Kind, const QString &text) override { note(text); return Answer::Yes; }
    void generalError(const QString &text) override { note(text); }
    Answer okCancel(const QString &, const QString &text) override { note(text); return Answer::Ok; }

private:
    void note(const QString &text)
    {
        ++count;
        std::printf("  message: %s\n", qPrintable(text));
    }
};

bool makeAudio(const QString &path, const QString &lavfi)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi",
                                       "-i", lavfi, "-ar", "48000", path});
    return p.waitForFinished(60000) && p.exitCode() == 0;
}

using namespace bench;

// A row: the median and worst of its onsets, and how many bells were not heard.
struct Onsets : Stats {
    int missing = 0;
};

// Onsets (ms after their second) of the sounds due at the given seconds.
Onsets onsets(const OnsetRecorder &rec, const std::vector<int64_t> &due, const char *label)
{
    std::vector<double> ms;
    int missing = 0;
    std::printf("%s:", label);
    for (int64_t d : due) {
        const auto t = onsetIn(rec, d - 200000000LL, d + 1500000000LL);
        if (!t) {
            ++missing;
            std::printf(" missing");
            continue;
        }
        ms.push_back(double(*t - d) / 1e6);
        std::printf(" %.1f", ms.back());
    }
    std::printf(" (ms)\n");
    Onsets o{stats(ms)};
    o.missing = missing;
    return o;
}

double rssMb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

void runEventsUntilNs(int64_t ns)
{
    QEventLoop loop;
    QTimer t;
    t.setSingleShot(true);
    QObject::connect(&t, &QTimer::timeout, &loop, &QEventLoop::quit);
    t.start(int(std::max<int64_t>(1, (ns - OnsetRecorder::wallNs()) / 1000000)));
    loop.exec();
}

// The PulseAudio server to stall: BENCH_PULSE_PID, else its pid file.
pid_t pulsePid()
{
    if (const int pid = qEnvironmentVariableIntValue("BENCH_PULSE_PID"); pid > 0)
        return pid_t(pid);
    QFile f(qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/pulse/pid"));
    return f.open(QIODevice::ReadOnly) ? pid_t(f.readAll().trimmed().toInt()) : 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int bells = qEnvironmentVariableIntValue("BENCH_BELLS") > 0
        ? qEnvironmentVariableIntValue("BENCH_BELLS") : 10;
    const std::string source = qEnvironmentVariableIsSet("BENCH_SOURCE")
        ? qEnvironmentVariable("BENCH_SOURCE").toStdString() : std::string("@DEFAULT_MONITOR@");

    const double rssStart = rssMb();
    QTemporaryDir home;
    QDir(home.path()).mkpath(QStringLiteral("data"));
    QDir(home.path()).mkpath(QStringLiteral("音乐"));
    const QString music = home.path() + QStringLiteral("/音乐/");
    if (!makeAudio(music + "tone.wav", "sine=frequency=1000:duration=0.5")
        || !makeAudio(music + "silence.wav", "anullsrc=r=48000:cl=mono:d=3")) {
        std::fprintf(stderr, "ffmpeg could not make the test sounds\n");
        return 2;
    }

    OnsetRecorder::Options opt;
    opt.device = source;
    opt.threshold = 300;
    OnsetRecorder rec(opt);
    if (std::string err; !rec.start(&err)) {
        std::fprintf(stderr, "cannot record %s: %s (start PulseAudio with a null sink: "
                             "bench/ring/run.sh)\n", source.c_str(), err.c_str());
        return 2;
    }
    sleepUntilNs(OnsetRecorder::wallNs() + 1500000000LL); // let the stream settle

    // The reference: paplay started exactly at a second.
    std::vector<int64_t> paplayDue;
    const QByteArray tone = QFile::encodeName(music + "tone.wav");
    for (int i = 0; i < 5; ++i) {
        const int64_t due = nextSecondNs(OnsetRecorder::wallNs() + 1000000000LL);
        sleepUntilNs(due);
        pid_t pid;
        char *args[] = {const_cast<char *>("paplay"), const_cast<char *>(tone.constData()), nullptr};
        if (posix_spawnp(&pid, "paplay", nullptr, nullptr, args, environ) != 0) {
            std::fprintf(stderr, "paplay could not start\n");
            return 2;
        }
        paplayDue.push_back(due);
        waitpid(pid, nullptr, 0);
    }

    // The engine: bells a few seconds apart, each with an idle player (opened
    // ahead), then bells whose player is still busy with a silent file (opened
    // at their second).
    BellStore store;
    if (const QString err = store.open(home.path() + "/data/dbDaLing.db"); !err.isEmpty()) {
        std::fprintf(stderr, "store: %s\n", qPrintable(err));
        return 2;
    }
    const int64_t start = nextSecondNs(OnsetRecorder::wallNs()) + 4000000000LL;
    const QDateTime startAt = QDateTime::fromMSecsSinceEpoch(start / 1000000);
    const qint64 startSec = startAt.time().msecsSinceStartOfDay() / 1000;
    if (startSec + 3 * bells + 40 >= 86400) {
        std::fprintf(stderr, "too close to midnight; run again in a minute\n");
        return 2;
    }
    const QString all = QStringLiteral("日一二三四五六");
    std::vector<int64_t> idleDue, busyDue;
    QList<BellEntry> entries;
    for (int i = 0; i < bells; ++i) {
        entries.append({0, startSec + 3 * i, "bell", "tone.wav", all, "", ""});
        idleDue.push_back(start + int64_t(3 * i) * 1000000000LL);
    }
    for (int i = 0; i < 3; ++i) {
        const qint64 t = startSec + 3 * bells + 5 * i;
        entries.append({0, t, "silence", "silence.wav", all, "", ""});
        entries.append({0, t + 2, "bell", "tone.wav", all, "", ""});
        busyDue.push_back(start + int64_t(3 * bells + 5 * i + 2) * 1000000000LL);
    }
    // The stall: the server stops 3 s before a bell and answers again 6 s
    // later; three bells follow at 3 s, 6 s and 9 s after its return.
    const pid_t server = pulsePid();
    const qint64 stallOffset = 3 * bells + 17;
    const int64_t stallStart = start + int64_t(stallOffset) * 1000000000LL;
    const int64_t stallEnd = stallStart + 6000000000LL;
    std::vector<int64_t> stallDue, afterDue;
    if (server > 0) {
        for (qint64 at : {3, 9, 12, 15}) {
            entries.append({0, startSec + stallOffset + at, at == 3 ? "stalled" : "after", "tone.wav", all, "", ""});
            (at == 3 ? stallDue : afterDue).push_back(stallStart + at * 1000000000LL);
        }
    }
    store.replaceAll(entries);

    SystemClock clock;
    AppPaths paths(home.path() + "/");
    BellBoard board(store, clock, paths);
    MpvPlayer player(MpvPlayer::Output::System);
    PrintMessages messages;
    MpvPlayer spare(MpvPlayer::Output::System);
    RingEngine engine(board, player, messages, clock, nullptr, &spare);
    std::vector<double> playReturned;
    std::vector<std::pair<int64_t, bool>> outcomes; // when, and whether it rang
    QObject::connect(&engine, &RingEngine::rang, [&] {
        const int64_t now = OnsetRecorder::wallNs();
        if (now < stallStart || server <= 0)
            playReturned.push_back(double(now % 1000000000LL) / 1e6);
        outcomes.emplace_back(now, true);
    });
    QObject::connect(&engine, &RingEngine::ringFailed, [&] { outcomes.emplace_back(OnsetRecorder::wallNs(), false); });
    // An early start has returned (this slot comes after the engine's): how
    // far before (negative) or after its second the bell's play() returned.
    std::vector<double> earlyReturned;
    QObject::connect(&engine.TimerStart, &QTimer::timeout, [&] {
        const int64_t ms = OnsetRecorder::wallNs() % 1000000000LL;
        earlyReturned.push_back(double(ms > 500000000LL ? ms - 1000000000LL : ms) / 1e6);
    });
    // A clock update: the engine's tick has run (this slot comes after it).
    std::vector<int64_t> ticks;
    QObject::connect(&engine.TimerShiJian, &QTimer::timeout, [&] { ticks.push_back(OnsetRecorder::wallNs()); });
    std::thread staller;
    if (server > 0)
        staller = std::thread([&] {
            sleepUntilNs(stallStart);
            ::kill(server, SIGSTOP);
            sleepUntilNs(stallEnd);
            ::kill(server, SIGCONT);
        });
    const double rssBeforeEngine = rssMb();
    engine.start();
    const int64_t end = (server > 0 ? afterDue.back() : busyDue.back()) + 2000000000LL;
    runEventsUntilNs(end);
    if (staller.joinable())
        staller.join();

    rec.stop();
    std::printf("\nring onset, scheduled second -> first sound at the null sink's monitor\n");
    const Onsets ref = onsets(rec, paplayDue, "paplay at the second  ");
    const Onsets idle = onsets(rec, idleDue, "engine, opened ahead  ");
    const Onsets busy = onsets(rec, busyDue, "engine, player busy   ");
    std::vector<double> returned = playReturned;
    const Stats ret = stats(returned);
    std::printf("\n%-34s %8s %8s %8s\n", "", "median", "worst", "missing");
    auto row = [](const char *name, const Onsets &s, size_t n) {
        std::printf("%-34s %6.1fms %6.1fms %5d/%zu\n", name, s.median, s.worst, s.missing, n);
    };
    row("paplay started at the second", ref, paplayDue.size());
    row("ring engine, file opened ahead", idle, idleDue.size());
    row("ring engine, player still busy", busy, busyDue.size());
    std::printf("%-34s %6.1fms %6.1fms   (%zu bells; in-process)\n", "engine: rang() (its tick) after",
                ret.median, ret.worst, returned.size());
    std::vector<double> early = earlyReturned;
    const Stats er = stats(early);
    std::printf("%-34s %6.1fms %6.1fms   (%zu bells started early; in-process)\n",
                "engine: early play() returned at", er.median, er.worst, earlyReturned.size());
    if (server > 0) {
        auto longestGap = [&](int64_t from, int64_t until) {
            double gap = 0;
            for (size_t i = 1; i < ticks.size(); ++i)
                if (ticks[i] > from && ticks[i - 1] < until)
                    gap = std::max(gap, double(ticks[i] - ticks[i - 1]) / 1e9);
            return gap;
        };
        std::printf("\nstalled server: SIGSTOP 3 s before a bell, SIGCONT 6 s later\n");
        std::printf("longest gap between two clock ticks: %.3f s during the stall, %.3f s before it\n",
                    longestGap(stallStart, stallEnd + 1000000000LL), longestGap(start, stallStart));
        auto outcomeOf = [&](int64_t due) {
            for (const auto &[when, rang] : outcomes)
                if (when > due - 500000000LL && when < due + 4000000000LL)
                    return QStringLiteral("%1 %2 ms after its second")
                        .arg(rang ? "rang" : "failed").arg(double(when - due) / 1e6, 0, 'f', 0);
            return QStringLiteral("neither rang nor failed");
        };
        for (int64_t due : stallDue) {
            // Any sound from its second until the first bell after the return.
            const auto late = onsetIn(rec, due - 200000000LL, afterDue.front() - 200000000LL);
            std::printf("bell due in the stall: %s; sound heard: %s\n", qPrintable(outcomeOf(due)),
                        late ? qPrintable(QStringLiteral("%1 ms after its second").arg(double(*late - due) / 1e6, 0, 'f', 0))
                             : "none");
        }
        for (int64_t due : afterDue)
            std::printf("bell after the return, +%lld s: %s\n", (long long)((due - stallEnd) / 1000000000LL),
                        qPrintable(outcomeOf(due)));
        const Onsets after = onsets(rec, afterDue, "engine, server back   ");
        row("ring engine, after the stall", after, afterDue.size());
    } else {
        std::printf("\nno PulseAudio pid (BENCH_PULSE_PID): the stalled-server run is left out\n");
    }
    std::fflush(stdout);
    // Idle in running mode: a tick and a blink a second, nothing to ring.
    const double cpu0 = cpuSeconds();
    const int64_t idle0 = OnsetRecorder::wallNs();
    runEventsUntilNs(idle0 + 10000000000LL);
    const double idleCpu = (cpuSeconds() - cpu0) / (double(OnsetRecorder::wallNs() - idle0) / 1e9);
    const double rss = rssMb();
    player.close();
    const double rssClosed = rssMb();

    std::printf("\nidle in running mode: CPU %.2f %% of one core, resident memory %.1f MB\n",
                idleCpu * 100.0, rss);
    std::printf("  (resident at start %.1f MB, before the first bell %.1f MB; with the recorder's "
                "library and buffers), after the player closed its file %.1f MB\n",
                rssStart, rssBeforeEngine, rssClosed);
    std::printf("messages shown: %d, bells rung: %zu of %zu\n", messages.count,
                std::count_if(outcomes.begin(), outcomes.end(), [](const auto &o) { return o.second; }),
                size_t(bells + 6) + stallDue.size() + afterDue.size());
    return 0;
}
