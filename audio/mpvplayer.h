#pragma once
#include "audioplayer.h"

#include <memory>

class MpvWorker;

// AudioPlayer on libmpv, whose calls never hold the caller (the GUI thread)
// longer than kCallBoundMs, however the sound server or a file behaves.
//
// How it works:
// - Each player has a worker thread that owns its mpv core (mpvworker.h)
//   and makes every libmpv call; the player hands each operation over and
//   waits for it up to the bound. The core (its threads and buffers) starts
//   with the first open(): the editor's and the ad-hoc window's players may
//   never be used on a day, and the bell player opens each file ahead of
//   its second anyway.
// - Past the bound the call throws AudioError with Cause::NoResponse (close()
//   and the destructor throw nothing and simply return); the player then has
//   no file open, and what the abandoned call still does when the server
//   answers is undone on the worker. While the worker is still inside a
//   call given up on, the next calls fail at once instead of waiting again,
//   so a stalled server costs a caller one bound, not one per call (a bell
//   due meanwhile fails at its second). A core stuck for longer than
//   kAbandonAfterMs is given up: the next call starts a fresh one, and the
//   stuck core is destroyed by its own thread once libmpv returns. So the
//   player recovers by itself when the server answers again.
// - open() returns when the file is loaded paused with its output open, so
//   that an unplayable file and a missing output fail there; play() only
//   un-pauses, and sound starts within a few milliseconds.
// - mode(), position(), length() and interrupted() read the state the worker
//   publishes after each operation and each event of mpv; they never wait.
//   A file that mpv drops while it sounds (END_FILE: its output died or its
//   decoder failed) turns Stopped with interrupted() true.
// - Output::System plays through the driver soundserver.h chooses when its
//   core starts: PulseAudio (PipeWire serves it too) when a server answers
//   (then for good), else ALSA; it never falls back to silence: where it cannot
//   open, open() (or play(), should the output be lost in between) throws.
// - A chosen output device (mpv's audio-device) that the server does not
//   offer (asked through that driver) when a file opens is replaced by the default output, and
//   missingOutput() names it: a bell rings on the wrong speaker rather than
//   not at all. A player set never-elsewhere (a zone's) is the exception:
//   its stream may not be moved by the server (pulsestayput.h), mpv may not
//   reopen it on another driver, and when the chosen output goes (mpv
//   watches the server's list) the file is dropped at once, interrupted.
// - mpv refuses to start under a non-"C" LC_NUMERIC: the constructor sets
//   LC_NUMERIC to "C" for the process if it is not; should libmpv still
//   fail to start, open() throws with the reason.
// - An open that outlasts the bound while the sound server answers (a
//   large or slow file on a loaded machine) is not given up: open() throws
//   Cause::Pending and the open goes on; opened() or openFailed() follows,
//   at the latest after kPendingLimitMs, or after kServerWaitLimitMs when
//   by then the open waits on the sound server rather than on its file
//   (both then as NoResponse: the server or the disk stalled meanwhile). While one is pending the player reads as
//   having nothing open. Where a call of any player is already stuck in
//   the server, an open is given up at the bound as before (NoResponse).
// - The worker's news (an open finished, a file ended or was dropped)
//   reaches this object on its own thread as queued calls, and leaves as
//   AudioPlayer's signals.
class MpvPlayer : public AudioPlayer {
public:
    // The longest a caller waits for any operation.
    static constexpr int kCallBoundMs = 200;
    // The bound while a call of any player is still stuck in the sound
    // server: one stall costs the clock one full bound, not one per player
    // (a healthy call answers within a few milliseconds). It lapses by
    // itself as soon as the server answers the stuck call.
    static constexpr int kStalledBoundMs = 50;
    // A core that has not come back from a given-up call for this long is
    // replaced by a fresh one (at most one stuck core per player waits for
    // its clean-up at a time; until then calls fail at once). Not sooner: a
    // fresh core only gets stuck in the same server, and each costs its
    // caller one bound; a stopped server, once it answers, releases the old
    // core by itself.
    static constexpr int kAbandonAfterMs = 5000;
    // The longest an open may go on in the background. Beyond the core's
    // own limit for a load, so that a slow file is reported as what it is.
    static constexpr int kPendingLimitMs = 8000;
    // A sound server answers within milliseconds even on a loaded machine
    // (it runs at a raised priority); an open waiting on it this long
    // meets a stalled one.
    static constexpr int kServerWaitLimitMs = 2000;

    enum class Output {
        System, // the system's default output (PulseAudio/PipeWire, else ALSA)
        Null    // mpv's null output, for tests and benchmarks
    };
    // `device`: libmpv's name of the output to sound on (empty: the
    // system default), as setOutputDevice().
    explicit MpvPlayer(Output output = Output::System, const QString &device = {});
    ~MpvPlayer() override;
    MpvPlayer(const MpvPlayer &) = delete;
    MpvPlayer &operator=(const MpvPlayer &) = delete;

    void setFileName(const QString &path) override;
    QString fileName() const override;
    void open() override;
    void openAsync() override;
    bool opening() const override;
    void close() override;
    void play() override;
    void stop() override;
    void pause() override;
    void seek(qint64 ms) override;
    void setStartPosition(qint64 ms) override;
    qint64 length() const override;
    qint64 position() const override;
    Mode mode() const override;
    bool interrupted() const override;
    // Percent of the file's own amplitude (20 gives a fifth of the level).
    void setVolume(int percent) override;
    int volume() const override;

    // The device is handed to the core with each open(); the list is read
    // on the worker like every other call (within kCallBoundMs).
    void setOutputDevice(const QString &name) override;
    QString outputDevice() const override;
    QString missingOutput() const override;
    QList<AudioOutputDevice> outputDevices() override;
    void setConfinedTo(const QString &folder) override;
    qint64 outputLatencyMs() const override;
    void setNeverElsewhere(bool on) override;

    // The audio output mpv opened for the current file ("pulse", "alsa",
    // "null"), empty when none. For diagnostics and tests.
    QString currentOutput() const;
    // Stuck cores of all players still waiting for their clean-up.
    static int coresAwaitingCleanup();

private:
    // Hands the open over; waits up to the bound unless `async`. Throws as
    // open() does (Pending included).
    void startOpen(bool async);
    // True when an open was still going on (the worker closes what it opens).
    bool cancelPending();
    void pendingTimedOut();
    struct Impl;
    std::unique_ptr<Impl> d;
};
