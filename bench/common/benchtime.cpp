#include "benchtime.h"

#include <algorithm>
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

} // namespace bench
