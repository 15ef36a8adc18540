// How fast the player opens a bell and makes it sound.
//
// For an mp3 and a wav bell (generated here with ffmpeg), over --runs runs:
//   open          time spent in open()
//   open+play     open(), then play(): time from play() to the first sound
//   pre-opened    a player opened earlier is only told to play(): time from
//                 play() to the first sound
//   play() call   how long play() itself blocks
//   paplay        reference: paplay of the same wav started at a known
//                 instant, time from the start to the first sound
// The first sound is found on the monitor of the PulseAudio null sink
// "test_null" by OnsetRecorder (5 ms reads, wall clock logged per read).
// Needs a PulseAudio server with that sink, e.g. tools/pulse-null.sh.
#include "mpvplayer.h"
#include "onsetrecorder.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char **environ;

namespace {

double ms(int64_t ns) { return double(ns) / 1e6; }

struct Series {
    std::vector<double> values;
    int failures = 0;
    void add(double v) { values.push_back(v); }
    std::string text() const
    {
        if (values.empty())
            return "no data";
        std::vector<double> v = values;
        std::sort(v.begin(), v.end());
        const double median = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
        char buf[160];
        std::snprintf(buf, sizeof buf, "median %7.2f ms   worst %7.2f ms   best %7.2f ms   (n=%zu%s)", median,
                      v.back(), v.front(), v.size(), failures ? ", some runs heard nothing" : "");
        return buf;
    }
};

bool makeBell(const QString &path)
{
    QProcess p;
    p.start("ffmpeg", {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                       "sine=frequency=880:duration=0.6:sample_rate=44100", path});
    return p.waitForFinished(60000) && p.exitCode() == 0;
}

void settle(OnsetRecorder &rec)
{
    rec.waitQuiet(250, 5000);
}

} // namespace

int main(int argc, char **argv)
{
    int runs = 20;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--runs")
            runs = std::max(1, std::atoi(argv[i + 1]));

    // The player plays to the default sink; make it the null sink.
    setenv("PULSE_SINK", "test_null", 1);

    OnsetRecorder rec;
    std::string err;
    if (!rec.start(&err)) {
        std::fprintf(stderr, "bench_audio: %s (is a PulseAudio server with the sink test_null running?)\n",
                     err.c_str());
        return 1;
    }

    QTemporaryDir dir;
    const QString wav = dir.filePath("bell.wav"), mp3 = dir.filePath("bell.mp3");
    if (!makeBell(wav) || !makeBell(mp3)) {
        std::fprintf(stderr, "bench_audio: ffmpeg could not make the bells\n");
        return 1;
    }

    std::printf("bench_audio: %d runs each; first sound found on test_null.monitor\n\n", runs);
    std::map<std::string, Series> results;
    const std::vector<std::pair<std::string, QString>> bells = {{"mp3", mp3}, {"wav", wav}};

    MpvPlayer player(MpvPlayer::Output::System); // the one the ring engine would use
    MpvPlayer warm(MpvPlayer::Output::System);
    for (int run = 0; run < runs; ++run) {
        for (const auto &[kind, file] : bells) {
            // open, then play at once (the ring engine's way).
            settle(rec);
            player.setFileName(file);
            int64_t t0 = OnsetRecorder::wallNs();
            player.open();
            int64_t t1 = OnsetRecorder::wallNs();
            player.play();
            int64_t t2 = OnsetRecorder::wallNs();
            results[kind + " open"].add(ms(t1 - t0));
            results[kind + " play() call"].add(ms(t2 - t1));
            if (auto at = rec.waitOnset(t1, 3000))
                results[kind + " open+play: play to sound"].add(ms(*at - t1));
            else
                results[kind + " open+play: play to sound"].failures++;
            rec.waitQuiet(50, 3000);
            player.stop();

            // A player opened in advance is only told to play.
            warm.setFileName(file);
            warm.open();
            settle(rec);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            t1 = OnsetRecorder::wallNs();
            warm.play();
            if (auto at = rec.waitOnset(t1, 3000))
                results[kind + " pre-opened: play to sound"].add(ms(*at - t1));
            else
                results[kind + " pre-opened: play to sound"].failures++;
            rec.waitQuiet(50, 3000);
            warm.stop();
        }

        // Reference: paplay of the wav, started at a known instant.
        settle(rec);
        const QByteArray wavPath = QFile::encodeName(wav);
        const char *args[] = {"paplay", "-d", "test_null", wavPath.constData(), nullptr};
        pid_t pid = 0;
        const int64_t t0 = OnsetRecorder::wallNs();
        if (posix_spawnp(&pid, "paplay", nullptr, nullptr, const_cast<char **>(args), environ) == 0) {
            if (auto at = rec.waitOnset(t0, 3000))
                results["wav paplay: start to sound"].add(ms(*at - t0));
            else
                results["wav paplay: start to sound"].failures++;
            waitpid(pid, nullptr, 0);
        }
    }

    // The first open of a new player (its libmpv handle is made in advance,
    // in the constructor, as the windows do).
    for (const auto &[kind, file] : bells) {
        for (int run = 0; run < std::min(runs, 5); ++run) {
            MpvPlayer fresh(MpvPlayer::Output::System);
            fresh.setFileName(file);
            const int64_t t0 = OnsetRecorder::wallNs();
            fresh.open();
            results[kind + " first open of a new player"].add(ms(OnsetRecorder::wallNs() - t0));
        }
    }

    for (const char *name :
         {"mp3 open", "wav open", "mp3 first open of a new player", "wav first open of a new player",
          "mp3 play() call", "wav play() call", "mp3 open+play: play to sound", "wav open+play: play to sound",
          "mp3 pre-opened: play to sound", "wav pre-opened: play to sound", "wav paplay: start to sound"}) {
        std::printf("%-34s %s\n", name, results[name].text().c_str());
    }
    std::printf("\nTimes to sound are placed from 5 ms reads of the monitor; the null sink renders up to\n"
                "one read ahead, so a placement may be a few ms early (a small negative best time).\n");
    rec.stop();
    return 0;
}
