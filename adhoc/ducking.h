#pragma once
// Bells cut through the ad-hoc broadcast: while a bell sounds the broadcast
// is lowered to a fifth of its level, over a short ramp, and brought back
// when the bell ends. The broadcast keeps playing and keeps its place; only
// its volume moves. The operator may switch this off (kept in the settings
// under kSetting, on by default).
//
// Only where the bell is heard: a broadcast in zones is lowered in the
// zones the bell sounds in and goes on at full level in the others. A bell
// on 铃声输出 (no zones) is heard everywhere, and a broadcast on 广播输出
// is lowered by any bell.
#include "audioplayer.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <functional>

class BroadcastPlayer;
class Settings;

class Ducking : public QObject {
    Q_OBJECT
public:
    static inline const QString kSetting = QStringLiteral("铃声响时压低临时广播");
    static constexpr int kDuckPercent = 20; // of the level before the bell
    static constexpr int kRampMs = 200;
    static constexpr int kRampSteps = 10;
    // What the ad-hoc window shows while the broadcast is lowered.
    static inline const QString kDuckedNote = QStringLiteral("铃声响时已压低");

    // settings may be null (nothing kept, on). A BroadcastPlayer is lowered
    // zone by zone; any other player as a whole.
    Ducking(AudioPlayer &broadcast, Settings *settings, QObject *parent = nullptr);

    bool enabled() const { return m_enabled; }
    // Switching off while a bell sounds brings the broadcast back at once.
    // Kept in the settings; throws StoreError when it cannot be kept.
    void setEnabled(bool on);

    // Lowered somewhere.
    bool ducked() const { return m_ducked; }
    // Whether this player of the broadcast is lowered (or on its way down).
    bool lowered(const AudioPlayer *player) const;
    // The ramp's timer; a step runs every kRampMs / kRampSteps.
    QTimer ramp;

signals:
    // The broadcast went down under a bell (true) or is on its way back.
    void duckedChanged(bool ducked);

public slots:
    // A bell heard everywhere (on 铃声输出, or a test of the list).
    void bellStarted();
    // A bell in these zones (by id); none: everywhere. Bells that overlap
    // add up until the end.
    void bellStartedIn(const QList<qint64> &zones);
    void bellEnded();
    // One step of the ramp towards each player's target.
    void rampStep();

private:
    // One player of the broadcast and where its ramp goes.
    struct Lane {
        int level = 100; // its own level, before any bell
        int from = 100;
        int target = 100;
        int step = 0;
        bool lowered = false;
        bool ramping = false;
    };
    // Lowers and raises each player of the broadcast as the bell and the
    // broadcast's outputs now stand.
    void apply();
    void rampTo(AudioPlayer *player, Lane &lane, int target);
    static void setLevel(AudioPlayer *player, int v);
    void setDucked(bool on);

    AudioPlayer &m_broadcast;
    BroadcastPlayer *m_zoned = nullptr;
    Settings *m_settings;
    bool m_enabled = true;
    bool m_ducked = false;
    bool m_sounding = false;   // a bell sounds
    bool m_everywhere = false; // … heard everywhere
    QSet<qint64> m_bellZones;  // … else in these zones
    QHash<AudioPlayer *, Lane> m_lanes;
};

// Tells when the bell player sounds outside the engine's own bells (a
// double-clicked row, test playback): a bell announced (bellRang) sounds
// until the player says it stopped; while a test runs (setTesting), the
// whole test counts as one bell. The player's signals carry the ends: its file's end (ended()), a
// caller's stop or close (stopped()), and the end of a test. Nothing is
// polled: a sounding or idle program never wakes for the watch. A bell
// announced whose player has not started within kStartGraceMs is over
// (one look, when the grace ends).
class BellSoundWatch : public QObject {
    Q_OBJECT
public:
    static constexpr int kStartGraceMs = 1500;

    explicit BellSoundWatch(AudioPlayer &bell, QObject *parent = nullptr);

    // A bell was just started through the bell player.
    void bellRang();
    // Test playback runs (on) or has ended: the whole test counts, across
    // the ends of its files.
    void setTesting(bool on);
    bool sounding() const { return m_sounding; }
    // Single shot: the grace of a bell announced before its player plays.
    QTimer grace;

signals:
    void started();
    void ended();

private:
    void update();
    void setSounding(bool on);

    const AudioPlayer &m_bell;
    bool m_testing = false;
    bool m_announced = false; // a bell announced that may still be starting
    bool m_sounding = false;
};
