// MpvCore's side of a player kept to its output (a zone's): only that
// output's driver, a stream the sound server may not move, and the file
// dropped at once when the output goes.
#include "mpvcore.h"

#include "audiolog.h"
#include "pulsestayput.h"
#include "soundserver.h"

#include <mpv/client.h>

#include <algorithm>

void MpvCore::applyStayPut()
{
    if (!m_system)
        return;
    // Kept to a chosen output: its stream is never moved (pulsestayput.h),
    // and when the output goes no other driver may take over: mpv, asked to
    // reopen, would otherwise try ALSA's default.
    const bool stay = m_neverElsewhere && m_appliedDevice != u"auto";
    if (stay == m_stayPutApplied)
        return;
    if (stay && !PulseStayPut::active())
        qCWarning(lcAudio) << "streams kept to their output may still be moved by the sound server";
    const QByteArray driver = stay ? m_appliedDevice.section(u'/', 0, 0).toUtf8() : QByteArray(SoundServer::driver());
    mpv_set_property_string(m_h, "ao", driver.constData());
    mpv_set_property_string(m_h, "audio-client-name", stay ? PulseStayPut::kStayPutClient : MpvCore::kClientName);
    m_stayPutApplied = stay;
}

bool MpvCore::chosenOutputOffered()
{
    // A server that does not answer in time cannot say the output went: the
    // file plays on rather than being cut by a slow answer.
    const auto offered = SoundServer::outputs(300);
    if (!offered)
        return true;
    return std::any_of(offered->begin(), offered->end(),
                       [this](const AudioOutputDevice &d) { return d.name == m_appliedDevice; });
}

bool MpvCore::watchesOutput() const
{
    using Mode = AudioPlayer::Mode;
    return m_system && m_neverElsewhere && m_h && m_loaded && m_s.isOpen && m_appliedDevice != u"auto"
        && (m_s.mode == Mode::Playing || m_s.mode == Mode::Paused);
}

bool MpvCore::dropIfOutputGone()
{
    using Mode = AudioPlayer::Mode;
    if (!m_neverElsewhere || !m_h || !m_loaded || !m_s.isOpen || m_appliedDevice == u"auto"
        || chosenOutputOffered())
        return false;
    // Silenced first: until the unload the stream sounds where the server
    // moved it.
    setPause(true);
    const bool sounded = m_s.mode == Mode::Playing || m_s.mode == Mode::Paused;
    qCWarning(lcAudio).noquote() << "output" << m_appliedDevice << "went away; the file"
                                 << (sounded ? "is cut off" : "is dropped") << "rather than moved";
    markPosition(double(currentMs()) / 1000.0);
    unload();
    if (sounded) {
        m_s.mode = Mode::Stopped;
        m_s.interrupted = true;
        ++m_ends;
        m_lastEndInterrupted = true;
    }
    return true;
}
