#include "mpvplayer.h"

#include "audiofilefacts.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <mpv/client.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <clocale>
#include <cmath>
#include <cstring>
#include <optional>

namespace {

// A local file opens in milliseconds; a stuck network share must not hold
// the window (and the bells) for long.
constexpr double kOpenTimeoutSec = 5.0;
constexpr double kSeekTimeoutSec = 5.0;
constexpr double kCloseTimeoutSec = 2.0;

enum : uint64_t { kObsTimePos = 1, kObsPause = 2 };

qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

AudioError noDevice() { return AudioError(QString::fromLatin1(kNoDeviceOpen)); }

} // namespace

struct MpvPlayer::Impl {
    Output output = Output::System;
    QString file;       // what the next open() opens
    QString openedFile; // the open file
    mpv_handle *h = nullptr;
    QString startError; // why there is no handle

    bool isOpen = false;
    bool loaded = false;  // mpv holds the file (losing the output unloads it)
    int64_t entry = -1;   // mpv's playlist entry id of the open file
    Mode mode = Mode::NotReady;
    qint64 lengthMs = 0;
    double posSec = 0;        // last known position
    qint64 posStampNs = 0;    // when posSec was true (steady clock)
    qint64 lastReportedMs = 0;
    bool waitingRestart = false; // a seek is on its way: time-pos is stale
    bool atEnd = false;       // played to its end: the next play() starts at 0
    std::optional<qint64> startPos;
    QStringList logErrors;    // mpv's error lines since the last load
    int endError = 0;         // error of an END_FILE for the open entry
    bool outputFailed = false; // the last load failed for want of an output

    // Events seen by waits.
    bool sawStart = false, sawLoaded = false, sawRestart = false, sawEnd = false;

    void create();
    void handle(const mpv_event *e);
    void pump();
    bool waitUntil(double timeoutSec, const std::function<bool()> &done);
    void setPause(bool paused);
    bool readFlag(const char *name, bool dflt);
    double readDouble(const char *name, double dflt);
    QString readString(const char *name);
    void markPosition(double sec)
    {
        posSec = sec;
        posStampNs = steadyNs();
        lastReportedMs = qint64(std::llround(sec * 1000.0));
    }
    // The position now: mpv reports it every 50 ms or so while playing;
    // in between it runs on with the clock.
    qint64 currentMs()
    {
        qint64 ms = qint64(std::llround(posSec * 1000.0));
        if (mode == Mode::Playing && posStampNs > 0) {
            const qint64 sinceMs = (steadyNs() - posStampNs) / 1000000;
            ms += std::min<qint64>(sinceMs, 1000);
            ms = std::max(ms, lastReportedMs);
            lastReportedMs = ms;
        }
        return std::clamp<qint64>(ms, 0, lengthMs);
    }
    void resetOpenState()
    {
        isOpen = false;
        mode = Mode::NotReady;
        lengthMs = 0;
        posSec = 0;
        posStampNs = 0;
        lastReportedMs = 0;
        atEnd = false;
        waitingRestart = false;
    }
    void load(const QString &path);
    [[noreturn]] void failLoad(const QString &text, bool isOutputFailure = false);
    QString outputFailureText(const QString &path) const;
    // Un-pauses and checks that the output the file loaded with is still
    // there: a bell that cannot sound must never read as playing.
    void startSounding();
    QString detailsSuffix() const;
    void requireOpen() const
    {
        if (!isOpen)
            throw noDevice();
    }
    void ensureLoaded();
    void unload();
};

