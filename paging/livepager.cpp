#include "livepager.h"

#include "paginglog.h"

#include <QElapsedTimer>
#include <QThread>
#include <pulse/pulseaudio.h>
#include <atomic>
#include <cmath>
#include <functional>

namespace {

constexpr size_t kFrameBytes = sizeof(float);

size_t bytesOf(int ms)
{
    return size_t(LivePager::kRate) * size_t(ms) / 1000 * kFrameBytes;
}

// One connection with its own loop, for the pager and for listing.
struct Connection {
    pa_threaded_mainloop *loop = nullptr;
    pa_context *ctx = nullptr;

    // Locked on success; the reason otherwise (the lock released).
    QString open(const char *name, int timeoutMs)
    {
        loop = pa_threaded_mainloop_new();
        if (!loop)
            return QStringLiteral("无法连接声音服务器");
        pa_proplist *props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "daling");
        ctx = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop), name, props);
        pa_proplist_free(props);
        if (!ctx || pa_context_connect(ctx, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0
            || pa_threaded_mainloop_start(loop) < 0)
            return QStringLiteral("无法连接声音服务器");
        pa_threaded_mainloop_lock(loop);
        const bool ready = waitFor([this] {
            const pa_context_state_t s = pa_context_get_state(ctx);
            return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
        }, timeoutMs);
        if (!ready || pa_context_get_state(ctx) != PA_CONTEXT_READY) {
            pa_threaded_mainloop_unlock(loop);
            return QStringLiteral("声音服务器没有响应");
        }
        return {};
    }
    // Polled with the lock released between looks: the loop's thread needs it.
    bool waitFor(const std::function<bool()> &done, int timeoutMs)
    {
        QElapsedTimer t;
        t.start();
        while (!done()) {
            if (t.elapsed() > timeoutMs)
                return false;
            pa_threaded_mainloop_unlock(loop);
            QThread::usleep(1000);
            pa_threaded_mainloop_lock(loop);
        }
        return true;
    }
    bool finish(pa_operation *op, int timeoutMs)
    {
        if (!op)
            return false;
        const bool done = waitFor([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, timeoutMs);
        pa_operation_unref(op);
        return done;
    }
    // Unlocked.
    void close()
    {
        if (loop)
            pa_threaded_mainloop_stop(loop);
        if (ctx) {
            pa_context_disconnect(ctx);
            pa_context_unref(ctx);
            ctx = nullptr;
        }
        if (loop) {
            pa_threaded_mainloop_free(loop);
            loop = nullptr;
        }
    }
};

QString serverText(pa_context *ctx)
{
    return QString::fromUtf8(pa_strerror(pa_context_errno(ctx)));
}

bool streamSettled(pa_stream *s)
{
    const pa_stream_state_t st = pa_stream_get_state(s);
    return st == PA_STREAM_READY || !PA_STREAM_IS_GOOD(st);
}

} // namespace

struct LivePager::Impl {
    Connection conn;
    pa_stream *rec = nullptr;
    struct Out {
        pa_stream *s = nullptr;
        int index = 0;
        QString label;
    };
    std::vector<Out> outs;
    std::vector<float> chime;
    size_t chimePos = 0;
    float gain = 0; // the voice's, ramped
    float step = 1.0f / float(kRate * kFadeMs / 1000);
    bool fadingOut = false;
    bool faded = false;
    std::vector<float> block;
    std::atomic<bool> lost{false};
    std::atomic<bool> chimeDone{true};
    std::atomic<float> peak{0};
    std::atomic<float> rms{0};
    bool active = false;

