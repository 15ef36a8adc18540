// Trigger → sound of the emergency broadcast, in each of two local zones:
// `daling --emergency` (and the small `daling-emergency`) started as its own
// process against the program's channel (the program runs here, with its
// real players), and beside it,
// from the same instant, `paplay` of the alarm tone on a third sink. Also
// the button's path (start() in the program) to sound. Median and worst of
// the runs; each run is ended with `daling --emergency-stop`. Given
// dalingd, the same commands against dalingd as its own process: running
// before the command, and not running (the command starts it; each run's
// engine is ended after it).
#include "emergencybroadcast.h"
#include "engineapi.h"
#include "inprocessengine.h"
#include "enginefinder.h"
#include "instance.h"
#include "mpvplayer.h"
#include "onsetrecorder.h"
#include "tformmain.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

// Nobody answers boxes here: each is printed and gets its default.
struct PrintedMessages : Messages {
    void plain(const QString &t) override { std::fprintf(stderr, "box: %s\n", qPrintable(t)); }
    void typedOk(Kind, const QString &t) override { plain(t); }
    Answer yesNo(Kind, const QString &t) override { plain(t); return Answer::Yes; }
    void generalError(const QString &t) override { plain(t); }
    Answer okCancel(const QString &, const QString &t) override { plain(t); return Answer::Ok; }
};
struct NoDialogs : FileDialogs {
    std::optional<QString> openFile(const QString &) override { return std::nullopt; }
    QStringList openFiles() override { return {}; }
    std::optional<QString> saveFile(const QString &) override { return std::nullopt; }
};

struct Figures {
    std::vector<double> ms;
    void add(std::optional<int64_t> onset, int64_t t0) { ms.push_back(onset ? (*onset - t0) / 1e6 : -1); }
    QString text() const
    {
        std::vector<double> v;
        for (double x : ms)
            if (x >= 0)
                v.push_back(x);
        if (v.empty())
            return QStringLiteral("no sound");
        std::sort(v.begin(), v.end());
        return QStringLiteral("median %1 ms, worst %2 ms (%3 of %4 heard)")
            .arg(v[v.size() / 2], 0, 'f', 1).arg(v.back(), 0, 'f', 1).arg(v.size()).arg(ms.size());
    }
};

// Runs the event loop (the program's channel and players need it) until
// the process has ended; QTest::qWaitFor would sleep 10 ms between its looks.
bool waitFor(QProcess &p)
{
    if (p.state() == QProcess::NotRunning)
        return true;
    QEventLoop loop;
    QObject::connect(&p, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&p, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    return p.state() == QProcess::NotRunning;
}
// The same until cond() holds.
void waitUntil(const std::function<bool()> &cond, int timeoutMs = 3000)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (cond())
            loop.quit();
    });
    poll.start(1);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
}

// A home with data/ whose store has the two zones.
bool makeHome(const QString &homePath)
{
    QDir().mkpath(homePath + "data");
    QDir().mkpath(homePath + "音乐");
    BellStore store;
    if (!store.open(homePath + "data/dbDaLing.db").isEmpty())
        return false;
    ZoneStore zones(store);
    zones.add({0, "甲", "pulse/zone_a", 0});
    zones.add({0, "乙", "pulse/zone_b", 0});
    return true;
}

// The command linked (or copied) into a home, where it finds data/.
QString place(const QString &homePath, const QString &exe)
{
    const QString to = homePath + QFileInfo(exe).fileName();
    if (::link(QFile::encodeName(exe).constData(), QFile::encodeName(to).constData()) != 0)
        QFile::copy(exe, to);
    return to;
}

pid_t holderOf(const QString &homePath)
{
    std::string why;
    const auto h = enginefinder::holder((homePath + "data/daling.lock").toStdString(), &why);
    return h ? h->pid : 0;
}