void MpvPlayer::Impl::create()
{
    // mpv_create() returns NULL under any LC_NUMERIC but "C".
    const char *lc = std::setlocale(LC_NUMERIC, nullptr);
    if (!lc || std::strcmp(lc, "C") != 0)
        std::setlocale(LC_NUMERIC, "C");

    h = mpv_create();
    if (!h) {
        startError = QStringLiteral("音频库 libmpv 无法启动。");
        return;
    }
    const char *ao = output == Output::System ? "pulse,alsa" : "null";
    const char *const options[][2] = {
        {"config", "no"},
        {"terminal", "no"},
        {"video", "no"},          // cover art would otherwise open a window
        {"audio-display", "no"},
        {"idle", "yes"},
        {"keep-open", "yes"},     // a file that ends stays loaded, paused
        {"pause", "yes"},         // every file is loaded paused
        {"hr-seek", "yes"},
        {"ao", ao},
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
    };
    for (const auto &o : options)
        mpv_set_option_string(h, o[0], o[1]);
    const int r = mpv_initialize(h);
    if (r < 0) {
        startError = QStringLiteral("音频库 libmpv 无法启动（%1）。")
                         .arg(QString::fromUtf8(mpv_error_string(r)));
        mpv_terminate_destroy(h);
        h = nullptr;
        return;
    }
    mpv_request_log_messages(h, "error");
    mpv_observe_property(h, kObsTimePos, "time-pos", MPV_FORMAT_DOUBLE);
    mpv_observe_property(h, kObsPause, "pause", MPV_FORMAT_FLAG);
    startError.clear();
}

void MpvPlayer::Impl::handle(const mpv_event *e)
{
    switch (e->event_id) {
    case MPV_EVENT_LOG_MESSAGE: {
        const auto *m = static_cast<const mpv_event_log_message *>(e->data);
        if (logErrors.size() < 20)
            logErrors << (QString::fromUtf8(m->prefix) + QStringLiteral(": ")
                          + QString::fromUtf8(m->text).trimmed());
        break;
    }
    case MPV_EVENT_START_FILE: {
        const auto *s = static_cast<const mpv_event_start_file *>(e->data);
        if (s->playlist_entry_id == entry)
            sawStart = true;
        break;
    }
    case MPV_EVENT_FILE_LOADED:
        if (sawStart)
            sawLoaded = true;
        break;
    case MPV_EVENT_PLAYBACK_RESTART:
        if (sawLoaded)
            sawRestart = true;
        waitingRestart = false;
        break;
    case MPV_EVENT_END_FILE: {
        const auto *f = static_cast<const mpv_event_end_file *>(e->data);
        if (f->playlist_entry_id != entry)
            break;
        sawEnd = true;
        loaded = false;
        if (f->reason == MPV_END_FILE_REASON_ERROR)
            endError = f->error;
        else if (f->reason == MPV_END_FILE_REASON_REDIRECT)
            endError = MPV_ERROR_UNKNOWN_FORMAT; // a playlist, not a sound
        if (isOpen && (mode == Mode::Playing || mode == Mode::Paused)) {
            // The file was dropped under us (e.g. the output was lost).
            markPosition(double(currentMs()) / 1000.0);
            mode = Mode::Stopped;
        }
        break;
    }
    case MPV_EVENT_PROPERTY_CHANGE: {
        const auto *p = static_cast<const mpv_event_property *>(e->data);
        if (e->reply_userdata == kObsTimePos) {
            if (p->format == MPV_FORMAT_DOUBLE && isOpen && loaded && !waitingRestart
                && mode == Mode::Playing) {
                posSec = *static_cast<const double *>(p->data);
                posStampNs = steadyNs();
            }
        } else if (e->reply_userdata == kObsPause) {
            const bool paused = p->format == MPV_FORMAT_FLAG && *static_cast<const int *>(p->data);
            if (paused && isOpen && loaded && mode == Mode::Playing) {
                // Nobody here asked for this pause: with keep-open, mpv pauses
                // a file that played to its end. The event may be stale (read
                // before our own un-pause), so ask mpv before believing it.
                if (readFlag("pause", false)) {
                    mode = Mode::Stopped;
                    atEnd = readFlag("eof-reached", true);
                    const double at = atEnd ? double(lengthMs) / 1000.0
                                            : readDouble("time-pos", posSec);
                    markPosition(at);
                }
            }
        }
        break;
    }
    default:
        break;
    }
}

void MpvPlayer::Impl::pump()
{
    if (!h)
        return;
    for (;;) {
        mpv_event *e = mpv_wait_event(h, 0);
        if (e->event_id == MPV_EVENT_NONE)
            return;
        handle(e);
    }
}