    static void onRead(pa_stream *s, size_t, void *self) { static_cast<Impl *>(self)->read(s); }
    static void onRecordState(pa_stream *s, void *self)
    {
        auto *d = static_cast<Impl *>(self);
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s)) && d->active && !d->lost.exchange(true))
            qCWarning(lcPaging) << "the input stopped while paging:" << serverText(pa_stream_get_context(s));
    }

    void read(pa_stream *s)
    {
        while (pa_stream_readable_size(s) > 0) {
            const void *data = nullptr;
            size_t n = 0;
            if (pa_stream_peek(s, &data, &n) < 0 || n == 0)
                return;
            const size_t frames = n / kFrameBytes;
            block.resize(frames);
            if (data)
                std::memcpy(block.data(), data, frames * kFrameBytes);
            else
                std::fill(block.begin(), block.end(), 0.0f); // a hole in the input
            pa_stream_drop(s);
            process();
        }
    }

    void process()
    {
        float p = 0;
        double sum = 0;
        for (float &x : block) {
            const float a = std::fabs(x);
            p = std::max(p, a);
            sum += double(x) * x;
            if (chimePos < chime.size()) {
                x = chime[chimePos++];
                continue;
            }
            gain = fadingOut ? std::max(0.0f, gain - step) : std::min(1.0f, gain + step);
            x *= gain;
        }
        if (chimePos >= chime.size())
            chimeDone = true;
        if (!block.empty())
            rms = float(std::sqrt(sum / double(block.size())));
        float old = peak.load();
        while (p > old && !peak.compare_exchange_weak(old, p)) {
        }
        const size_t bytes = block.size() * kFrameBytes;
        for (const Out &o : outs) {
            // An output that cannot take it now drops it: its delay stays
            // bounded by what it holds (kTargetMs), never grows.
            if (pa_stream_get_state(o.s) == PA_STREAM_READY && pa_stream_writable_size(o.s) >= bytes)
                pa_stream_write(o.s, block.data(), bytes, nullptr, 0, PA_SEEK_RELATIVE);
        }
        if (fadingOut && gain <= 0 && chimePos >= chime.size())
            faded = true;
    }

    void release(pa_stream *&s)
    {
        if (!s)
            return;
        pa_stream_set_read_callback(s, nullptr, nullptr);
        pa_stream_set_state_callback(s, nullptr, nullptr);
        pa_stream_disconnect(s);
        pa_stream_unref(s);
        s = nullptr;
    }
};

LivePager::LivePager() : d(std::make_unique<Impl>()) {}

LivePager::~LivePager()
{
    stop();
}

bool LivePager::active() const
{
    return d->active;
}

bool LivePager::inputLost() const
{
    return d->lost;
}

bool LivePager::chimeDone() const
{
    return d->chimeDone;
}

LivePager::Level LivePager::level()
{
    return {d->peak.exchange(0), d->rms.load()};
}

LivePager::Started LivePager::start(const QString &source, const std::vector<Output> &outputs,
                                    std::vector<float> chime)
{
    stop();
    Started r;
    Connection &c = d->conn;
    if (const QString error = c.open("daling paging", kOpenTimeoutMs); !error.isEmpty()) {
        c.close();
        r.error = error;
        return r;
    }
    // The input chosen may be gone (a microphone unplugged): the default
    // one then speaks, and the operator is told.
    QByteArray sourceName = source.toUtf8();
    if (!source.isEmpty()) {
        bool found = false;
        auto seen = [](pa_context *, const pa_source_info *i, int eol, void *f) {
            if (!eol && i)
                *static_cast<bool *>(f) = true;
        };
        c.finish(pa_context_get_source_info_by_name(c.ctx, sourceName.constData(), seen, &found), 1000);
        if (!found) {
            r.inputNote = QStringLiteral("指定的喊话输入「%1」不存在，已改用系统默认输入。").arg(source);
            sourceName.clear();
        }
    }

    pa_sample_spec format{PA_SAMPLE_FLOAT32LE, uint32_t(kRate), 1};
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE | PA_STREAM_AUTO_TIMING_UPDATE
                                         | PA_STREAM_INTERPOLATE_TIMING);
    for (size_t i = 0; i < outputs.size(); ++i) {
        pa_stream *s = pa_stream_new(c.ctx, "实时喊话", &format, nullptr);
        if (!s)
            continue;
        pa_buffer_attr attr;
        attr.maxlength = uint32_t(bytesOf(kTargetMs * 4));
        attr.tlength = uint32_t(bytesOf(kTargetMs));
        attr.prebuf = uint32_t(bytesOf(kFragmentMs));
        attr.minreq = uint32_t(bytesOf(kFragmentMs));
        attr.fragsize = uint32_t(-1);
        const QByteArray sink = outputs[i].sink.toUtf8();
        if (pa_stream_connect_playback(s, sink.isEmpty() ? nullptr : sink.constData(), &attr, flags, nullptr, nullptr)
            < 0) {
            pa_stream_unref(s);
            r.silent << QStringLiteral("%1（%2）").arg(outputs[i].label, serverText(c.ctx));
            continue;
        }
        d->outs.push_back({s, int(i), outputs[i].label});
    }
    c.waitFor([this] {
        return std::all_of(d->outs.begin(), d->outs.end(), [](const Impl::Out &o) { return streamSettled(o.s); });
    }, kOpenTimeoutMs);
    for (auto it = d->outs.begin(); it != d->outs.end();) {
        if (pa_stream_get_state(it->s) == PA_STREAM_READY) {
            r.ok.push_back(it->index);
            ++it;
            continue;
        }
        const QString why = PA_STREAM_IS_GOOD(pa_stream_get_state(it->s)) ? QStringLiteral("没有响应")
                                                                           : QStringLiteral("找不到这个声音输出");
        r.silent << QStringLiteral("%1（%2）").arg(it->label, why);
        d->release(it->s);
        it = d->outs.erase(it);
    }
    if (d->outs.empty()) {
        pa_threaded_mainloop_unlock(c.loop);
        c.close();
        r.error = QStringLiteral("没有一个分区的声音输出能用");
        return r;
    }

    d->chime = std::move(chime);
    d->chimePos = 0;
    d->chimeDone = d->chime.empty();
    d->gain = 0;
    d->fadingOut = d->faded = false;
    d->lost = false;
    d->rec = pa_stream_new(c.ctx, "实时喊话输入", &format, nullptr);
    pa_buffer_attr rattr;
    rattr.maxlength = uint32_t(-1);
    rattr.fragsize = uint32_t(bytesOf(kFragmentMs));
    rattr.tlength = rattr.prebuf = rattr.minreq = uint32_t(-1);
    bool recOk = false;
    if (d->rec) {
        pa_stream_set_read_callback(d->rec, &Impl::onRead, d.get());
        pa_stream_set_state_callback(d->rec, &Impl::onRecordState, d.get());
        if (pa_stream_connect_record(d->rec, sourceName.isEmpty() ? nullptr : sourceName.constData(), &rattr, flags)
            >= 0) {
            c.waitFor([this] { return streamSettled(d->rec); }, kOpenTimeoutMs);
            recOk = pa_stream_get_state(d->rec) == PA_STREAM_READY;
        }
    }
    if (!recOk) {
        r.error = sourceName.isEmpty() ? QStringLiteral("没有可用的声音输入（麦克风）")
                                       : QStringLiteral("喊话输入「%1」打不开").arg(QString::fromUtf8(sourceName));
        qCWarning(lcPaging).noquote() << "input not opened:" << serverText(c.ctx);
        d->release(d->rec);
        for (Impl::Out &o : d->outs)
            d->release(o.s);
        d->outs.clear();
        pa_threaded_mainloop_unlock(c.loop);
        c.close();
        r.ok.clear();
        return r;
    }
    d->active = true;
    pa_threaded_mainloop_unlock(c.loop);
    return r;
}

