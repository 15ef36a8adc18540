// PulseAudio asked through libpulse's own main loop, one short connection
// per question (a server that restarts is simply asked again); ALSA's
// outputs read from its device hints, as libmpv's ALSA driver reads them.
#include "soundserver.h"

#include "audiolog.h"

#include <QHash>
#include <QMutex>
#include <alsa/asoundlib.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <pulse/pulseaudio.h>

namespace {

struct PulseQuery {
    bool listSinks = false;
    bool done = false;
    bool refused = false; // the connection failed (no server), not a timeout
    bool answered = false;
    QList<AudioOutputDevice> sinks;
};

void onSink(pa_context *, const pa_sink_info *info, int eol, void *user)
{
    auto *q = static_cast<PulseQuery *>(user);
    if (eol) {
        q->answered = eol > 0;
        q->done = true;
        return;
    }
    q->sinks.append({QStringLiteral("pulse/") + QString::fromUtf8(info->name),
                     QString::fromUtf8(info->description ? info->description : "")});
}

void onState(pa_context *c, void *user)
{
    auto *q = static_cast<PulseQuery *>(user);
    switch (pa_context_get_state(c)) {
    case PA_CONTEXT_READY:
        if (!q->listSinks) {
            q->answered = q->done = true;
        } else if (pa_operation *op = pa_context_get_sink_info_list(c, onSink, q)) {
            pa_operation_unref(op);
        } else {
            q->done = true;
        }
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        q->refused = !q->answered;
        q->done = true;
        break;
    default:
        break;
    }
}

// Connects as libmpv's PulseAudio driver does (the default server, which
// may be started on demand) and waits at most `timeoutMs`.
PulseQuery askPulse(bool listSinks, int timeoutMs)
{
    PulseQuery q;
    q.listSinks = listSinks;
    pa_mainloop *loop = pa_mainloop_new();
    if (!loop) {
        q.refused = true;
        return q;
    }
    pa_context *c = pa_context_new(pa_mainloop_get_api(loop), "daling");
    if (!c) {
        pa_mainloop_free(loop);
        q.refused = true;
        return q;
    }
    pa_context_set_state_callback(c, onState, &q);
    if (pa_context_connect(c, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0) {
        q.refused = true;
        q.done = true;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!q.done) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
        if (left <= 0 || pa_mainloop_prepare(loop, int(left)) < 0 || pa_mainloop_poll(loop) < 0
            || pa_mainloop_dispatch(loop) < 0)
            break;
    }
    pa_context_set_state_callback(c, nullptr, nullptr);
    pa_context_disconnect(c);
    pa_context_unref(c);
    pa_mainloop_free(loop);
    return q;
}

// The PCM outputs ALSA's configuration names; libmpv leaves out the same
// ones (the channel-pair devices, and those that only repeat the default).
QList<AudioOutputDevice> alsaOutputs()
{
    QList<AudioOutputDevice> out;
    void **hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) < 0)
        return out;
    static const char *const useless[] = {"rear", "center_lfe", "side", "pulse", "null", "dsnoop", "hw"};
    for (void **h = hints; *h; ++h) {
        char *name = snd_device_name_get_hint(*h, "NAME");
        char *desc = snd_device_name_get_hint(*h, "DESC");
        char *io = snd_device_name_get_hint(*h, "IOID");
        bool skip = !name || std::strcmp(name, "default") == 0 || (io && std::strcmp(io, "Output") != 0);
        for (const char *u : useless) {
            const size_t n = std::strlen(u);
            skip = skip || (name && std::strncmp(name, u, n) == 0 && (!name[n] || name[n] == ':'));
        }
        if (!skip)
            out.append({QStringLiteral("alsa/") + QString::fromUtf8(name),
                        QString::fromUtf8(desc ? desc : "").replace(u'\n', u'/')});
        free(name);
        free(desc);
        free(io);
    }
    snd_device_name_free_hint(hints);
    return out;
}

QMutex labelsLock;
QHash<QString, QString> labels; // device name → the description last seen

void remember(const QList<AudioOutputDevice> &list)
{
    QMutexLocker lock(&labelsLock);
    for (const AudioOutputDevice &d : list)
        if (!d.description.isEmpty())
            labels.insert(d.name, d.description);
}

} // namespace

namespace SoundServer {

const char *driver()
{
    // PulseAudio, once it answered, stays the choice; without a server each
    // new player asks again (a refused connection costs nothing), so that a
    // server that starts after the program is still found.
    static std::atomic<bool> pulse{false};
    static std::atomic<bool> toldAlsa{false};
    if (pulse)
        return "pulse";
    const PulseQuery q = askPulse(false, 2000);
    if (!q.refused) {
        if (!pulse.exchange(true))
            qCInfo(lcAudio) << "sound output through PulseAudio";
        return "pulse";
    }
    if (!toldAlsa.exchange(true))
        qCInfo(lcAudio) << "no PulseAudio server answers: sound output through ALSA";
    return "alsa";
}

std::optional<QList<AudioOutputDevice>> outputs(int timeoutMs)
{
    QList<AudioOutputDevice> list;
    if (std::strcmp(driver(), "pulse") == 0) {
        const PulseQuery q = askPulse(true, timeoutMs);
        if (!q.answered) {
            qCWarning(lcAudio) << "the sound server's outputs could not be read"
                               << (q.refused ? "(connection refused)" : "(no answer in time)");
            return std::nullopt;
        }
        list = q.sinks;
    } else {
        list = alsaOutputs();
    }
    remember(list);
    return list;
}

QString label(const QString &device)
{
    QMutexLocker lock(&labelsLock);
    return labels.value(device, device);
}

} // namespace SoundServer
