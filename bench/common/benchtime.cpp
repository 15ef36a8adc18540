#include "benchtime.h"

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <time.h>

namespace bench {

void sleepUntilNs(int64_t ns)
{
    timespec ts{time_t(ns / kSecondNs), long(ns % kSecondNs)};
    while (clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &ts, nullptr) != 0) {
    }
}

int64_t nextSecondNs(int64_t afterNs) { return (afterNs / kSecondNs + 1) * kSecondNs; }

double cpuSeconds()
{
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec)
        + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

std::optional<int64_t> onsetIn(const OnsetRecorder &rec, int64_t fromNs, int64_t untilNs)
{
    for (const OnsetRecorder::Sound &s : rec.sounds())
        if (s.startNs >= fromNs && s.startNs < untilNs)
            return s.startNs;
    return std::nullopt;
}

Stats stats(std::vector<double> v)
{
    Stats s;
    s.n = v.size();
    if (v.empty())
        return s;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    s.median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    s.worst = v.back();
    return s;
}

void Series::print(const char *name) const
{
    if (v.empty()) {
        std::printf("  %-44s no sound (%d)\n", name, missing);
        return;
    }
    std::vector<double> s = v;
    std::sort(s.begin(), s.end());
    std::printf("  %-44s median %6.1f ms  best %6.1f  worst %6.1f  (%zu, %d without sound)\n", name,
                s[s.size() / 2], s.front(), s.back(), s.size(), missing);
}

std::unique_ptr<OnsetRecorder> recorder(const std::string &device, const std::string &server)
{
    OnsetRecorder::Options o;
    o.device = device;
    o.server = server;
    auto r = std::make_unique<OnsetRecorder>(o);
    std::string err;
    if (!r->start(&err)) {
        std::fprintf(stderr, "recording %s on %s: %s\n", device.c_str(),
                     server.empty() ? "the default server" : server.c_str(), err.c_str());
        return nullptr;
    }
    return r;
}

} // namespace bench
