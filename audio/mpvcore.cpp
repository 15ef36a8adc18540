#include "mpvcore.h"

#include "audiofilefacts.h"
#include "loaderrors.h"

#include <QFile>
#include <QScopeGuard>
#include <mpv/client.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

namespace {

// A job's own limits. Its caller gives up long before (the player's bound),
// but the job goes on waiting: while it does, the player knows its output is
// not answering and fails the next calls at once instead of waiting again.
constexpr double kOpenTimeoutSec = 5.0;
constexpr double kSeekTimeoutSec = 5.0;
constexpr double kCloseTimeoutSec = 2.0;
// How often a long wait looks whether the core is being destroyed.
constexpr double kCancelPollSec = 0.02;

enum : uint64_t { kObsTimePos = 1, kObsPause = 2 };

qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

MpvCore::MpvCore(bool systemOutput, double mpvVolume) : m_system(systemOutput), m_volume(mpvVolume) {}

MpvCore::~MpvCore()
{
    if (m_h)
        mpv_terminate_destroy(m_h);
}

void MpvCore::setWakeup(void (*fn)(void *), void *ctx)
{
    m_wakeup = fn;
    m_wakeupCtx = ctx;
    if (m_h)
        mpv_set_wakeup_callback(m_h, m_wakeup, m_wakeupCtx);
}

void MpvCore::start()
{
    mpv_handle *h = mpv_create();
    if (!h)
        throw AudioError(LoadErrors::startFailed(0));
    const QByteArray volume = QByteArray::number(m_volume, 'f', 3);
    const char *const options[][2] = {
        {"config", "no"},
        {"terminal", "no"},
        {"video", "no"},          // cover art would otherwise open a window
        {"audio-display", "no"},
        {"idle", "yes"},
        {"keep-open", "yes"},     // a file that ends stays loaded, paused
        {"pause", "yes"},         // every file is loaded paused
        {"hr-seek", "yes"},
        {"ao", m_system ? "pulse,alsa" : "null"},
        {"audio-fallback-to-null", "no"},
        {"audio-client-name", "daling"},
        {"autoload-files", "no"}, // no scan of the music folder for subtitles
        {"ytdl", "no"},
        {"load-scripts", "no"},
        {"osc", "no"},
        {"load-stats-overlay", "no"},
        {"load-osd-console", "no"},
        {"load-auto-profiles", "no"},
        {"input-default-bindings", "no"},
        {"resume-playback", "no"},
        {"volume", volume.constData()},
    };
    for (const auto &o : options)
        mpv_set_option_string(h, o[0], o[1]);
    const int r = mpv_initialize(h);
    if (r < 0) {
        mpv_terminate_destroy(h);
        throw AudioError(LoadErrors::startFailed(r));
    }
    mpv_request_log_messages(h, "error");
    mpv_observe_property(h, kObsTimePos, "time-pos", MPV_FORMAT_DOUBLE);
    mpv_observe_property(h, kObsPause, "pause", MPV_FORMAT_FLAG);
    m_h = h;
    if (m_wakeup)
        mpv_set_wakeup_callback(m_h, m_wakeup, m_wakeupCtx);
}

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

void MpvCore::resetOpenState()
{
    m_s = CoreState{};
    m_atEnd = false;
    m_waitingRestart = false;
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
        if (m_sawStart)
            m_sawLoaded = true;
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
            }
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

void MpvCore::setPause(bool paused)
{
    int flag = paused ? 1 : 0;
    mpv_set_property(m_h, "pause", MPV_FORMAT_FLAG, &flag);
}

bool MpvCore::readFlag(const char *name, bool dflt)
{
    int v = 0;
    if (mpv_get_property(m_h, name, MPV_FORMAT_FLAG, &v) < 0)
        return dflt;
    return v != 0;
}

double MpvCore::readDouble(const char *name, double dflt)
{
    double v = 0;
    if (mpv_get_property(m_h, name, MPV_FORMAT_DOUBLE, &v) < 0)
        return dflt;
    return v;
}

QString MpvCore::readString(const char *name)
{
    char *s = mpv_get_property_string(m_h, name);
    if (!s)
        return {};
    QString v = QString::fromUtf8(s);
    mpv_free(s);
    return v;
}

void MpvCore::startSounding()
{
    setPause(false);
    m_s.posStampNs = steadyNs();
    m_s.mode = AudioPlayer::Mode::Playing;
    if (readString("current-ao").isEmpty()) {
        setPause(true);
        m_s.mode = AudioPlayer::Mode::Stopped;
        throw AudioError(LoadErrors::outputFailed(m_system, m_openedFile, m_logErrors),
                         AudioError::Cause::Output);
    }
}

void MpvCore::unload()
{
    if (!m_h)
        return;
    const char *cmd[] = {"stop", nullptr};
    mpv_command(m_h, cmd);
    m_loaded = false;
}

void MpvCore::failLoad(const QString &text, bool isOutputFailure)
{
    m_outputFailed = isOutputFailure;
    unload();
    m_entry = -1;
    resetOpenState();
    throw AudioError(text, isOutputFailure ? AudioError::Cause::Output : AudioError::Cause::File);
}

// Loads `path` paused and returns when it is ready to sound, with the length
// set; throws AudioError (and leaves nothing loaded) otherwise.
void MpvCore::load(const QString &path)
{
    pump();
    m_logErrors.clear();
    m_endError = 0;
    m_outputFailed = false;
    m_sawStart = m_sawLoaded = m_sawRestart = m_sawEnd = false;
    setPause(true);

    const QByteArray local = QFile::encodeName(path);
    mpv_node args[3];
    args[0].format = MPV_FORMAT_STRING;
    args[0].u.string = const_cast<char *>("loadfile");
    args[1].format = MPV_FORMAT_STRING;
    args[1].u.string = const_cast<char *>(local.constData());
    args[2].format = MPV_FORMAT_STRING;
    args[2].u.string = const_cast<char *>("replace");
    mpv_node_list list{3, args, nullptr};
    mpv_node cmd;
    cmd.format = MPV_FORMAT_NODE_ARRAY;
    cmd.u.list = &list;
    m_entry = -1;
    {
        mpv_node result;
        const int r = mpv_command_node(m_h, &cmd, &result);
        if (r < 0)
            failLoad(LoadErrors::commandFailed(path, r));
        const auto freeResult = qScopeGuard([&] { mpv_free_node_contents(&result); });
        if (result.format == MPV_FORMAT_NODE_MAP) {
            for (int i = 0; i < result.u.list->num; ++i)
                if (std::strcmp(result.u.list->keys[i], "playlist_entry_id") == 0
                    && result.u.list->values[i].format == MPV_FORMAT_INT64)
                    m_entry = result.u.list->values[i].u.int64;
        }
    }
    if (m_entry < 0)
        failLoad(LoadErrors::notAccepted(path));
    m_loaded = true; // until an END_FILE says otherwise

    if (!waitUntil(kOpenTimeoutSec, [this] { return m_sawRestart || m_sawEnd; }))
        failLoad(LoadErrors::openTimedOut(kOpenTimeoutSec, path));
    if (m_sawEnd || !m_loaded) {
        bool isOutput = false;
        const QString text = LoadErrors::endedWhileLoading(m_endError, path, m_logErrors, &isOutput);
        failLoad(isOutput ? LoadErrors::outputFailed(m_system, path, m_logErrors) : text, isOutput);
    }

    // The output is opened while the file loads; where it fails, mpv drops
    // the audio track just before or after PLAYBACK_RESTART.
    const QString ao = readString("current-ao");
    if (ao.isEmpty())
        failLoad(LoadErrors::outputFailed(m_system, path, m_logErrors), true);
    if (readString("current-tracks/audio/id").isEmpty())
        failLoad(LoadErrors::noAudioTrack(path));

    const double duration = readDouble("duration", 0.0);
    const AudioFileFacts::Facts facts = AudioFileFacts::inspect(path, readString("file-format"));
    if (!facts.truncated.isEmpty())
        failLoad(LoadErrors::truncated(path, facts.truncated));
    m_s.lengthMs = facts.lengthMs ? *facts.lengthMs
                                  : qint64(std::llround(std::max(0.0, duration) * 1000.0));
    m_s.currentAo = ao;
    pump();
    if (!m_loaded) { // dropped right after the restart
        const bool isOutput = m_endError == MPV_ERROR_AO_INIT_FAILED;
        failLoad(isOutput ? LoadErrors::outputFailed(m_system, path, m_logErrors)
                          : LoadErrors::commandFailed(path, m_endError ? m_endError : MPV_ERROR_GENERIC),
                 isOutput);
    }
}

// After mpv dropped the file (its output was lost), loads it again.
void MpvCore::ensureLoaded()
{
    if (m_loaded)
        return;
    const double at = m_s.posSec;
    const qint64 keepLength = m_s.lengthMs;
    const bool keepEnd = m_atEnd;
    load(m_openedFile);
    m_s.isOpen = true;
    m_s.mode = AudioPlayer::Mode::Stopped;
    m_s.lengthMs = keepLength ? keepLength : m_s.lengthMs;
    m_atEnd = keepEnd;
    if (at > 0.0 && !keepEnd) {
        m_waitingRestart = true;
        double sec = at;
        mpv_set_property(m_h, "time-pos", MPV_FORMAT_DOUBLE, &sec);
        waitUntil(kSeekTimeoutSec, [this] { return !m_waitingRestart; });
        m_waitingRestart = false;
    }
    markPosition(at);
}

void MpvCore::open(const QString &path)
{
    if (!m_h)
        start(); // also a second chance after a failed start
    resetOpenState();
    m_openedFile = path;
    load(path); // replaces any open file; throws with nothing open
    m_s.isOpen = true;
    m_s.mode = AudioPlayer::Mode::Stopped;
    markPosition(0.0);
}

void MpvCore::close()
{
    if (!m_h || (!m_s.isOpen && !m_loaded)) {
        resetOpenState();
        return;
    }
    m_s.mode = AudioPlayer::Mode::Stopped; // what follows is ours, not a failure
    setPause(true);
    pump();
    if (m_loaded) {
        unload();
        m_loaded = true; // until its END_FILE arrives
        m_sawEnd = false;
        waitUntil(kCloseTimeoutSec, [this] { return m_sawEnd; });
        m_loaded = false;
    }
    m_entry = -1;
    resetOpenState();
}

void MpvCore::play(std::optional<qint64> target)
{
    pump();
    try {
        ensureLoaded();
    } catch (const AudioError &) {
        if (m_outputFailed)
            throw;
        return; // a refusal: Mode stays other than Playing
    }
    m_s.interrupted = false;
    if (!target && m_atEnd)
        target = 0;
    if (m_s.mode == AudioPlayer::Mode::Playing && !target)
        return;
    if (target) {
        double sec = double(std::clamp<qint64>(*target, 0, m_s.lengthMs)) / 1000.0;
        m_waitingRestart = true;
        mpv_set_property(m_h, "time-pos", MPV_FORMAT_DOUBLE, &sec);
        markPosition(sec);
    }
    m_atEnd = false;
    startSounding();
}

void MpvCore::stop()
{
    pump();
    if (m_s.mode != AudioPlayer::Mode::Playing && m_s.mode != AudioPlayer::Mode::Paused)
        return;
    m_s.mode = AudioPlayer::Mode::Stopped;
    setPause(true);
    if (m_loaded)
        markPosition(readDouble("time-pos", m_s.posSec));
}

void MpvCore::pause()
{
    pump();
    if (m_s.mode == AudioPlayer::Mode::Playing) {
        m_s.mode = AudioPlayer::Mode::Paused;
        setPause(true);
        if (m_loaded)
            markPosition(readDouble("time-pos", m_s.posSec));
    } else if (m_s.mode == AudioPlayer::Mode::Paused) {
        if (!m_loaded) {
            m_s.mode = AudioPlayer::Mode::Stopped;
            play(std::nullopt);
            return;
        }
        startSounding();
    }
}

void MpvCore::seek(qint64 ms)
{
    pump();
    const qint64 target = std::clamp<qint64>(ms, 0, m_s.lengthMs);
    if (m_loaded) {
        m_s.mode = AudioPlayer::Mode::Stopped;
        setPause(true);
        double sec = double(target) / 1000.0;
        m_waitingRestart = true;
        if (mpv_set_property(m_h, "time-pos", MPV_FORMAT_DOUBLE, &sec) >= 0)
            waitUntil(kSeekTimeoutSec, [this] { return !m_waitingRestart || !m_loaded; });
        m_waitingRestart = false;
    }
    m_s.mode = AudioPlayer::Mode::Stopped;
    m_atEnd = false;
    markPosition(double(target) / 1000.0);
}

void MpvCore::setVolume(double mpvVolume)
{
    m_volume = mpvVolume;
    if (m_h)
        mpv_set_property(m_h, "volume", MPV_FORMAT_DOUBLE, &mpvVolume);
}
