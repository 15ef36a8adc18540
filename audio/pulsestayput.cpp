#include "pulsestayput.h"

#include <pulse/proplist.h>
#include <pulse/stream.h>

#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <unordered_set>

namespace {
std::mutex g_mutex;
std::unordered_set<const pa_stream *> g_stayPut; // made, not yet connected

template <class F>
F next(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}
} // namespace

extern "C" {

pa_stream *pa_stream_new_extended(pa_context *c, const char *name, pa_format_info *const *formats,
                                  unsigned int n_formats, pa_proplist *p)
{
    static const auto real = next<decltype(&pa_stream_new_extended)>("pa_stream_new_extended");
    pa_stream *s = real(c, name, formats, n_formats, p);
    // mpv names the stream's icon after its client.
    const char *icon = p ? pa_proplist_gets(p, PA_PROP_MEDIA_ICON_NAME) : nullptr;
    if (s && icon && std::strcmp(icon, PulseStayPut::kStayPutClient) == 0) {
        std::lock_guard lk(g_mutex);
        g_stayPut.insert(s);
    }
    return s;
}

int pa_stream_connect_playback(pa_stream *s, const char *dev, const pa_buffer_attr *attr, pa_stream_flags_t flags,
                               const pa_cvolume *volume, pa_stream *sync_stream)
{
    static const auto real = next<decltype(&pa_stream_connect_playback)>("pa_stream_connect_playback");
    {
        std::lock_guard lk(g_mutex);
        if (g_stayPut.erase(s) && dev)
            flags = pa_stream_flags_t(flags | PA_STREAM_DONT_MOVE);
    }
    return real(s, dev, attr, flags, volume, sync_stream);
}

} // extern "C"

bool PulseStayPut::active()
{
    // The address the process resolves is this file's own.
    return reinterpret_cast<void *>(dlsym(RTLD_DEFAULT, "pa_stream_connect_playback"))
        == reinterpret_cast<void *>(&pa_stream_connect_playback);
}