bool MpvPlayer::Impl::waitUntil(double timeoutSec, const std::function<bool()> &done)
{
    const qint64 deadline = steadyNs() + qint64(timeoutSec * 1e9);
    while (!done()) {
        const qint64 left = deadline - steadyNs();
        if (left <= 0)
            return false;
        mpv_event *e = mpv_wait_event(h, double(left) / 1e9);
        if (e->event_id != MPV_EVENT_NONE)
            handle(e);
    }
    return true;
}

void MpvPlayer::Impl::setPause(bool paused)
{
    int flag = paused ? 1 : 0;
    mpv_set_property(h, "pause", MPV_FORMAT_FLAG, &flag);
}

bool MpvPlayer::Impl::readFlag(const char *name, bool dflt)
{
    int v = 0;
    if (mpv_get_property(h, name, MPV_FORMAT_FLAG, &v) < 0)
        return dflt;
    return v != 0;
}

double MpvPlayer::Impl::readDouble(const char *name, double dflt)
{
    double v = 0;
    if (mpv_get_property(h, name, MPV_FORMAT_DOUBLE, &v) < 0)
        return dflt;
    return v;
}

QString MpvPlayer::Impl::readString(const char *name)
{
    char *s = mpv_get_property_string(h, name);
    if (!s)
        return {};
    QString v = QString::fromUtf8(s);
    mpv_free(s);
    return v;
}

// mpv's own error lines, for the technically minded reader of a message.
QString MpvPlayer::Impl::detailsSuffix() const
{
    QStringList lines;
    for (const QString &l : logErrors)
        if (!lines.contains(l))
            lines << l;
    if (lines.isEmpty())
        return {};
    return QStringLiteral("\n（") + lines.join(QStringLiteral("；")) + QStringLiteral("）");
}

QString MpvPlayer::Impl::outputFailureText(const QString &path) const
{
    QString t = output == Output::System
                    ? QStringLiteral("无法打开声音输出设备（已尝试 PulseAudio/PipeWire 和 ALSA），"
                                     "不能播放：%1")
                    : QStringLiteral("无法打开空声音输出，不能播放：%1");
    return t.arg(path) + detailsSuffix();
}

void MpvPlayer::Impl::startSounding()
{
    setPause(false);
    posStampNs = steadyNs();
    mode = Mode::Playing;
    if (readString("current-ao").isEmpty()) {
        setPause(true);
        mode = Mode::Stopped;
        throw AudioError(outputFailureText(openedFile), AudioError::Cause::Output);
    }
}

void MpvPlayer::Impl::unload()
{
    if (!h)
        return;
    const char *cmd[] = {"stop", nullptr};
    mpv_command(h, cmd);
    loaded = false;
}

void MpvPlayer::Impl::failLoad(const QString &text, bool isOutputFailure)
{
    outputFailed = isOutputFailure;
    unload();
    entry = -1;
    resetOpenState();
    throw AudioError(text, isOutputFailure ? AudioError::Cause::Output : AudioError::Cause::File);
}

