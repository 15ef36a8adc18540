#include "mpvcore.h"

#include "audiofilefacts.h"
#include "audiolog.h"
#include "loaderrors.h"
#include "soundserver.h"

#include <QFile>
#include <QScopeGuard>
#include <mpv/client.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// A job's own limits. Its caller gives up long before (the player's bound),
// but the job goes on waiting: while it does, the player knows its output is
// not answering and fails the next calls at once instead of waiting again.
constexpr double kOpenTimeoutSec = 5.0;
constexpr double kSeekTimeoutSec = 5.0;
constexpr double kCloseTimeoutSec = 2.0;
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
        // One driver (soundserver.h): mpv would otherwise try the others in
        // turn when an output fails.
        {"ao", m_system ? SoundServer::driver() : "null"},
        {"audio-fallback-to-null", "no"},
        {"audio-client-name", MpvCore::kClientName},
        {"autoload-files", "no"}, // no scan of the music folder for subtitles
        {"ytdl", "no"},
        {"load-scripts", "no"},
        {"osc", "no"},
        {"load-stats-overlay", "no"},
        {"load-osd-console", "no"},
        {"load-auto-profiles", "no"},
        {"input-default-bindings", "no"},
        {"resume-playback", "no"},
        // A sound file plays only itself: no playlists, EDL, chapters or
        // references that name other files, and libavformat may open
        // nothing but local files for what it reads inside one.
        {"demuxer", "lavf"},
        {"load-unsafe-playlists", "no"},
        {"access-references", "no"},
        {"ordered-chapters", "no"},
        {"demuxer-lavf-o", "protocol_whitelist=file"},
        {"sub-auto", "no"},
        {"audio-file-auto", "no"},
        {"cover-art-auto", "no"},
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
    // Outputs that come and go are not watched through libmpv's
    // audio-device-list: reading it starts every output driver libmpv has
    // (soundserver.h); the worker asks the server instead (watchesOutput).
    m_h = h;
    if (m_wakeup)
        mpv_set_wakeup_callback(m_h, m_wakeup, m_wakeupCtx);
}

void MpvCore::resetOpenState()
{
    m_s = CoreState{};
    m_atEnd = false;
    m_waitingRestart = false;
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
    m_soundingSinceNs = m_s.posStampNs;
    m_soundingFromSec = m_s.posSec;
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
    failLoad(text, isOutputFailure ? AudioError::Cause::Output : AudioError::Cause::File);
}

void MpvCore::failLoad(const QString &text, AudioError::Cause cause)
{
    m_outputFailed = cause == AudioError::Cause::Output;
    unload();
    m_entry = -1;
    resetOpenState();
    throw AudioError(text, cause);
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
    m_s.missingDevice.clear();
    // Asking the server for its outputs waits on the server, not the file.
    const bool reading = m_readingFile.exchange(false);
    const auto offered = m_system ? SoundServer::outputs() : std::nullopt;
    applyDevice(offered);
    applyStayPut();
    if (offered && onlyDummyOutput(*offered))
        failLoad(LoadErrors::dummyOutputOnly(path), true);
    m_readingFile = reading;

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

    if (!waitUntil(kOpenTimeoutSec, [this] { return m_sawRestart || m_sawEnd; })) {
        // Read but never ready to sound: the output did not answer.
        if (m_sawLoaded)
            failLoad(LoadErrors::noResponse(int(kOpenTimeoutSec * 1000), path), AudioError::Cause::NoResponse);
        failLoad(LoadErrors::openTimedOut(kOpenTimeoutSec, path));
    }
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

void MpvCore::open(const QString &path, const QString &confinedTo)
{
    // Until mpv has read the file, a wait is the file's (a hung network
    // share), not the output's.
    ++m_loads;
    m_readingFile = true;
    const auto done = qScopeGuard([this] { m_readingFile = false; });
    if (const QString refused = LoadErrors::checkFile(path, confinedTo); !refused.isEmpty()) {
        close();
        throw AudioError(refused);
    }
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
    ++m_loads;
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
    dropIfOutputGone();
    try {
        ensureLoaded();
        // Loaded again while the chosen output is away: it would sound on
        // the default one.
        if (m_neverElsewhere && !m_s.missingDevice.isEmpty())
            failLoad(LoadErrors::outputGone(m_s.missingDevice), true);
    } catch (const AudioError &e) {
        if (m_outputFailed)
            throw;
        // A refusal: Mode stays other than Playing, which the caller reads.
        qCWarning(lcAudio).noquote() << "the dropped file could not be loaded again:" << e.text();
        return;
    }
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
        // Not waited for (a seek far into a long file takes a while on a
        // loaded machine): the position reads the target at once, and mpv's
        // own until it has arrived there are ignored.
        m_waitingRestart = mpv_set_property(m_h, "time-pos", MPV_FORMAT_DOUBLE, &sec) >= 0;
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
