// MpvCore's side of mpv's event queue: what each event means for the state
// the player's callers see, and the waits of a job for the events it needs.
#include "mpvcore.h"

#include <mpv/client.h>

#include <algorithm>
#include <cmath>

namespace {
// How often a long wait looks whether the core is being destroyed.
constexpr double kCancelPollSec = 0.02;
} // namespace

void MpvCore::markPosition(double sec)
{
    m_s.posSec = sec;
    m_s.posStampNs = steadyNs();
    ++m_s.posMarks;
}

qint64 MpvCore::currentMs() const
{
    qint64 ms = qint64(std::llround(m_s.posSec * 1000.0));
    if (m_s.mode == AudioPlayer::Mode::Playing && m_s.posStampNs > 0)
        ms += std::min<qint64>((steadyNs() - m_s.posStampNs) / 1000000, 1000);
    return std::clamp<qint64>(ms, 0, m_s.lengthMs);
}

void MpvCore::handle(const mpv_event *e)
{
    using Mode = AudioPlayer::Mode;
    switch (e->event_id) {
    case MPV_EVENT_LOG_MESSAGE: {
        const auto *m = static_cast<const mpv_event_log_message *>(e->data);
        if (m_logErrors.size() < 20)
            m_logErrors << (QString::fromUtf8(m->prefix) + QStringLiteral(": ")
                            + QString::fromUtf8(m->text).trimmed());
        break;
    }
    case MPV_EVENT_START_FILE: {
        const auto *s = static_cast<const mpv_event_start_file *>(e->data);
        if (s->playlist_entry_id == m_entry)
            m_sawStart = true;
        break;
    }
    case MPV_EVENT_FILE_LOADED:
        if (m_sawStart) {
            m_sawLoaded = true;
            m_readingFile = false;
        }
        break;
    case MPV_EVENT_PLAYBACK_RESTART:
        if (m_sawLoaded)
            m_sawRestart = true;
        m_waitingRestart = false;
        break;
    case MPV_EVENT_END_FILE: {
        const auto *f = static_cast<const mpv_event_end_file *>(e->data);
        if (f->playlist_entry_id != m_entry)
            break;
        m_sawEnd = true;
        m_loaded = false;
        if (f->reason == MPV_END_FILE_REASON_ERROR)
            m_endError = f->error;
        else if (f->reason == MPV_END_FILE_REASON_REDIRECT)
            m_endError = MPV_ERROR_UNKNOWN_FORMAT; // a playlist, not a sound
        if (m_s.isOpen && (m_s.mode == Mode::Playing || m_s.mode == Mode::Paused)) {
            // The file was dropped under us: we never unload a sounding
            // file ourselves, so its output or its decoder failed.
            markPosition(double(currentMs()) / 1000.0);
            m_s.mode = Mode::Stopped;
            m_s.interrupted = true;
            ++m_ends;
            m_lastEndInterrupted = true;
        }
        break;
    }
    case MPV_EVENT_PROPERTY_CHANGE: {
        const auto *p = static_cast<const mpv_event_property *>(e->data);
        if (e->reply_userdata == kObsTimePos) {
            if (p->format == MPV_FORMAT_DOUBLE && m_s.isOpen && m_loaded && !m_waitingRestart
                && m_s.mode == Mode::Playing) {
                m_s.posSec = *static_cast<const double *>(p->data);
                m_s.posStampNs = steadyNs();
                // libmpv's position is what has left the output; the time
                // since the un-pause beyond it is the output's own latency.
                // Read once per start, when the output has settled.
                const double heard = m_s.posSec - m_soundingFromSec;
                const qint64 since = (m_s.posStampNs - m_soundingSinceNs) / 1000000;
                if (m_soundingSinceNs > 0 && since >= 500 && heard > 0.05) {
                    m_s.outputLatencyMs = std::max<qint64>(0, since - qint64(std::llround(heard * 1000.0)));
                    m_soundingSinceNs = 0;
                }
            }
        } else if (e->reply_userdata == kObsDevices) {
            dropIfOutputGone();
        } else if (e->reply_userdata == kObsPause) {
            const bool paused = p->format == MPV_FORMAT_FLAG && *static_cast<const int *>(p->data);
            if (paused && m_s.isOpen && m_loaded && m_s.mode == Mode::Playing) {
                // Nobody here asked for this pause: with keep-open, mpv pauses
                // a file that played to its end. The event may be stale (read
                // before our own un-pause), so ask mpv before believing it.
                if (readFlag("pause", false)) {
                    m_s.mode = Mode::Stopped;
                    m_atEnd = readFlag("eof-reached", true);
                    markPosition(m_atEnd ? double(m_s.lengthMs) / 1000.0
                                         : readDouble("time-pos", m_s.posSec));
                    ++m_ends;
                    m_lastEndInterrupted = false;
                }
            }
        }
        break;
    }
    default:
        break;
    }
}

void MpvCore::pump()
{
    if (!m_h)
        return;
    for (;;) {
        mpv_event *e = mpv_wait_event(m_h, 0);
        if (e->event_id == MPV_EVENT_NONE)
            return;
        handle(e);
    }
}

bool MpvCore::waitUntil(double timeoutSec, const std::function<bool()> &done)
{
    const qint64 deadline = steadyNs() + qint64(timeoutSec * 1e9);
    while (!done()) {
        const qint64 left = deadline - steadyNs();
        if (left <= 0 || (m_cancelled && m_cancelled()))
            return false;
        mpv_event *e = mpv_wait_event(m_h, std::min(double(left) / 1e9, kCancelPollSec));
        if (e->event_id != MPV_EVENT_NONE)
            handle(e);
    }
    return true;
}
