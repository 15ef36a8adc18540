#pragma once
// Stand-ins for the operator and the wall clock, shared by every test suite.
#include "audioplayer.h"
#include "seams.h"

#include <QDateTime>
#include <QHash>
#include <QStringList>
#include <QTemporaryDir>
#include <deque>
#include <functional>

class FakeClock : public Clock {
public:
    explicit FakeClock(QDateTime t = QDateTime(QDate(2026, 12, 7), QTime(8, 0, 0)))
        : m_now(std::move(t)) {}
    QDateTime now() const override { return m_now; }
    void set(const QDateTime &t) { m_now = t; }
    void setTime(const QTime &t) { m_now.setTime(t); }
    void advanceMs(qint64 ms) { m_now = m_now.addMSecs(ms); }

private:
    QDateTime m_now;
};

// Records every box and answers from a script (default: OK / Yes).
class FakeMessages : public Messages {
public:
    struct Shown {
        QString kind; // "plain", "Error", "Confirm", "Information", "Warning", "general", "okCancel"
        QString text;
        QString caption;
    };
    QList<Shown> shown;
    std::deque<Answer> answers;
    // Runs while a box is "open", so a test can let timers tick inside it.
    std::function<void(const Shown &)> whileOpen;

    void plain(const QString &text) override { record({"plain", text, {}}); }
    void typedOk(Kind kind, const QString &text) override { record({kindName(kind), text, {}}); }
    Answer yesNo(Kind kind, const QString &text) override
    {
        record({kindName(kind), text, {}});
        return next(Answer::Yes);
    }
    // Recorded with the caption "&No": the box's default button.
    Answer noYes(Kind kind, const QString &text) override
    {
        record({kindName(kind), text, "&No"});
        return next(Answer::Yes);
    }
    void generalError(const QString &text) override { record({"general", errorText(text), {}}); }
    Answer okCancel(const QString &caption, const QString &text) override
    {
        record({"okCancel", text, caption});
        return next(Answer::Ok);
    }

    QStringList texts() const
    {
        QStringList t;
        for (const auto &s : shown)
            t << s.text;
        return t;
    }
    int count(const QString &text) const
    {
        int n = 0;
        for (const auto &s : shown)
            n += s.text == text;
        return n;
    }
    static QString kindName(Kind k)
    {
        switch (k) {
        case Kind::Error: return "Error";
        case Kind::Confirm: return "Confirm";
        case Kind::Information: return "Information";
        case Kind::Warning: return "Warning";
        }
        return {};
    }

private:
    void record(const Shown &s)
    {
        shown.append(s);
        if (whileOpen)
            whileOpen(s);
    }
    Answer next(Answer dflt)
    {
        if (answers.empty())
            return dflt;
        Answer a = answers.front();
        answers.pop_front();
        return a;
    }
};

class FakeFileDialogs : public FileDialogs {
public:
    std::deque<std::optional<QString>> openAnswers;
    std::deque<QStringList> openManyAnswers;
    std::deque<std::optional<QString>> saveAnswers;
    QStringList openStartPaths, proposedNames;

    std::optional<QString> openFile(const QString &startPath) override
    {
        openStartPaths << startPath;
        return pop(openAnswers);
    }
    QStringList openFiles() override
    {
        if (openManyAnswers.empty())
            return {};
        QStringList l = openManyAnswers.front();
        openManyAnswers.pop_front();
        return l;
    }
    std::optional<QString> saveFile(const QString &proposedName) override
    {
        proposedNames << proposedName;
        return pop(saveAnswers);
    }

private:
    static std::optional<QString> pop(std::deque<std::optional<QString>> &q)
    {
        if (q.empty())
            return std::nullopt;
        auto v = q.front();
        q.pop_front();
        return v;
    }
};

// A player that follows a FakeClock: a file "plays" from the moment play()
// is called until its length has passed on the clock. open() succeeds for
// any existing file that is not empty; lengths come from setLength() or
// default to 5 s. The signals of the contract come from advance() (the
// file's end, once the clock has passed it), interruptNow() and the
// scripted slow open.
class FakePlayer : public AudioPlayer {
public:
    explicit FakePlayer(const FakeClock *clock) : m_clock(clock) {}

