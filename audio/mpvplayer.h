#pragma once
#include "audioplayer.h"

struct mpv_handle;

// AudioPlayer on libmpv: one mpv handle per player, driven synchronously
// through mpv's own event queue so that no Qt event runs inside open().
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

private:
    struct Impl;
    Impl *d;
};
