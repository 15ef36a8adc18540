#pragma once
// One sound in several places at once: a file opened on one player per
// target (a zone's output, or a main output such as 铃声输出 or 广播输出),
// started together, each target watched on its own. A target whose output
// is missing, fails or stalls only silences itself; one whose output goes
// while it plays is cut off there alone. A zone is heard on its own output
// or nowhere: a player that would sound on the default output instead is
// closed before it starts.
//
// What is not heard at the start: a file still loading starts the moment
// it has loaded; a silent output (not a bad file) is tried again each
// second while the caller's window lasts, or when the caller says (its
// clock paces the tries). A sound opened ahead may wait for the caller's
// cue, each target with a 提前 starting by itself that much before. Signals tell the caller what each
// target does, by its index in the list given to play(); none is sent once
// stop() or the next play() has been called for the run before.
#include "audioplayer.h"

#include <QElapsedTimer>
#include <QObject>
#include <functional>
#include <optional>

class PlayerPool;

struct SoundTarget {
    qint64 zone = 0;  // the zone's id; 0: a main output
    QString name;     // what the operator reads: a zone's name, 铃声输出 …
    QString device;   // libmpv's device name; empty: the system default
    int leadMs = 0;   // 提前: started this much before the moment asked
    // Sounds on its own output or nowhere (every zone does).
    bool ownOutputOnly = true;
};

class OutputGroup : public QObject {
    Q_OBJECT
public:
    // The player of a target; nullptr when it cannot be made.
    using Source = std::function<AudioPlayer *(const SoundTarget &target)>;

    enum class State { Idle, Loading, Ready, Sounding, Silent, Ended };
    struct Options {
        // Opened in the background, each target started as soon as it has
        // its file (nobody waits for a slow output); else opened one after
        // the other and started together once all are open.
        bool background = false;
        // Silent outputs are tried again each kRetryMs while this many ms
        // since play() have not passed; negative: until stop().
        int retryWindowMs = 0;
        // From the top at each end; a target cut off is opened again.
        bool loop = false;
        // Opened only (ready() tells each): the caller starts the players.
        bool hold = false;
        // Started this many ms after play() (each target its 提前 earlier);
        // unset: at once.
        std::optional<qint64> startInMs;
        // Called on a target's player before each of its opens (a volume,
        // a folder it is confined to).
        std::function<void(AudioPlayer &)> prepare;
        // Opened now, started at cue(): only a target with a 提前 starts by
        // itself, that much before startInMs. A target whose player is busy
        // (the sound before still plays there) is opened at cue() only.
        bool cue = false;
        // Silent outputs are tried again only at retry(), until endRetries().
        bool retryOnCall = false;
        // How the operator knows an output (unset: the sound server's label).
        std::function<QString(const QString &device)> label;
    };

    static constexpr int kRetryMs = 1000;
    // The player of a target could not be made.
    static inline const QString kNoPlayerReason = QStringLiteral("声音输出无法使用");
    static inline const QString kLoadingReason = QStringLiteral("铃声文件还在读取");
    // "甲（why）": a silent zone as every text names it.
    static QString silentText(const QString &name, const QString &why);
    // "以下分区没有播出：甲（…）；乙（…）".
    static QString silentZonesText(const QStringList &namesAndReasons);
    // Why a zone whose output is missing stays silent.
    static QString missingOutputReason(const QString &device);
    // "以下分区的声音输出恢复后补播…：乙（3200 毫秒）": zones heard late.
    static QString lateZonesText(const QStringList &namesAndDelays);
    // "以下分区的声音输出在播放中途中断…：甲、乙": zones cut off mid-sound.
    static QString cutZonesText(const QStringList &names);

    explicit OutputGroup(Source source, QObject *parent = nullptr);
    // Players from the pool, by the target's zone and output.
    explicit OutputGroup(PlayerPool &pool, QObject *parent = nullptr);
    ~OutputGroup() override;

    // Opens file in every target and starts them (see Options). Outcomes
    // decided at once are signalled from inside this call.
    void play(const QString &file, const QList<SoundTarget> &targets, const Options &options);
    void play(const QString &file, const QList<SoundTarget> &targets) { play(file, targets, Options{}); }
    // Stops every target that has something open (closes its file when
    // close is set); no signal of this run follows.
    void stop(bool close = false);
    // Opens another file in one target (where the file asked for will not
    // play there).
    void replay(int index, const QString &file);
    // With Options::cue: the moment has come. Starts every target opened,
    // opens and starts those still waiting or silent; a file still loading
    // starts once loaded.
    void cue();
    // With Options::retryOnCall: tries a silent output again now.
    void retry(int index);
    // The caller's window has ended: no silent output is tried again, and
    // a file still loading is given up (silent, kLoadingReason).
    void endRetries();

    int size() const { return int(m_targets.size()); }
    const SoundTarget &target(int index) const { return m_targets[index].target; }
    State state(int index) const { return m_targets[index].state; }
    // Why the target is silent (its latest reason).
    QString why(int index) const { return m_targets[index].why; }
    // The player's own error that silenced the target (none when it has
    // no player or its output is missing).
    const AudioError *error(int index) const
    {
        return m_targets[index].error ? &*m_targets[index].error : nullptr;
    }
    AudioPlayer *player(int index) const { return m_targets[index].player; }
    int indexOf(const AudioPlayer *p) const;
    // Some target sounds; some target still loads its file; some silent
    // output is still tried.
    bool sounding() const { return any(State::Sounding); }
    bool loading() const { return any(State::Loading) || any(State::Ready); }
    bool retrying() const;
    // The players that sound now, in the targets' order.
    QList<AudioPlayer *> soundingPlayers() const;

signals:
    // Its file is open (with Options::hold: waiting for the caller).
    void ready(int index);
    void started(int index);
    // retryable: the output failed, not the file (it is tried again while
    // the window lasts). cause: the player's, for the caller's fallbacks.
    void silent(int index, const QString &why, bool retryable, AudioError::Cause cause);
    // Its output went while it played.
    void cut(int index);
    // Played to its end (not sent in a loop).
    void endedIn(int index);
    // Nothing sounds any more, nothing loads and nothing is tried again.
    void ended();

private:
    struct Live {
        SoundTarget target;
        AudioPlayer *player = nullptr;
        State state = State::Idle;
        QString why;
        QString file;
        bool retry = false; // silent, and its output is tried again
        std::optional<AudioError> error;
    };
    bool any(State s) const;
    bool windowOpen() const;
    QString missingText(const QString &device) const;
    AudioPlayer *connectPlayer(Live &l);
    // Opens the target's file; false when it is silent already.
    bool open(int index);
    // Starts a target whose file is open (or its timer, for a 提前).
    void startWhenDue(int index);
    void start(int index);
    void silence(int index, const QString &why, bool retryable, AudioError::Cause cause,
                 const AudioError *error = nullptr);
    void onOpened(AudioPlayer *p);
    void onOpenFailed(AudioPlayer *p, const QString &text, AudioError::Cause cause);
    void onEnded(AudioPlayer *p, bool interrupted);
    void checkEnded();

    Source m_source;
    QList<Live> m_targets;
    Options m_options;
    QElapsedTimer m_since;
    quint64 m_run = 0; // a late signal or timer of a run before is dropped
    bool m_inPlay = false; // inside play(): the end is not told yet
    bool m_cued = false;
    bool m_retriesEnded = false;
    QList<AudioPlayer *> m_watched; // connected once; forgotten when destroyed
};
