#include "ducking.h"

#include "broadcastplayer.h"
#include "settings.h"

#include <algorithm>

Ducking::Ducking(AudioPlayer &broadcast, Settings *settings, QObject *parent)
    : QObject(parent), m_broadcast(broadcast), m_zoned(qobject_cast<BroadcastPlayer *>(&broadcast)),
      m_settings(settings)
{
    ramp.setParent(this);
    ramp.setInterval(kRampMs / kRampSteps);
    connect(&ramp, &QTimer::timeout, this, &Ducking::rampStep);
    if (m_settings)
        m_enabled = m_settings->flag(kSetting, true);
    // A zone that joins while a bell sounds there goes down with it.
    if (m_zoned)
        connect(m_zoned, &BroadcastPlayer::outputsChanged, this, &Ducking::apply);
}

void Ducking::setEnabled(bool on)
{
    if (m_settings)
        m_settings->setFlag(kSetting, on);
    m_enabled = on;
    if (on) {
        apply();
        return;
    }
    // Back at once, not over a ramp.
    for (auto it = m_lanes.begin(); it != m_lanes.end(); ++it) {
        if (it->lowered || it->ramping)
            setLevel(it.key(), it->level);
        it->lowered = it->ramping = false;
    }
    ramp.stop();
    setDucked(false);
}

bool Ducking::lowered(const AudioPlayer *player) const
{
    const auto it = m_lanes.constFind(const_cast<AudioPlayer *>(player));
    return it != m_lanes.constEnd() && it->lowered;
}

void Ducking::bellStarted()
{
    m_sounding = m_everywhere = true;
    apply();
}

void Ducking::bellStartedIn(const QList<qint64> &zones)
{
    m_sounding = true;
    if (zones.isEmpty())
        m_everywhere = true;
    for (qint64 z : zones)
        m_bellZones.insert(z);
    apply();
}

void Ducking::bellEnded()
{
    m_sounding = m_everywhere = false;
    m_bellZones.clear();
    apply();
}

void Ducking::apply()
{
    QList<BroadcastPlayer::Output> outputs;
    if (m_zoned)
        outputs = m_zoned->outputs();
    else
        outputs.append({0, &m_broadcast});
    QSet<AudioPlayer *> inUse;
    bool any = false;
    for (const BroadcastPlayer::Output &o : std::as_const(outputs)) {
        inUse.insert(o.player);
        // 广播输出 (zone 0) is where every bell is heard.
        const bool want = m_enabled && m_sounding
            && (m_everywhere || o.zone == 0 || m_bellZones.contains(o.zone));
        Lane &lane = m_lanes[o.player];
        if (want && !lane.lowered) {
            // The level to come back to is the one before this bell, even
            // when a ramp back from the last bell is still under way.
            if (!lane.ramping)
                lane.level = o.player->volume();
            lane.lowered = true;
            rampTo(o.player, lane, lane.level * kDuckPercent / 100);
        } else if (!want && lane.lowered) {
            lane.lowered = false;
            rampTo(o.player, lane, lane.level);
        }
        any = any || lane.lowered;
    }
    // A player the broadcast no longer uses keeps its own level for later.
    for (auto it = m_lanes.begin(); it != m_lanes.end();) {
        if (inUse.contains(it.key())) {
            ++it;
            continue;
        }
        if (it->lowered || it->ramping)
            setLevel(it.key(), it->level);
        it = m_lanes.erase(it);
    }
    if (any != m_ducked)
        setDucked(any);
}

void Ducking::setDucked(bool on)
{
    m_ducked = on;
    emit duckedChanged(on);
}

void Ducking::rampTo(AudioPlayer *player, Lane &lane, int target)
{
    lane.from = player->volume();
    lane.target = target;
    lane.step = 0;
    lane.ramping = true;
    if (!ramp.isActive())
        ramp.start();
}

void Ducking::rampStep()
{
    bool more = false;
    for (auto it = m_lanes.begin(); it != m_lanes.end(); ++it) {
        Lane &l = *it;
        if (!l.ramping)
            continue;
        ++l.step;
        setLevel(it.key(), l.from + (l.target - l.from) * l.step / kRampSteps);
        l.ramping = l.step < kRampSteps;
        more = more || l.ramping;
    }
    if (!more)
        ramp.stop();
}

void Ducking::setLevel(AudioPlayer *player, int v)
{
    if (player->volume() != v)
        player->setVolume(v);
}
BellSoundWatch::BellSoundWatch(AudioPlayer &bell, QObject *parent)
    : QObject(parent), m_bell(bell)
{
    grace.setParent(this);
    grace.setSingleShot(true);
    grace.setInterval(kStartGraceMs);
    connect(&grace, &QTimer::timeout, this, [this] {
        m_announced = false;
        update();
    });
    // Whatever way the file stops, it is over: the watch looks once.
    const auto over = [this] {
        m_announced = false;
        grace.stop();
        update();
    };
    connect(&bell, &AudioPlayer::ended, this, over);
    connect(&bell, &AudioPlayer::stopped, this, over);
}

void BellSoundWatch::setSounding(bool on)
{
    if (on == m_sounding)
        return;
    m_sounding = on;
    on ? emit started() : emit ended();
}

void BellSoundWatch::bellRang()
{
    m_announced = !m_bell.isPlaying(); // may take a moment to sound
    if (m_announced)
        grace.start();
    setSounding(true);
}

void BellSoundWatch::setTesting(bool on)
{
    m_testing = on;
    update();
}

void BellSoundWatch::update()
{
    setSounding(m_bell.isPlaying() || m_announced || m_testing);
}
