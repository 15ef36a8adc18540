#pragma once
// A virtual microphone for the live announcement's suites and bench: a
// null sink whose monitor is the input, fed by a thread of our own with a
// steady tone or with clicks; and the zones' null sinks, heard through
// their monitors (OnsetRecorder).
#include <pulse/simple.h>

#include <QProcess>
#include <QString>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

// Loads a null sink on the server PULSE_SERVER points at; false when refused.
inline bool loadNullSink(const QString &name)
{
    QProcess p;
    p.start(QStringLiteral("pactl"), {QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                                      QStringLiteral("sink_name=") + name});
    return p.waitForFinished(10000) && p.exitCode() == 0;
}

// `pactl list short <what>` as lines.
inline QStringList pactlShort(const QString &what)
{
    QProcess p;
    p.start(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("short"), what});
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

class MicFeeder {
public:
    static constexpr int kRate = 48000;
    enum class Kind { Tone, Clicks };
    // Clicks: one 1 ms square pulse every clickEveryMs.
    MicFeeder(std::string sink, Kind kind, int clickEveryMs = 500)
        : m_sink(std::move(sink)), m_kind(kind), m_every(clickEveryMs) {}
    ~MicFeeder() { stop(); }
    bool start()
    {
        pa_sample_spec format{PA_SAMPLE_S16LE, uint32_t(kRate), 1};
        pa_buffer_attr attr{uint32_t(-1), uint32_t(kRate * 2 * 10 / 1000), uint32_t(-1), uint32_t(-1), uint32_t(-1)};
        int err = 0;
        m_s = pa_simple_new(nullptr, "mic feeder", PA_STREAM_PLAYBACK, m_sink.c_str(), "feed", &format, nullptr, &attr,
                            &err);
        if (!m_s)
            return false;
        m_on = true;
        m_thread = std::thread([this] { loop(); });
        return true;
    }
    void stop()
    {
        m_on = false;
        if (m_thread.joinable())
            m_thread.join();
        if (m_s)
            pa_simple_free(m_s);
        m_s = nullptr;
    }

private:
    void loop()
    {
        std::vector<int16_t> buf(kRate * 5 / 1000);
        int64_t n = 0;
        while (m_on) {
            for (int16_t &x : buf) {
                if (m_kind == Kind::Tone)
                    x = int16_t(12000 * std::sin(2 * M_PI * 440.0 * double(n) / kRate));
                else
                    x = (n % (int64_t(kRate) * m_every / 1000)) < kRate / 1000 ? 20000 : 0;
                ++n;
            }
            int err = 0;
            if (pa_simple_write(m_s, buf.data(), buf.size() * sizeof(int16_t), &err) < 0)
                return;
        }
    }
    std::string m_sink;
    Kind m_kind;
    int m_every;
    pa_simple *m_s = nullptr;
    std::atomic<bool> m_on{false};
    std::thread m_thread;
};
