#include "ducking.h"

#include "settings.h"

#include <algorithm>

Ducking::Ducking(AudioPlayer &broadcast, Settings *settings, QObject *parent)
    : QObject(parent), m_broadcast(broadcast), m_settings(settings)
{
    ramp.setParent(this);
    ramp.setInterval(kRampMs / kRampSteps);
    connect(&ramp, &QTimer::timeout, this, &Ducking::rampStep);
    if (m_settings)
        m_enabled = m_settings->flag(kSetting, true);
}

void Ducking::setEnabled(bool on)
{
    if (m_settings)
        m_settings->setFlag(kSetting, on);
    m_enabled = on;
    if (!on && m_ducked) {
        setDucked(false);
        ramp.stop();
        setLevel(m_level);
    }
}

void Ducking::bellStarted()
{
    if (!m_enabled || m_ducked)
        return;
    // The level to come back to is the one before this bell, even when a
    // ramp back from the last bell is still under way.
    if (!ramp.isActive())
        m_level = m_broadcast.volume();
    setDucked(true);
    rampTo(m_level * kDuckPercent / 100);
}

void Ducking::bellEnded()
{
    if (!m_ducked)
        return;
    setDucked(false);
    rampTo(m_level);
}

void Ducking::setDucked(bool on)
{
    m_ducked = on;
    emit duckedChanged(on);
}

void Ducking::rampTo(int target)
{
    m_from = m_broadcast.volume();
    m_target = target;
    m_step = 0;
    if (!ramp.isActive())
        ramp.start();
}

void Ducking::rampStep()
{
    ++m_step;
    setLevel(m_from + (m_target - m_from) * m_step / kRampSteps);
    if (m_step >= kRampSteps)
        ramp.stop();
}

void Ducking::setLevel(int v)
{
    if (m_broadcast.volume() != v)
        m_broadcast.setVolume(v);
}

BellSoundWatch::BellSoundWatch(AudioPlayer &bell, QObject *parent)
    : QObject(parent), m_bell(bell)
{
    check.setParent(this);
    check.setInterval(kCheckMs);
    connect(&check, &QTimer::timeout, this, &BellSoundWatch::look);
    connect(&bell, &AudioPlayer::ended, this, &BellSoundWatch::bellFileEnded);
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
    m_graceLooks = (kStartGraceMs + kCheckMs - 1) / kCheckMs;
    setSounding(true);
    check.start();
}

void BellSoundWatch::watchWhile(std::function<bool()> cond)
{
    m_while = std::move(cond);
    check.start();
    update();
}

void BellSoundWatch::bellFileEnded()
{
    m_graceLooks = 0; // it did sound, and is over
    update();
}

void BellSoundWatch::look()
{
    // An announced bell may take a moment to sound.
    if (m_graceLooks > 0 && !m_bell.isPlaying())
        --m_graceLooks;
    update();
}

void BellSoundWatch::update()
{
    if (m_while && !m_while())
        m_while = nullptr;
    if (m_bell.isPlaying())
        m_graceLooks = 0;
    setSounding(m_bell.isPlaying() || m_graceLooks > 0 || m_while);
    if (!m_sounding)
        check.stop();
}