// Ends the engine that holds the home's folder and waits until it has gone.
void endEngine(const QString &homePath)
{
    if (const pid_t pid = holderOf(homePath); pid > 0) {
        ::kill(pid, SIGTERM);
        waitUntil([&] { return holderOf(homePath) == 0; }, 10000);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_emergency <daling> [runs] [daling-emergency] [dalingd]\n");
        return 2;
    }
    const QString daling = QString::fromLocal8Bit(argv[1]);
    const int runs = argc > 2 ? std::atoi(argv[2]) : 10;
    const QString alone = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString(); // daling-emergency
    const QString dalingd = argc > 4 ? QString::fromLocal8Bit(argv[4]) : QString();
    QTemporaryDir homeDir, runtime;
    const QString homePath = homeDir.path() + u'/';
    if (!makeHome(homePath))
        return 1;
    std::vector<std::unique_ptr<OnsetRecorder>> recs;
    for (const char *sink : {"zone_a", "zone_b", "ref"}) {
        OnsetRecorder::Options o;
        o.device = std::string(sink) + ".monitor";
        recs.push_back(std::make_unique<OnsetRecorder>(o));
        std::string error;
        if (!recs.back()->start(&error)) {
            std::fprintf(stderr, "recorder: %s\n", error.c_str());
            return 1;
        }
    }
    SystemClock clock;
    PrintedMessages messages;
    NoDialogs dialogs;
    MainContext c;
    c.paths = AppPaths(homePath);
    c.clock = &clock;
    c.messages = &messages;
    c.dialogs = &dialogs;
    c.makePlayer = [](const QString &device) { return std::make_unique<MpvPlayer>(MpvPlayer::Output::System, device); };
    c.autostartFolder = homePath + "autostart";
    Instance instance(homePath + "data", runtime.filePath("daling.sock"));
    if (instance.claim() != Instance::Claim::First)
        return 1;
    // The window's engine in this process, on the channel of the folder's lock.
    c.makeHost = [&instance](const MainContext &ctx) -> std::unique_ptr<EngineHost> {
        return std::make_unique<InProcessEngine>(ctx, instance.server(), instance.socketPath());
    };
    TFormMain form(c);
    EmergencyBroadcast &e = form.app().core().emergency();
    const QString tone = e.alarmTonePath();

    // The commands find the engine through data/ beside themselves: placed
    // in the home, linked (or copied where the file systems differ).
    // The command through the program's own executable, and alone.
    struct Trial {
        QString program;
        QStringList start, stop;
        Figures a, b, paplay, answer;
        QString label;
    };
    std::vector<Trial> trials{{place(homePath, daling), {"--emergency"}, {"--emergency-stop"}, {}, {}, {}, {}, "window's engine"}};
    if (!alone.isEmpty())
        trials.push_back({place(homePath, alone), {}, {"--stop"}, {}, {}, {}, {}, "window's engine"});
    // One trial: the command and paplay from one instant, the onsets, the end.
    const auto trial = [&](Trial &t) {
        for (auto &r : recs)
            r->waitQuiet(200, 5000);
        QProcess cmd, ref;
        const int64_t t0 = OnsetRecorder::wallNs();
        cmd.start(t.program, t.start);
        ref.start("paplay", {"--device=ref", tone});
        waitFor(cmd);
        t.answer.ms.push_back((OnsetRecorder::wallNs() - t0) / 1e6);
        t.a.add(recs[0]->waitOnset(t0, 5000), t0);
        t.b.add(recs[1]->waitOnset(t0, 5000), t0);
        t.paplay.add(recs[2]->waitOnset(t0, 5000), t0);
        QTest::qWait(300);
        QProcess stop;
        stop.start(t.program, t.stop);
        waitFor(stop);
        ref.kill();
        waitFor(ref);
    };
    Figures btnA, btnB;
    for (int i = 0; i < runs; ++i) {
        for (Trial &t : trials)
            trial(t);
        // The button's path: the program's own start, no process.
        for (auto &r : recs)
            r->waitQuiet(200, 5000);
        const int64_t t1 = OnsetRecorder::wallNs();
        e.start({QString(), {}, EmergencyBroadcast::Origin::Button});
        // The players report through the event loop; the recorder's wait does not run it.
        waitUntil([&] { return e.sounding().size() == 2; });
        btnA.add(recs[0]->waitOnset(t1, 3000), t1);
        btnB.add(recs[1]->waitOnset(t1, 3000), t1);
        QTest::qWait(300);
        e.stop(EmergencyBroadcast::Origin::Button);
    }
    // dalingd as its own process, in a home of its own: running before the
    // command, then not running (each command starts it; ended after each run).
    if (!dalingd.isEmpty()) {
        QTemporaryDir otherDir;
        const QString other = otherDir.path() + u'/';
        if (!makeHome(other))
            return 1;
        place(other, dalingd);
        std::vector<Trial> more;
        for (const char *label : {"dalingd running", "no engine running"}) {
            more.push_back({place(other, daling), {"--emergency"}, {"--emergency-stop"}, {}, {}, {}, {}, label});
            if (!alone.isEmpty())
                more.push_back({place(other, alone), {}, {"--stop"}, {}, {}, {}, {}, label});
        }
        QProcess engine;
        engine.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        engine.start(other + "dalingd", {});
        // Ready once it answers on its channel with its emergency made.
        waitUntil([&] {
            QProcess probe;
            probe.start(more[0].program, {"--emergency-stop"});
            waitFor(probe);
            return probe.exitCode() == 0;
        }, 30000);
        for (int i = 0; i < runs; ++i)
            for (Trial &t : more)
                if (t.label == "dalingd running")
                    trial(t);
        engine.terminate();
        waitFor(engine);
        for (int i = 0; i < runs; ++i)
            for (Trial &t : more)
                if (t.label != "dalingd running") {
                    trial(t);
                    endEngine(other);
                }
        trials.insert(trials.end(), more.begin(), more.end());
    }
    std::printf("emergency, %d runs, two local zones\n", runs);
    for (const Trial &t : trials) {
        const QString name = QFileInfo(t.program).fileName() + u' ' + t.start.join(u' ') + " (" + t.label + ")";
        std::printf("  %s → sound, zone 甲: %s\n", qPrintable(name), qPrintable(t.a.text()));
        std::printf("  %s → sound, zone 乙: %s\n", qPrintable(name), qPrintable(t.b.text()));
        std::printf("  %s, its answer (exit): %s\n", qPrintable(name), qPrintable(t.answer.text()));
        std::printf("  paplay from the same instant: %s\n", qPrintable(t.paplay.text()));
    }
    std::printf("  button path (start()) → sound, 甲: %s\n", qPrintable(btnA.text()));
    std::printf("  button path (start()) → sound, 乙: %s\n", qPrintable(btnB.text()));
    return 0;
}
