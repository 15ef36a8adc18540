#pragma once
#include "audioplayer.h"

struct mpv_handle;

// AudioPlayer on libmpv: one mpv handle per player, driven synchronously
// through mpv's own event queue so that no Qt event runs inside open().
//
// How it works:
// - The handle is created in the constructor (about 5 ms) with config=no,
//   video=no, idle=yes, keep-open=yes and pause=yes, so that every file is
//   loaded paused and stays loaded at its end.
// - open() loads the file and waits on mpv's event queue until playback is
//   ready (the decoder produced audio and the audio output is open), so that
//   a file that cannot be played, and an output that cannot be opened, fail
//   here with a clear AudioError. play() then only un-pauses: the output
//   stream is already open, and sound starts within a few milliseconds.
// - mode() and position() read a cache kept from mpv's events (never a
//   blocking call on the player's core); a file that ends turns Stopped by
//   itself, detected when mpv pauses it at its end (keep-open).
// - Output::System tries PulseAudio (PipeWire serves it too), then ALSA, and
//   never falls back to silence: where neither opens, open() (or play(),
//   should the output be lost in between) throws.
// - mpv refuses to start under a non-"C" LC_NUMERIC. The constructor sets
//   LC_NUMERIC to "C" for the process if it is not (Qt formats numbers
//   through QLocale and is not affected); should libmpv still fail to start,
//   the constructor does not throw but open() does, with the reason.
class MpvPlayer : public AudioPlayer {
public:
    enum class Output {
        System, // the system's default output (PulseAudio/PipeWire, else ALSA)
        Null    // mpv's null output, for tests and benchmarks
    };
    explicit MpvPlayer(Output output = Output::System);
    ~MpvPlayer() override;
    MpvPlayer(const MpvPlayer &) = delete;
    MpvPlayer &operator=(const MpvPlayer &) = delete;

    void setFileName(const QString &path) override;
    QString fileName() const override;
    void open() override;
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
    void setVolume(int percent) override;
    int volume() const override;

    // The audio output mpv opened for the current file ("pulse", "alsa",
    // "null"), empty when none. For diagnostics and tests.
    QString currentOutput() const;

private:
    struct Impl;
    Impl *d;
};
