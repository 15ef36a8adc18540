#pragma once
// The player contract every window uses: one file at a time, times in
// milliseconds, mode numbers as the callers poll them. Operations that need
// an open file throw AudioError("No MCI device open") when none is.
#include <QString>
#include <stdexcept>

class AudioError : public std::runtime_error {
public:
    enum class Cause { File, Output };
    explicit AudioError(const QString &text, Cause cause = Cause::File)
        : std::runtime_error(text.toStdString()), m_text(text), m_cause(cause) {}
    QString text() const { return m_text; }
    // Output: the file was fine but no sound output could be opened.
    bool isOutputFailure() const { return m_cause == Cause::Output; }

private:
    QString m_text;
    Cause m_cause;
};

inline const char *const kNoDeviceOpen = "No MCI device open";

class AudioPlayer {
public:
    enum class Mode { NotReady = 0, Stopped = 1, Playing = 2, Recording = 3,
                      Seeking = 4, Paused = 5, Open = 6 };

    virtual ~AudioPlayer() = default;

    // Full path of the file the next Open opens.
    virtual void setFileName(const QString &path) = 0;
    virtual QString fileName() const = 0;

    // Closes any open file, opens fileName(); returns when loaded (position 0,
    // Stopped). Throws AudioError with a clear text on failure; nothing is
    // open afterwards.
    virtual void open() = 0;
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

    bool isPlaying() const { return mode() == Mode::Playing; }
};
