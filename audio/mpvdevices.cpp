// MpvCore's side of the sound server's outputs: the list it offers, the
// chosen one applied before a load, and the stand-in sink of a PC without a
// sound card.
#include "mpvcore.h"

#include "soundserver.h"

#include <mpv/client.h>

#include <algorithm>

// Read through the driver chosen for the process, never through libmpv's
// audio-device-list (which would start every driver libmpv has).
QList<AudioOutputDevice> MpvCore::devices()
{
    QList<AudioOutputDevice> out{{QStringLiteral("auto"), QStringLiteral("Autoselect device")}};
    if (m_system)
        out += SoundServer::outputs().value_or(QList<AudioOutputDevice>{});
    return out;
}

// Decided from the server's own list before the load: mpv given a device
// that is gone quietly opens another output of its list, so its success
// would not tell. A bell rings on the default output rather than not at all.
void MpvCore::applyDevice(const std::optional<QList<AudioOutputDevice>> &offered)
{
    QString want = QStringLiteral("auto");
    if (!m_device.isEmpty() && m_system) {
        // A server that does not answer cannot say the device is gone: the
        // load then meets the server's silence and says so.
        const bool listed = offered && std::any_of(offered->begin(), offered->end(),
                                                   [&](const AudioOutputDevice &d) { return d.name == m_device; });
        if (!offered || listed)
            want = m_device;
        else
            m_s.missingDevice = m_device;
    }
    if (want == m_appliedDevice)
        return;
    const QByteArray name = want.toUtf8();
    if (mpv_set_property_string(m_h, "audio-device", name.constData()) >= 0)
        m_appliedDevice = want;
}

bool MpvCore::onlyDummyOutput(const QList<AudioOutputDevice> &offered)
{
    bool dummy = false, other = false;
    for (const AudioOutputDevice &d : offered) {
        if (!d.name.startsWith(u"pulse/"))
            continue;
        (d.name == u"pulse/auto_null" ? dummy : other) = true;
    }
    return dummy && !other;
}
