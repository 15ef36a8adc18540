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

// Tells when the bell player sounds: a bell that the engine announces
// (bellRang) sounds until the player says its file ended; while
// watchWhile() holds (test playback), the whole test counts as one bell.
// The player's signals carry the ends. A file stopped by a caller sends
// none, so while something sounds the watch also looks once a second
// (kCheckMs): an idle program never wakes for it, a bell never leaves the
// broadcast lowered for good.
class BellSoundWatch : public QObject {
    Q_OBJECT
public:
    static constexpr int kCheckMs = 1000;
    // A started bell that has not reached Playing by then is over.
    static constexpr int kStartGraceMs = 1500;

    explicit BellSoundWatch(AudioPlayer &bell, QObject *parent = nullptr);

    // A bell was just started through the bell player.
    void bellRang();
    // Watch while cond() is true (for example while a test plays the list).
    void watchWhile(std::function<bool()> cond);
    bool sounding() const { return m_sounding; }
    // Runs every kCheckMs while something sounds or a test runs.
    QTimer check;

public slots:
    // Looks whether the bell still sounds (the check's tick).
    void look();

signals:
    void started();
    void ended();

private:
    void bellFileEnded();
    void update();
    void setSounding(bool on);

    const AudioPlayer &m_bell;
    std::function<bool()> m_while;
    bool m_sounding = false;
    int m_graceLooks = 0; // looks before an announced bell counts as over
};
