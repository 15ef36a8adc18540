#include "onsetrecorder.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>
#include <cstdlib>
#include <time.h>

namespace {
constexpr int64_t kPerSampleNs = 1000000000LL / OnsetRecorder::kRate;
constexpr int kBlock = 2 * OnsetRecorder::kRate / 1000; // 2 ms reads: fine-grained stamps
}

int64_t OnsetRecorder::nowNs()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return int64_t(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

std::string OnsetRecorder::start(const std::string &source)
{
    pa_sample_spec ss{PA_SAMPLE_S16LE, kRate, 1};
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = attr.prebuf = attr.minreq = uint32_t(-1);
    attr.fragsize = kBlock * 2;
    int err = 0;
    m_stream = pa_simple_new(nullptr, "bench_ring", PA_STREAM_RECORD, source.c_str(), "onset",
                             &ss, nullptr, &attr, &err);
    if (!m_stream)
        return pa_strerror(err);
    m_running = true;
    m_thread = std::thread([this] { run(); });
    return {};
}

void OnsetRecorder::run()
{
    auto *s = static_cast<pa_simple *>(m_stream);
    int16_t buf[kBlock];
    while (m_running) {
        int err = 0;
        if (pa_simple_read(s, buf, sizeof buf, &err) < 0)
            break;
        const int64_t now = nowNs();
        const pa_usec_t latency = pa_simple_get_latency(s, &err);
        std::lock_guard lock(m_mutex);
        m_samples.insert(m_samples.end(), buf, buf + kBlock);
        // The last sample read left the output `latency` ago.
        m_stamps.push_back({int64_t(m_samples.size()), now - int64_t(latency) * 1000});
    }
}

void OnsetRecorder::stop()
{
    if (!m_stream)
        return;
    m_running = false;
    if (m_thread.joinable())
        m_thread.join();
    pa_simple_free(static_cast<pa_simple *>(m_stream));
    m_stream = nullptr;
}

void OnsetRecorder::clear()
{
    std::lock_guard lock(m_mutex);
    std::vector<int16_t>().swap(m_samples);
    std::vector<Stamp>().swap(m_stamps);
}

std::optional<int64_t> OnsetRecorder::offsetAround(int64_t ns) const
{
    std::vector<int64_t> offsets;
    for (const Stamp &st : m_stamps)
        if (st.ns > ns - 5000000000LL && st.ns < ns + 5000000000LL)
            offsets.push_back(st.ns - (st.end - 1) * kPerSampleNs);
    if (offsets.empty())
        return std::nullopt;
    std::nth_element(offsets.begin(), offsets.begin() + offsets.size() / 2, offsets.end());
    return offsets[offsets.size() / 2];
}

std::optional<int64_t> OnsetRecorder::onset(int64_t fromNs, int64_t untilNs, int threshold) const
{
    std::lock_guard lock(m_mutex);
    const auto offset = offsetAround(fromNs);
    if (!offset)
        return std::nullopt;
    const int64_t first = std::max<int64_t>(0, (fromNs - *offset) / kPerSampleNs);
    const int64_t last = std::min<int64_t>(int64_t(m_samples.size()), (untilNs - *offset) / kPerSampleNs);
    for (int64_t i = first; i < last; ++i)
        if (std::abs(int(m_samples[size_t(i)])) > threshold)
            return *offset + i * kPerSampleNs;
    return std::nullopt;
}
