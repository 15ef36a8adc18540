#pragma once
// What the onset benchmarks share: waiting for a wall-clock instant, the
// next whole second, the process's CPU time, the first sound in a window,
// and the median and worst of a run.
#include "onsetrecorder.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <optional>
#include <vector>

namespace bench {

constexpr int64_t kSecondNs = 1000000000LL;

// Sleeps until the CLOCK_REALTIME instant ns (through interruptions).
void sleepUntilNs(int64_t ns);
int64_t nextSecondNs(int64_t afterNs);
// User plus system time of this process, in seconds.
double cpuSeconds();
// The start of the first sound heard in [fromNs, untilNs).
std::optional<int64_t> onsetIn(const OnsetRecorder &rec, int64_t fromNs, int64_t untilNs);

struct Stats {
    double median = 0, worst = 0;
    size_t n = 0;
};
Stats stats(std::vector<double> v);

// The figures of one row, in milliseconds, and how many runs gave no sound.
struct Series {
    std::vector<double> v;
    int missing = 0;
    // "  <name>  median … ms  best …  worst …  (n, m without sound)"
    void print(const char *name) const;
};

// Records the monitor device on server (empty: the default); nullptr, with
// the reason on stderr, when it cannot.
std::unique_ptr<OnsetRecorder> recorder(const std::string &device, const std::string &server = {});

} // namespace bench
