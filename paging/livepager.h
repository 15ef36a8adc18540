#pragma once
// The voice of a live announcement, carried by the engine itself through
// libpulse: one record stream from the input and one playback stream per
// output, in fragments of a few milliseconds, on a threaded main loop of
// its own. Nothing is loaded into the sound server, so when the process
// ends the server drops its streams: a microphone never stays live by
// accident. The voice fades in and out (no click); an optional chime
// plays before it, paced by the input's own clock. The input's level is
// kept for a meter.
//
// Samples are 32-bit float mono at kRate; the server converts for each
// device. Streams never move to another device: a zone's voice goes to its
// own output or nowhere.
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

class LivePager {
public:
    static constexpr int kRate = 48000;
    static constexpr int kFragmentMs = 5;   // what the input hands on at a time
    static constexpr int kTargetMs = 15;    // what each output holds at most
    static constexpr int kFadeMs = 20;
    static constexpr int kOpenTimeoutMs = 3000;
    static constexpr int kCloseTimeoutMs = 300;

    struct Output {
        QString sink;  // the server's sink name; empty: its default sink
        QString label; // how the operator knows it
    };
    struct Started {
        QString error;        // nothing sounds, and why (no server, no input, no output)
        QString inputNote;    // the chosen input was missing: the default one is used
        QStringList silent;   // outputs that do not sound, each with its reason
        std::vector<int> ok;  // indices of the outputs that sound
    };
    struct Level {
        float peak = 0; // since the last read, 0 … 1
        float rms = 0;  // of the last fragment
    };

    LivePager();
    ~LivePager(); // stops as stop() does
    LivePager(const LivePager &) = delete;
    LivePager &operator=(const LivePager &) = delete;

    // Connects and starts; returns once every stream is up or has failed
    // (kOpenTimeoutMs at most). source: the server's source name, empty for
    // its default. chime: samples at kRate played before the voice.
    Started start(const QString &source, const std::vector<Output> &outputs, std::vector<float> chime = {});
    // Fades out, lets the outputs play what they hold, and closes
    // everything (kCloseTimeoutMs at most).
    void stop();
    bool active() const;
    // The input failed while it played (a microphone unplugged).
    bool inputLost() const;
    Level level();
    // Whether the chime has been played out (or there is none).
    bool chimeDone() const;

    // "ding-dong": about a second at kRate.
    static std::vector<float> makeChime();
    // The server's sink name of a player's device name ("pulse/x" → "x",
    // "" → "" the default); nullopt for a device of another driver.
    static std::optional<QString> sinkOf(const QString &device);
    // The sources the server offers (name, description), monitors left out;
    // nullopt when the server did not answer.
    struct Source {
        QString name, description;
    };
    static std::optional<std::vector<Source>> sources(int timeoutMs = 1000);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