    QHash<QString, qint64> lengths; // by file name (not path)
    qint64 defaultLength = 5000;
    QStringList log;                // "open <name>", "play", "stop", …
    int playCount = 0;

    void setFileName(const QString &p) override { m_file = p; }
    QString fileName() const override { return m_file; }
    void open() override;
    void close() override;
    void play() override;
    void stop() override;
    void pause() override;
    void seek(qint64 ms) override;
    void setStartPosition(qint64 ms) override { m_start = ms; }
    qint64 length() const override;
    qint64 position() const override;
    Mode mode() const override;
    bool interrupted() const override { return m_interrupted; }
    void setVolume(int percent) override { m_volume = std::clamp(percent, 0, 100); volumes << m_volume; }
    int volume() const override { return m_volume; }
    // What the output's own latency reads (0: not known).
    qint64 latencyMs = 0;
    qint64 outputLatencyMs() const override { return latencyMs; }
    // Names (not paths) of the files played, in order.
    QStringList played;
    // Every volume set, in order.
    QList<int> volumes;

    // Scripted faults. While outputDown is set, open() and play() throw an
    // output failure (NoResponse when hung is set too).
    bool outputDown = false;
    bool hung = false;
    // The output dies under the playing file: it stops, interrupted() turns
    // true, ended(true) is sent.
    void interruptNow();
    // Sends ended(false) once the playing file's length has passed on the
    // clock; fixtures call it on every tick.
    void advance();

    // A slow file: while set, open() throws Cause::Pending and the open goes
    // on until finishOpen() (opened(), or openFailed() when the file is bad).
    bool slowOpen = false;
    bool opening() const override { return m_opening; }
    void finishOpen();

    // Outputs: the device set, the list offered (listFails: the server does
    // not answer).
    QString device;
    QString missing; // what missingOutput() answers
    QList<AudioOutputDevice> offered;
    bool listFails = false;
    void setOutputDevice(const QString &name) override { device = name; }
    QString outputDevice() const override { return device; }
    QString missingOutput() const override { return missing; }
    QList<AudioOutputDevice> outputDevices() override
    {
        if (listFails)
            throw AudioError(QStringLiteral("声音服务器没有回答。"), AudioError::Cause::NoResponse);
        return offered;
    }

private:
    void requireOpen() const;
    qint64 nowMs() const { return m_clock->now().toMSecsSinceEpoch(); }
    const FakeClock *m_clock;
    QString m_file;
    bool m_open = false;
    bool m_playing = false;
    bool m_paused = false;
    qint64 m_length = 0;
    qint64 m_pos = 0;       // position when not playing
    qint64 m_playStart = 0; // clock ms at which position 0 would have been
    std::optional<qint64> m_start;
    bool m_interrupted = false;
    bool m_endSent = false;
    bool m_opening = false;
    int m_volume = 100;
    void load(); // the open itself; throws like open()
    void throwIfOutputDown() const;
};

// A temporary program home with data/ and 音乐/.
class TempHome {
public:
    TempHome();
    QString path() const { return m_dir.path() + QStringLiteral("/"); }
    QString music() const { return path() + QStringLiteral("音乐/"); }
    QString db() const { return path() + QStringLiteral("data/dbDaLing.db"); }
    // A small non-empty placeholder (enough for FakePlayer).
    QString touchMusic(const QString &name, const QByteArray &bytes = "RIFF") const;
    // The program (or its emergency command) placed in this home, linked or
    // copied, so that it finds its data here as it does beside itself.
    // Returns the new path; empty when it could not be placed.
    QString place(const QString &executable) const;

private:
    QTemporaryDir m_dir;
};

// Real audio generated with ffmpeg: a sine tone of the given length.
// Returns the path, or an empty text when ffmpeg is missing.
QString makeTone(const QString &path, double seconds, int hz = 880);
