#pragma once
// The player contract every window uses: one file at a time, times in
// milliseconds. Operations that need an open file throw
// AudioError("No MCI device open") when none is. mode() and position()
// answer at once; what happens by itself (a file ends, its output dies, an
// open that went on in the background finishes) is published as a signal on
// the thread the player lives in, so nobody has to poll.
#include "apperror.h"

#include <QList>
#include <QMetaType>
#include <QObject>

class AudioError : public AppError {
public:
    // File: the file cannot be played. Output: no sound output could be
    // opened. NoResponse: the player or the sound server did not answer
    // within the player's bound; the call was abandoned, not the player.
    // Pending: the open is slow (a large file on a loaded machine); it goes
    // on in the background and opened() or openFailed() follows.
    enum class Cause { File, Output, NoResponse, Pending };
    explicit AudioError(const QString &text, Cause cause = Cause::File)
        : AppError(text), m_cause(cause) {}
    Cause cause() const { return m_cause; }
    // The file was fine but the output failed or did not answer: worth
    // trying again a moment later.
    bool isOutputFailure() const { return m_cause == Cause::Output || m_cause == Cause::NoResponse; }
    bool isNoResponse() const { return m_cause == Cause::NoResponse; }
    bool isPending() const { return m_cause == Cause::Pending; }

private:
    Cause m_cause;
};

// One output the sound server offers: libmpv's device name (what the settings
// keep, e.g. "pulse/alsa_output.usb-…") and its description for the operator.
struct AudioOutputDevice {
    QString name;
    QString description;
};

inline const char *const kNoDeviceOpen = "No MCI device open";

class AudioPlayer : public QObject {
    Q_OBJECT
public:
    enum class Mode { NotReady = 0, Stopped = 1, Playing = 2, Recording = 3,
                      Seeking = 4, Paused = 5, Open = 6 };

    explicit AudioPlayer(QObject *parent = nullptr) : QObject(parent) {}
    ~AudioPlayer() override = default;

    // Full path of the file the next Open opens.
    virtual void setFileName(const QString &path) = 0;
    virtual QString fileName() const = 0;

    // Closes any open file, opens fileName(); returns when loaded (position 0,
    // Stopped). Throws AudioError with a clear text on failure; nothing is
    // open afterwards. An open that outlasts the player's bound throws
    // Cause::Pending and goes on: opened() or openFailed() follows.
    virtual void open() = 0;
    // Starts opening fileName() and returns at once; exactly one of opened()
    // or openFailed() follows (never from inside this call). The default
    // runs open() from the event loop.
    virtual void openAsync();
    // An open is still going on in the background.
    virtual bool opening() const { return false; }
    // Closes the file, stopping it if it plays; never throws.
    virtual void close() = 0;
    // Starts from the one-shot start position if set, else the current one.
    // A refusal throws nothing but leaves mode() other than Playing, except
    // where no sound output can be opened: that throws AudioError.
    virtual void play() = 0;
    virtual void stop() = 0;
    // Playing -> Paused, Paused -> Playing, otherwise nothing.
    virtual void pause() = 0;
    // Moves the position; the file is stopped there afterwards.
    virtual void seek(qint64 ms) = 0;
    // Allowed with no file open; consumed by the next play().
    virtual void setStartPosition(qint64 ms) = 0;
    virtual qint64 length() const = 0;
    // Both answer at once. With no file open: position 0, mode NotReady.
    virtual qint64 position() const = 0;
    virtual Mode mode() const = 0;

    // True when the file that played stopped because its output or decoder
    // failed, not at its end or by stop(); cleared by open() and close().
    virtual bool interrupted() const = 0;
    // Output level of this player, 0–100 (default 100); kept across files.
    virtual void setVolume(int percent) = 0;
    virtual int volume() const = 0;

    // The output the next open() sounds on, by its device name; empty is the
    // system default. A player without a choice of outputs ignores it.
    virtual void setOutputDevice(const QString &name) { (void)name; }
    virtual QString outputDevice() const { return {}; }
    // The chosen output when it was missing as the open file loaded, which
    // then sounds on the system default output instead; empty otherwise.
    virtual QString missingOutput() const { return {}; }
    // The outputs the sound server offers now; throws AudioError where it
    // cannot tell within the player's bound.
    virtual QList<AudioOutputDevice> outputDevices() { return {}; }
    // Set: the player sounds on its chosen output or nowhere. When that
    // output goes while a file is open, the file stops at once (ended(true)
    // when it sounded) instead of following the sound server to another
    // output, and play() throws an output failure until the output is back.
    // A zone's player: another output is another building.
    virtual void setNeverElsewhere(bool on) { (void)on; }

    // Only files inside this folder open (after following every symbolic
    // link); empty: any folder. The bell player is confined to 音乐/.
    virtual void setConfinedTo(const QString &folder) { (void)folder; }
    // The output's own latency as the player learns it once a file has
    // sounded for a moment (what lies between "started" and "heard"); 0 when
    // unknown.
    virtual qint64 outputLatencyMs() const { return 0; }

    bool isPlaying() const { return mode() == Mode::Playing; }

signals:
    // An open that went on in the background (openAsync(), or open() past
    // its bound) has loaded fileName(): Stopped at position 0.
    void opened();
    // Such an open failed; the text is the one open() would have thrown.
    void openFailed(const QString &text, AudioError::Cause cause);
    // The file that played stopped by itself: at its end (interrupted
    // false), or because its output or decoder failed (true, and
    // interrupted() then answers true). Not sent for stop(), close() or a
    // new open().
    void ended(bool interrupted);
    // A caller's stop() or close() ended the file that played or was
    // paused (sent after the call has done it).
    void stopped();
};

Q_DECLARE_METATYPE(AudioError::Cause)
