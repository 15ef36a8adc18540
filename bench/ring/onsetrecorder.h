#pragma once
// Records a PulseAudio source (a null sink's monitor) on a thread of its own
// and ties its samples to the wall clock, so that the moment a sound began
// can be set beside the moment it was due. Written here because no packaged
// tool reports capture times; libpulse-simple does the recording.
//
// Each read is stamped with the wall clock minus the stream's latency; a
// single read's stamp jitters with scheduling, so a sample's time is taken
// from the median stamp offset of the reads around it.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class OnsetRecorder {
public:
    static constexpr int kRate = 48000;

    ~OnsetRecorder() { stop(); }
    // source: a PulseAudio source name, e.g. "test_null.monitor" or
    // "@DEFAULT_MONITOR@". Returns an error text, empty on success.
    std::string start(const std::string &source);
    void stop();
    // The wall-clock time (ns since the epoch) of the first sample in
    // [fromNs, untilNs) whose magnitude exceeds threshold.
    std::optional<int64_t> onset(int64_t fromNs, int64_t untilNs, int threshold) const;
    // Drops what was recorded (after the figures are taken).
    void clear();

    static int64_t nowNs();

private:
    struct Stamp {
        int64_t end;  // index one past the read's last sample
        int64_t ns;   // wall-clock time of that sample at the output
    };
    void run();
    std::optional<int64_t> offsetAround(int64_t ns) const; // time of sample 0

    void *m_stream = nullptr; // pa_simple
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    mutable std::mutex m_mutex;
    std::vector<int16_t> m_samples;
    std::vector<Stamp> m_stamps;
};
