#pragma once
// One libmpv core (mpv_handle) and the state of the file it holds. Used only
// on its worker's thread (mpvworker.h): every call here may block as long
// as libmpv or the sound server takes.
//
// The core is made with config=no, video=no, idle=yes, keep-open=yes and
// pause=yes, so that every file is loaded paused and stays loaded at its end.
// open() waits on mpv's event queue until playback is ready (the decoder
// produced audio and the output is open), so that an unplayable file and a
// missing output fail there; play() then only un-pauses. The state is kept
// from mpv's events; a file that ends turns Stopped by itself, detected when
// mpv pauses it at its end (keep-open).
#include "audioplayer.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>

struct mpv_handle;
struct mpv_event;

// What the player's callers see, copied out after every job and event.
struct CoreState {
    bool isOpen = false;
    AudioPlayer::Mode mode = AudioPlayer::Mode::NotReady;
    qint64 lengthMs = 0;
    double posSec = 0;      // last known position
    qint64 posStampNs = 0;  // when posSec was true (steady clock)
    quint64 posMarks = 0;   // counts positions set on purpose (seek, stop, open)
    bool interrupted = false;
    QString currentAo;      // the output the open file loaded with
    QString missingDevice;  // the chosen device, missing when the file loaded
    qint64 outputLatencyMs = 0; // measured after the last start; 0: not yet
};

class MpvCore {
public:
    // How the sound server names this program's streams.
    static constexpr const char *kClientName = "daling";
    // `systemOutput`: PulseAudio (PipeWire serves it too), then ALSA, never
    // silence; otherwise mpv's null output. `mpvVolume` is mpv's own scale.
    MpvCore(bool systemOutput, double mpvVolume);
    ~MpvCore(); // mpv_terminate_destroy: may block on a stuck server
    MpvCore(const MpvCore &) = delete;
    MpvCore &operator=(const MpvCore &) = delete;

    // Long waits inside a job (a load, a seek) end early when this says so:
    // the core is being destroyed.
    void setCancelled(std::function<bool()> cancelled) { m_cancelled = std::move(cancelled); }
    // Calls `fn(ctx)` from libmpv's threads when events are waiting.
    void setWakeup(void (*fn)(void *), void *ctx);
    bool started() const { return m_h != nullptr; }

    // The operations behind the player's, without the "no file open"
    // check; open() checks the file and starts the core first if needed.
    // Throw AudioError.
    // `confinedTo`: a folder the file must lie in (empty: anywhere).
    void open(const QString &path, const QString &confinedTo = {});
    void close();
    void play(std::optional<qint64> startMs);
    void stop();
    void pause();
    void seek(qint64 ms);
    void setVolume(double mpvVolume);
    // The device the next load opens (libmpv's name; empty: the default).
    void setDevice(const QString &name) { m_device = name; }
    // Set: the file never sounds on another output than the chosen one
    // (AudioPlayer::setNeverElsewhere).
    void setNeverElsewhere(bool on) { m_neverElsewhere = on; }
    // A file sounds, or waits paused, on a chosen output it must not leave:
    // the worker asks now and then whether that output is still there
    // (dropIfOutputGone).
    bool watchesOutput() const;
    // The output went: the file is dropped (an interruption when it
    // sounded). True when it was dropped.
    bool dropIfOutputGone();
    // "auto" and the outputs of the process's sound server (soundserver.h).
    QList<AudioOutputDevice> devices();
    // Handles the events waiting, without blocking on the queue
    // (mpvevents.cpp, with the waits for events).
    void pump();
    CoreState state() const { return m_s; }
    // True while open() has not yet read its file: read on any thread.
    bool readingFile() const { return m_readingFile; }
    // Counts the files that stopped sounding by themselves (at their end, or
    // dropped by their output or decoder), and how the last one stopped.
    quint64 endsSoFar() const { return m_ends; }
    // Counts opens and closes: tells which file an end belonged to.
    quint64 loadsSoFar() const { return m_loads; }
    bool lastEndInterrupted() const { return m_lastEndInterrupted; }

    static qint64 steadyNs()
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

private:
    enum : uint64_t { kObsTimePos = 1, kObsPause = 2 }; // observed properties

    void start();
    void handle(const mpv_event *e);
    bool waitUntil(double timeoutSec, const std::function<bool()> &done);
    void setPause(bool paused);
    bool readFlag(const char *name, bool dflt);
    double readDouble(const char *name, double dflt);
    QString readString(const char *name);
    void markPosition(double sec);
    qint64 currentMs() const;
    void resetOpenState();
    void load(const QString &path);
    // Points mpv at m_device when the server offers it, else at the default
    // output (noted in the state as missingDevice).
    // `offered`: the server's outputs, nullopt when it did not answer.
    void applyDevice(const std::optional<QList<AudioOutputDevice>> &offered);
    // The sound server offers only its stand-in for a PC without a sound
    // card (PipeWire's and PulseAudio's "auto_null").
    bool onlyDummyOutput(const QList<AudioOutputDevice> &offered);
    // A never-elsewhere core on a chosen output: only that output's driver,
    // and streams the server may not move (pulsestayput.h).
    void applyStayPut();
    bool chosenOutputOffered();
    [[noreturn]] void failLoad(const QString &text, bool isOutputFailure = false);
    [[noreturn]] void failLoad(const QString &text, AudioError::Cause cause);
    // Un-pauses and checks that the output the file loaded with is still
    // there: a bell that cannot sound must never read as playing.
    void startSounding();
    void ensureLoaded();
    void unload();

    bool m_system;
    double m_volume;
    QString m_device;
    bool m_neverElsewhere = false;
    bool m_stayPutApplied = false;
    QString m_appliedDevice = QStringLiteral("auto"); // mpv's audio-device now
    mpv_handle *m_h = nullptr;
    std::function<bool()> m_cancelled;
    void (*m_wakeup)(void *) = nullptr;
    void *m_wakeupCtx = nullptr;

    CoreState m_s;
    std::atomic<bool> m_readingFile{false};
    QString m_openedFile;
    bool m_loaded = false;     // mpv holds the file (losing the output unloads it)
    int64_t m_entry = -1;      // mpv's playlist entry id of the open file
    bool m_waitingRestart = false; // a seek is on its way: time-pos is stale
    bool m_atEnd = false;      // played to its end: the next play() starts at 0
    QStringList m_logErrors;   // mpv's error lines since the last load
    int m_endError = 0;        // error of an END_FILE for the open entry
    bool m_outputFailed = false; // the last load failed for want of an output
    qint64 m_soundingSinceNs = 0;  // when play() last un-paused, for the latency
    double m_soundingFromSec = 0;
    quint64 m_ends = 0;
    quint64 m_loads = 0;
    bool m_lastEndInterrupted = false;
    // Events seen by waits.
    bool m_sawStart = false, m_sawLoaded = false, m_sawRestart = false, m_sawEnd = false;
};
