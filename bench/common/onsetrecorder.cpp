#include "onsetrecorder.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>

OnsetRecorder::OnsetRecorder() : OnsetRecorder(Options{}) {}
OnsetRecorder::OnsetRecorder(Options options) : m_opt(std::move(options)) {}

OnsetRecorder::~OnsetRecorder() { stop(); }

int64_t OnsetRecorder::wallNs()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

bool OnsetRecorder::start(std::string *error)
{
    if (m_running)
        return true;
    pa_sample_spec ss;
    ss.format = PA_SAMPLE_S16LE;
    ss.rate = m_opt.rate;
    ss.channels = m_opt.channels;
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(-1);
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(-1);
    attr.fragsize = uint32_t(pa_usec_to_bytes(pa_usec_t(m_opt.readMs) * 1000, &ss));
    int err = 0;
    pa_simple *s = pa_simple_new(m_opt.server.empty() ? nullptr : m_opt.server.c_str(), "daling-bench", PA_STREAM_RECORD, m_opt.device.c_str(),
                                 "onset recorder", &ss, nullptr, &attr, &err);
    if (!s) {
        if (error)
            *error = std::string("cannot record ") + m_opt.device + ": " + pa_strerror(err);
        return false;
    }
    m_stream = s;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reads.clear();
        m_loudFrames.clear();
        m_loudEnds.clear();
        m_loudPeaks.clear();
        m_frames = 0;
        m_lastLoud = -1;
    }
    m_failed = false;
    m_running = true;
    m_thread = std::thread([this] { loop(); });

    // Wait for a steady pace: the last 300 ms of audio took about 300 ms to
    // come in.
    const int64_t deadline = wallNs() + 6'000'000'000;
    const int64_t window = int64_t(m_opt.rate) * 3 / 10;
    while (wallNs() < deadline && !m_failed) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_reads.size() < 2 || m_frames < window)
            continue;
        const Read &last = m_reads.back();
        auto it = std::lower_bound(m_reads.begin(), m_reads.end(), last.frames - window,
                                   [](const Read &r, int64_t f) { return r.frames < f; });
        if (it == m_reads.end() || it == m_reads.begin())
            continue;
        const int64_t wallSpan = last.wallNs - it->wallNs;
        const int64_t audioSpan = (last.frames - it->frames) * 1'000'000'000 / m_opt.rate;
        if (wallSpan >= audioSpan * 9 / 10)
            return true;
    }
    if (error)
        *error = m_failed ? "the recording stream failed" : "the recording never reached a steady pace";
    stop();
    return false;
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

void OnsetRecorder::loop()
{
    auto *s = static_cast<pa_simple *>(m_stream);
    const int64_t readFrames = std::max<int64_t>(1, int64_t(m_opt.rate) * m_opt.readMs / 1000);
    std::vector<int16_t> buf(size_t(readFrames) * m_opt.channels);
    // Gaps shorter than this inside a sound (a sine's zero crossings, a
    // quiet moment in a bell) do not start a new sound.
    const int64_t gap = int64_t(m_opt.rate) / 50;
    while (m_running) {
        int err = 0;
        if (pa_simple_read(s, buf.data(), buf.size() * sizeof(int16_t), &err) < 0) {
            m_failed = true;
            break;
        }
        const int64_t now = wallNs();
        std::lock_guard<std::mutex> lock(m_mutex);
        for (int64_t i = 0; i < readFrames; ++i) {
            int peak = 0;
            for (int c = 0; c < m_opt.channels; ++c)
                peak = std::max(peak, std::abs(int(buf[size_t(i * m_opt.channels + c)])));
            if (peak <= m_opt.threshold)
                continue;
            const int64_t frame = m_frames + i;
            if (m_lastLoud < 0 || frame - m_lastLoud > gap) {
                m_loudFrames.push_back(frame);
                m_loudEnds.push_back(frame + 1);
                m_loudPeaks.push_back(0);
            }
            m_loudEnds.back() = frame + 1;
            m_loudPeaks.back() = std::max(m_loudPeaks.back(), peak);
            m_lastLoud = frame;
        }
        m_frames += readFrames;
        m_reads.push_back({now, m_frames});
    }
}

std::optional<int64_t> OnsetRecorder::placeLocked(int64_t frame) const
{
    auto it = std::upper_bound(m_reads.begin(), m_reads.end(), frame,
                               [](int64_t f, const Read &r) { return f < r.frames; });
    if (it == m_reads.end())
        return std::nullopt;
    return it->wallNs - (it->frames - frame) * 1'000'000'000 / m_opt.rate;
}

std::optional<int64_t> OnsetRecorder::frameWallNs(int64_t frame) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return placeLocked(frame);
}

std::optional<int64_t> OnsetRecorder::waitOnset(int64_t sinceNs, int timeoutMs)
{
    // A sound may be placed a little before the instant it was asked for
    // (the sink renders ahead); one that began well before belongs to an
    // earlier run.
    const int64_t earliest = sinceNs - 50'000'000;
    const int64_t deadline = wallNs() + int64_t(timeoutMs) * 1'000'000;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (size_t i = 0; i < m_loudFrames.size(); ++i) {
                auto at = placeLocked(m_loudFrames[i]);
                if (at && *at >= earliest)
                    return at;
            }
        }
        if (wallNs() > deadline || m_failed)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

bool OnsetRecorder::waitQuiet(int quietMs, int timeoutMs)
{
    const int64_t need = int64_t(m_opt.rate) * quietMs / 1000;
    const int64_t deadline = wallNs() + int64_t(timeoutMs) * 1'000'000;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            const int64_t since = m_lastLoud < 0 ? m_frames : m_frames - m_lastLoud - 1;
            if (since >= need)
                return true;
        }
        if (wallNs() > deadline || m_failed)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::vector<OnsetRecorder::Read> OnsetRecorder::reads() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_reads;
}

int64_t OnsetRecorder::framesRecorded() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

std::vector<OnsetRecorder::Sound> OnsetRecorder::sounds() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Sound> out;
    for (size_t i = 0; i < m_loudFrames.size(); ++i) {
        auto start = placeLocked(m_loudFrames[i]);
        auto end = placeLocked(m_loudEnds[i] - 1);
        if (start && end)
            out.push_back({*start, *end + 1'000'000'000 / m_opt.rate, m_loudPeaks[i]});
    }
    return out;
}
