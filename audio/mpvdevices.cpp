// MpvCore's side of the sound server's outputs: the list it offers, the
// chosen one applied before a load, and the stand-in sink of a PC without a
// sound card.
#include "mpvcore.h"

#include <QScopeGuard>
#include <mpv/client.h>

#include <cstring>

QList<AudioOutputDevice> MpvCore::devices()
{
    if (!m_h)
        start();
    QList<AudioOutputDevice> out;
    mpv_node node;
    if (mpv_get_property(m_h, "audio-device-list", MPV_FORMAT_NODE, &node) < 0)
        return out;
    const auto freeNode = qScopeGuard([&] { mpv_free_node_contents(&node); });
    if (node.format != MPV_FORMAT_NODE_ARRAY)
        return out;
    for (int i = 0; i < node.u.list->num; ++i) {
        const mpv_node &entry = node.u.list->values[i];
        if (entry.format != MPV_FORMAT_NODE_MAP)
            continue;
        AudioOutputDevice d;
        for (int k = 0; k < entry.u.list->num; ++k) {
            const mpv_node &v = entry.u.list->values[k];
            if (v.format != MPV_FORMAT_STRING)
                continue;
            if (std::strcmp(entry.u.list->keys[k], "name") == 0)
                d.name = QString::fromUtf8(v.u.string);
            else if (std::strcmp(entry.u.list->keys[k], "description") == 0)
                d.description = QString::fromUtf8(v.u.string);
        }
        // mpv lists the devices of every output driver it has; this core
        // opens only PulseAudio's and ALSA's (and "auto", the default).
        const QString driver = d.name.section(u'/', 0, 0);
        if (d.name == u"auto" || driver == u"pulse" || driver == u"alsa")
            out.append(d);
    }
    return out;
}

// Decided from the server's own list before the load: mpv given a device
// that is gone quietly opens another output of its list, so its success
// would not tell. A bell rings on the default output rather than not at all.
void MpvCore::applyDevice()
{
    QString want = QStringLiteral("auto");
    if (!m_device.isEmpty() && m_system) {
        bool offered = false;
        for (const AudioOutputDevice &d : devices())
            offered = offered || d.name == m_device;
        if (offered)
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

bool MpvCore::onlyDummyOutput()
{
    bool dummy = false, other = false;
    for (const AudioOutputDevice &d : devices()) {
        if (!d.name.startsWith(u"pulse/"))
            continue;
        (d.name == u"pulse/auto_null" ? dummy : other) = true;
    }
    return dummy && !other;
}