// Loads `path` paused and returns when it is ready to sound, with lengthMs
// set; throws AudioError (and leaves nothing loaded) otherwise.
void MpvPlayer::Impl::load(const QString &path)
{
    pump();
    logErrors.clear();
    endError = 0;
    outputFailed = false;
    sawStart = sawLoaded = sawRestart = sawEnd = false;
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
    mpv_node result;
    const int r = mpv_command_node(h, &cmd, &result);
    if (r < 0)
        failLoad(QStringLiteral("无法播放文件：%1（%2）")
                     .arg(path, QString::fromUtf8(mpv_error_string(r))));
    entry = -1;
    if (result.format == MPV_FORMAT_NODE_MAP) {
        for (int i = 0; i < result.u.list->num; ++i)
            if (std::strcmp(result.u.list->keys[i], "playlist_entry_id") == 0
                && result.u.list->values[i].format == MPV_FORMAT_INT64)
                entry = result.u.list->values[i].u.int64;
    }
    mpv_free_node_contents(&result);
    if (entry < 0)
        failLoad(QStringLiteral("无法播放文件：%1（libmpv 未接受该文件）").arg(path));
    loaded = true; // until an END_FILE says otherwise

    if (!waitUntil(kOpenTimeoutSec, [this] { return sawRestart || sawEnd; }))
        failLoad(QStringLiteral("打开文件超时（超过 %1 秒）：%2").arg(kOpenTimeoutSec).arg(path));
    if (sawEnd || !loaded) {
        const QString tail = detailsSuffix();
        switch (endError) {
        case MPV_ERROR_AO_INIT_FAILED:
            failLoad(outputFailureText(path), true);
        case MPV_ERROR_UNKNOWN_FORMAT:
            failLoad(QStringLiteral("不是可以播放的音频文件（无法识别文件格式）：%1").arg(path));
        case MPV_ERROR_NOTHING_TO_PLAY:
            failLoad(QStringLiteral("文件中没有声音：%1").arg(path));
        case MPV_ERROR_LOADING_FAILED:
            failLoad(QStringLiteral("无法读取文件：%1").arg(path) + tail);
        default:
            failLoad(QStringLiteral("无法播放文件：%1（%2）")
                         .arg(path, QString::fromUtf8(mpv_error_string(endError ? endError : MPV_ERROR_GENERIC)))
                     + tail);
        }
    }

    // The output is opened while the file loads; where it fails, mpv drops
    // the audio track just before or after PLAYBACK_RESTART.
    if (readString("current-ao").isEmpty())
        failLoad(outputFailureText(path), true);
    if (readString("current-tracks/audio/id").isEmpty())
        failLoad(QStringLiteral("文件中没有声音：%1").arg(path));

    const double duration = readDouble("duration", 0.0);
    const AudioFileFacts::Facts facts = AudioFileFacts::inspect(path, readString("file-format"));
    if (!facts.truncated.isEmpty())
        failLoad(QStringLiteral("文件不完整（%2），可能没有复制完：%1").arg(path, facts.truncated));
    lengthMs = facts.lengthMs ? *facts.lengthMs : qint64(std::llround(std::max(0.0, duration) * 1000.0));
    pump();
    if (!loaded) // dropped right after the restart
        failLoad(endError == MPV_ERROR_AO_INIT_FAILED
                     ? outputFailureText(path)
                     : QStringLiteral("无法播放文件：%1").arg(path),
                 endError == MPV_ERROR_AO_INIT_FAILED);
}

// After mpv dropped the file (its output was lost), loads it again.
void MpvPlayer::Impl::ensureLoaded()
{
    if (loaded)
        return;
    const double at = posSec;
    const qint64 keepLength = lengthMs;
    const bool keepEnd = atEnd;
    load(openedFile);
    isOpen = true;
    mode = Mode::Stopped;
    lengthMs = keepLength ? keepLength : lengthMs;
    atEnd = keepEnd;
    if (at > 0.0 && !keepEnd) {
        waitingRestart = true;
        double sec = at;
        mpv_set_property(h, "time-pos", MPV_FORMAT_DOUBLE, &sec);
        waitUntil(kSeekTimeoutSec, [this] { return !waitingRestart; });
        waitingRestart = false;
    }
    markPosition(at);
}

MpvPlayer::MpvPlayer(Output output) : d(new Impl)
{
    // The mpv core (its threads and buffers) starts with the first open():
    // the editor's and the ad-hoc window's players may never be used on a
    // day, and the bell player opens each file ahead of its second anyway.
    d->output = output;
}

MpvPlayer::~MpvPlayer()
{
    if (d->h)
        mpv_terminate_destroy(d->h);
    delete d;
}

void MpvPlayer::setFileName(const QString &path) { d->file = path; }
QString MpvPlayer::fileName() const { return d->file; }

void MpvPlayer::open()
{
    const QString path = d->file.isEmpty() ? QString() : QFileInfo(d->file).absoluteFilePath();
    auto refuse = [this](const QString &text) {
        close();
        throw AudioError(text);
    };
    if (!d->h) {
        d->create(); // also a second chance after a failed start
        if (!d->h)
            refuse(d->startError);
    }
    if (path.isEmpty())
        refuse(QStringLiteral("没有指定要打开的文件。"));
    const QFileInfo info(path);
    if (!info.exists())
        refuse(QStringLiteral("文件不存在：%1").arg(path));
    if (!info.isFile())
        refuse(QStringLiteral("不是文件：%1").arg(path));
    if (info.size() == 0)
        refuse(QStringLiteral("文件是空的（0 字节）：%1").arg(path));
    {
        QFile probe(path);
        if (!probe.open(QIODevice::ReadOnly))
            refuse(QStringLiteral("无法读取文件：%1（%2）").arg(path, probe.errorString()));
    }

    d->resetOpenState();
    d->openedFile = path;
    d->load(path); // replaces any open file; throws with nothing open
    d->isOpen = true;
    d->mode = Mode::Stopped;
    d->markPosition(0.0);
}

