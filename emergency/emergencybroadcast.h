#pragma once
// The emergency broadcast (紧急广播): a fire drill, an evacuation or a
// lockdown message that cuts in over everything. Started from the window's
// button, the tray or the command line, it plays one file (by default the
// built-in evacuation tone) looped at full level on one player per output:
// unless zones are named, every zone, 铃声输出 and 广播输出, each output
// once however many of them share it; all opened at once so that a missing
// or stalled output only silences itself. While it
// lasts the bells are held back, the ad-hoc broadcast is paused (and stays
// so) and test playback is refused; the program's parts are reached through
// the hooks below, which the program (or a test) sets.
//
// One ring-history record per emergency, written as soon as it sounds with
// 说明 saying it has not ended, and amended at its end: a kill or a power
// cut leaves exactly "没有正常结束". Nothing of it is kept to start again:
// a restart never sounds the alarm by itself.
#include "apppaths.h"
#include "audioplayer.h"
#include "bellstatus.h"
#include "outputgroup.h"
#include "playerpool.h"
#include "seams.h"
#include "zonestore.h"

#include <QDateTime>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class RingHistory;

class EmergencyBroadcast : public QObject {
    Q_OBJECT
public:
    // How it was started or ended, as the record says.
    enum class Origin { Button, Tray, AdhocButton, Command, Quit, FireAlarm };
    struct Request {
        QString file;      // a path, or a bare name in the music folder; empty: the alarm tone
        QStringList zones; // zone names; empty: every zone, 铃声输出 and 广播输出
        Origin origin = Origin::Button;
    };

    static inline const QString kName = QStringLiteral("紧急广播");
    static inline const QString kHeldReason = QStringLiteral("紧急广播中，没有播出");
    static inline const QString kNotEnded = QStringLiteral("没有正常结束");
    static inline const QString kTestRefused =
        QStringLiteral("紧急广播进行中，不能测试铃声。请先结束紧急广播。");
    static inline const QString kPlayRefused =
        QStringLiteral("紧急广播进行中，不能试听铃声。请先结束紧急广播。");
    static inline const QString kBroadcastRefused =
        QStringLiteral("紧急广播进行中，临时广播不能播放。请先结束紧急广播。");
    static inline const QString kStartQuestion = QStringLiteral("确定开始紧急广播吗？");
    static inline const QString kStopQuestion = QStringLiteral("确定结束紧急广播吗？");
    static inline const QString kStopCaption = QStringLiteral("结束紧急广播");
    static inline const QString kBellsOutput = QStringLiteral("铃声输出");
    static inline const QString kBroadcastOutput = QStringLiteral("广播输出");
    // How long a trigger waits for its zones before it answers with what
    // it has: a zone that opens later still joins in.
    static constexpr int kSettleMs = 1500;
    // The record is written this long after the first sound, at the latest.
    static constexpr int kWriteAfterMs = 100;
    // An output lost while the alarm plays is tried again this often.
    static constexpr int kReopenMs = 1000;

    using PlayerFactory = std::function<std::unique_ptr<AudioPlayer>(const QString &device)>;
    EmergencyBroadcast(AppPaths paths, const Clock &clock, PlayerFactory makePlayer,
                       QObject *parent = nullptr);
    ~EmergencyBroadcast() override;

    void setHistory(RingHistory *history) { m_history = history; }

    // What it needs of the rest of the program; unset ones are skipped.
    std::function<QList<Zone>()> zones;               // the school's zones now
    std::function<QString()> bellsOutput;             // 铃声输出's device
    std::function<QString()> broadcastOutput;         // 广播输出's device
    std::function<void(const QString &reason)> holdBells;
    std::function<void()> releaseBells;
    std::function<void()> pauseBroadcast;
    std::function<void()> stopTest;

    // Checks the request and starts: an empty text when it is starting
    // (settled() follows) or already going on; otherwise the reason nothing
    // started (an unknown zone, a missing file), in the operator's words.
    QString start(const Request &request) { return start(request, QString()); }
    // by: who asked from afar (the remote control's account and address),
    // named in the record instead of the origin.
    QString start(const Request &request, const QString &by);
    // Ends it; false when none was going on.
    // by: who asked from afar, named in the record instead of the origin.
    bool stop(Origin how, const QString &by = {});

    bool active() const { return m_run.has_value(); }
    // Since the trigger, by the clock; 0 when none is going on.
    qint64 elapsedMs() const;
    // "紧急广播中 · 已持续 mm:ss" (hours are added past an hour).
    QString bandText() const;
    // Where it sounds now, one entry per output (zone names and 铃声输出 /
    // 广播输出, joined with "、" where they share one).
    QStringList sounding() const;
    // The alarm tone's file (音乐/紧急警报.wav), written when missing or
    // broken; where the music folder cannot be written, into a private
    // folder of its own. True when it is usable.
    bool ensureAlarmTone();
    QString alarmTonePath() const;

    static QString originText(Origin origin);
    // The file asked for does not play: the alarm tone does, and why.
    static QString toneInsteadText(const QString &why);
    // "mm:ss", with hours in front past an hour.
    static QString durationText(qint64 ms);

signals:
    void activeChanged(bool active);
    // Every chosen output sounds or has failed, or kSettleMs has passed: ok
    // when it sounds somewhere; text says why the alarm tone plays instead
    // of the file asked for and names the outputs that stay silent, or why
    // it sounds nowhere (it has then ended).
    void settled(bool ok, const QString &text);

private:
    enum class State { Opening, Sounding, Silent };
    // One output and every name it is known by here.
    struct Target {
        QStringList zones;   // the zones on it
        QStringList outputs; // 铃声输出 and/or 广播输出 when they are on it
        QString device;
        QString label() const { return (zones + outputs).join(u'、'); }
        // Only a zone's own output: never the default output in its place.
        bool isZone() const { return outputs.isEmpty(); }
        State state = State::Opening;
        QString reason; // why it is silent
        QString path;   // the file it plays
        bool tone = false; // fell back to the alarm tone
    };
    struct Run {
        Request request;
        QDateTime trigger;
        QString file;           // what plays
        QString note;           // a fallback to the tone, said in the record
        QString fallback;       // why the file asked for does not play, told to whoever started it
        std::vector<Target> targets;
        int record = 0;         // the history's handle, once it sounds
        std::optional<qint64> delayMs;
        bool settled = false;
        quint64 serial = 0;
        QString by;             // who asked from afar; empty: the origin says it
    };

    // What the group tells of each target (by its index in the run's).
    void onSilent(int index, const QString &why, AudioError::Cause cause);
    void sounded(Target &t);
    void silence(Target &t, const QString &reason);
    void checkSettled(bool timeUp);
    std::vector<Target> targetsFor(const Request &request, QString *refusal) const;
    static QString silentText(const QStringList &silent, bool zonesOnly);
    void finish(BellStatus result, const QString &end);
    QString recordText(const QString &end) const;
    void writeRecord(BellStatus result, const QString &end, bool now = true);
    void flushRecord();
    qint64 msSince(const QDateTime &t) const;

    AppPaths m_paths;
    const Clock &m_clock;
    RingHistory *m_history = nullptr;
    // One player per output, kept by its device alone (zone 0): names
    // that share an output share its sound.
    PlayerPool m_pool;
    OutputGroup m_group;
    std::optional<Run> m_run;
    bool m_starting = false; // inside start(): it settles from the event loop
    quint64 m_serial = 0;
    QTimer m_settle;
    std::unique_ptr<QTemporaryDir> m_toneDir; // the tone's place when 音乐/ is not writable
};