void LivePager::stop()
{
    Connection &c = d->conn;
    if (!c.loop)
        return;
    pa_threaded_mainloop_lock(c.loop);
    if (d->active) {
        d->fadingOut = true;
        // The fade runs on the input's fragments; an input that went quiet
        // (lost) has none, and its outputs then hold nothing more to play.
        if (!d->lost)
            c.waitFor([this] { return d->faded; }, kCloseTimeoutMs);
        // What the outputs still hold is the end of the fade.
        for (Impl::Out &o : d->outs)
            c.finish(pa_stream_drain(o.s, nullptr, nullptr), kCloseTimeoutMs / 2);
    }
    d->active = false;
    d->release(d->rec);
    for (Impl::Out &o : d->outs)
        d->release(o.s);
    d->outs.clear();
    pa_threaded_mainloop_unlock(c.loop);
    c.close();
}

std::vector<float> LivePager::makeChime()
{
    // Two soft bell tones, each with a quick rise and a long decay, and a
    // short pause before the voice.
    const struct {
        double hz, seconds;
    } notes[] = {{784.0, 0.45}, {622.25, 0.6}};
    std::vector<float> out;
    for (const auto &n : notes) {
        const int count = int(n.seconds * kRate);
        for (int i = 0; i < count; ++i) {
            const double t = double(i) / kRate;
            const double env = std::min(1.0, t / 0.005) * std::exp(-t * 4.0);
            out.push_back(float(0.35 * env * (std::sin(2 * M_PI * n.hz * t) + 0.3 * std::sin(4 * M_PI * n.hz * t))));
        }
    }
    out.resize(out.size() + size_t(kRate * 0.15), 0.0f);
    return out;
}

std::optional<QString> LivePager::sinkOf(const QString &device)
{
    if (device.isEmpty())
        return QString();
    if (device.startsWith(QLatin1String("pulse/")))
        return device.mid(6);
    return std::nullopt;
}

std::optional<std::vector<LivePager::Source>> LivePager::sources(int timeoutMs)
{
    Connection c;
    if (!c.open("daling inputs", timeoutMs).isEmpty()) {
        c.close();
        return std::nullopt;
    }
    std::vector<Source> list;
    auto each = [](pa_context *, const pa_source_info *i, int eol, void *out) {
        if (eol || !i || i->monitor_of_sink != PA_INVALID_INDEX)
            return;
        static_cast<std::vector<Source> *>(out)->push_back(
            {QString::fromUtf8(i->name), QString::fromUtf8(i->description ? i->description : i->name)});
    };
    const bool done = c.finish(pa_context_get_source_info_list(c.ctx, each, &list), timeoutMs);
    pa_threaded_mainloop_unlock(c.loop);
    c.close();
    if (!done)
        return std::nullopt;
    return list;
}
