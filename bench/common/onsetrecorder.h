#pragma once
// Records a PulseAudio source (by default the monitor of the test script's
// null sink "test_null") in short reads on its own thread, and logs the
// wall-clock time and the running frame count after each read, so that the
// first sound after a given instant can be placed in wall-clock time.
//
// Written by hand on the PulseAudio simple API because parecord gives no
// timestamps. Plain C++ (no Qt), for every benchmark that measures an onset:
// the player's Play-to-sound time, and a bell's onset against the
// wall-clock second.
//
// How a frame is placed: frame f arrived in the read that returned at wall
// time T with F frames recorded in all; it is timed T - (F - f) / rate. A
// read is 5 ms, so the placement is within the read size plus the time the
// server took to hand the data over. The null sink renders a little ahead of
// real time (its latency follows the recorder's, 5 ms here), so a placement
// may come a few milliseconds early; comparisons in one run (for instance
// against paplay) share that offset.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class OnsetRecorder {
public:
    struct Options {
        std::string device = "test_null.monitor";
        std::string server;     // empty: the client's default (PULSE_SERVER)
        uint32_t rate = 44100;
        uint8_t channels = 2;   // the null sink's own layout: no remixing
        int readMs = 5;
        int threshold = 600;    // |sample| (16-bit scale) that counts as sound
    };
    struct Read {
        int64_t wallNs;  // CLOCK_REALTIME right after the read returned
        int64_t frames;  // frames recorded so far, this read included
    };

    OnsetRecorder();
    explicit OnsetRecorder(Options options);
    ~OnsetRecorder();
    OnsetRecorder(const OnsetRecorder &) = delete;
    OnsetRecorder &operator=(const OnsetRecorder &) = delete;

    // Connects and starts recording. Returns once data arrives at a steady
    // pace: an idle null sink renders up to two seconds ahead, and a new
    // recorder hears nothing until real time has caught up with that.
    bool start(std::string *error = nullptr);
    void stop();
    bool running() const { return m_running; }

    static int64_t wallNs(); // CLOCK_REALTIME, nanoseconds

    // Wall time of the first loud frame placed at or after `sinceNs`;
    // waits for it up to `timeoutMs`.
    std::optional<int64_t> waitOnset(int64_t sinceNs, int timeoutMs);
    // Waits until `quietMs` of silence have been recorded after the last
    // loud frame (so that runs do not overlap).
    bool waitQuiet(int quietMs, int timeoutMs);
    // The wall time at which frame `frame` is placed (see above), or
    // nothing if it was not recorded yet.
    std::optional<int64_t> frameWallNs(int64_t frame) const;
    std::vector<Read> reads() const;
    int64_t framesRecorded() const;

    // The sounds heard so far, placed in wall time: [start, end) of each
    // loud stretch (gaps under 20 ms do not split one), and its peak.
    struct Sound {
        int64_t startNs;
        int64_t endNs;
        int peak;
    };
    std::vector<Sound> sounds() const;

private:
    void loop();
    std::optional<int64_t> placeLocked(int64_t frame) const;

    Options m_opt;
    void *m_stream = nullptr; // pa_simple
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_failed{false};
    mutable std::mutex m_mutex;
    std::vector<Read> m_reads;
    std::vector<int64_t> m_loudFrames; // first frame of each loud run
    std::vector<int64_t> m_loudEnds;   // one past its last frame
    std::vector<int> m_loudPeaks;
    int64_t m_frames = 0;
    int64_t m_lastLoud = -1;
};