void MpvPlayer::close()
{
    if (!d->h || (!d->isOpen && !d->loaded)) {
        d->resetOpenState();
        return;
    }
    d->setPause(true);
    d->pump();
    if (d->loaded) {
        d->unload();
        d->loaded = true; // until its END_FILE arrives
        d->sawEnd = false;
        d->waitUntil(kCloseTimeoutSec, [this] { return d->sawEnd; });
        d->loaded = false;
    }
    d->entry = -1;
    d->resetOpenState();
}

void MpvPlayer::play()
{
    d->requireOpen();
    d->pump();
    try {
        d->ensureLoaded();
    } catch (const AudioError &) {
        if (d->outputFailed)
            throw;
        return; // a refusal: Mode stays other than Playing
    }
    std::optional<qint64> target = d->startPos;
    d->startPos.reset();
    if (!target && d->atEnd)
        target = 0;
    if (d->mode == Mode::Playing && !target)
        return;
    if (target) {
        double sec = double(std::clamp<qint64>(*target, 0, d->lengthMs)) / 1000.0;
        d->waitingRestart = true;
        mpv_set_property(d->h, "time-pos", MPV_FORMAT_DOUBLE, &sec);
        d->markPosition(sec);
    }
    d->atEnd = false;
    d->startSounding();
}

void MpvPlayer::stop()
{
    d->requireOpen();
    d->pump();
    if (d->mode != Mode::Playing && d->mode != Mode::Paused)
        return;
    d->setPause(true);
    d->mode = Mode::Stopped;
    if (d->loaded)
        d->markPosition(d->readDouble("time-pos", d->posSec));
}

void MpvPlayer::pause()
{
    d->requireOpen();
    d->pump();
    if (d->mode == Mode::Playing) {
        d->setPause(true);
        d->mode = Mode::Paused;
        if (d->loaded)
            d->markPosition(d->readDouble("time-pos", d->posSec));
    } else if (d->mode == Mode::Paused) {
        if (!d->loaded) {
            d->mode = Mode::Stopped;
            play();
            return;
        }
        d->startSounding();
    }
}

void MpvPlayer::seek(qint64 ms)
{
    d->requireOpen();
    d->pump();
    const qint64 target = std::clamp<qint64>(ms, 0, d->lengthMs);
    if (d->loaded) {
        d->setPause(true);
        d->mode = Mode::Stopped;
        double sec = double(target) / 1000.0;
        d->waitingRestart = true;
        if (mpv_set_property(d->h, "time-pos", MPV_FORMAT_DOUBLE, &sec) >= 0)
            d->waitUntil(kSeekTimeoutSec, [this] { return !d->waitingRestart || !d->loaded; });
        d->waitingRestart = false;
    }
    d->mode = Mode::Stopped;
    d->atEnd = false;
    d->markPosition(double(target) / 1000.0);
}

void MpvPlayer::setStartPosition(qint64 ms) { d->startPos = std::max<qint64>(0, ms); }

qint64 MpvPlayer::length() const
{
    d->requireOpen();
    return d->lengthMs;
}

qint64 MpvPlayer::position() const
{
    if (!d->isOpen)
        return 0;
    d->pump();
    return d->currentMs();
}

AudioPlayer::Mode MpvPlayer::mode() const
{
    if (!d->isOpen)
        return Mode::NotReady;
    d->pump();
    return d->mode;
}

QString MpvPlayer::currentOutput() const
{
    if (!d->h || !d->loaded)
        return {};
    return d->readString("current-ao");
}

// Placeholders until the player reports interruptions and applies its volume.
bool MpvPlayer::interrupted() const { return false; }
void MpvPlayer::setVolume(int) {}
int MpvPlayer::volume() const { return 100; }
