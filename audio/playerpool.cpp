#include "playerpool.h"

#include "audiolog.h"

PlayerPool::PlayerPool(Factory make, QObject *parent) : QObject(parent), m_make(std::move(make)) {}

PlayerPool::~PlayerPool()
{
    // Their news must not reach a half-gone pool.
    for (auto &[key, p] : m_players)
        p->disconnect(this);
    for (auto &[raw, p] : m_leaving)
        p->disconnect(this);
}

bool PlayerPool::idle(const AudioPlayer &p)
{
    const AudioPlayer::Mode m = p.mode();
    return !p.opening() && m != AudioPlayer::Mode::Playing && m != AudioPlayer::Mode::Paused;
}

AudioPlayer *PlayerPool::player(qint64 zone, const QString &device)
{
    std::unique_ptr<AudioPlayer> &p = m_players[Key{zone, device}];
    if (!p && m_make) {
        p = m_make(device);
        if (!p) {
            m_players.erase(Key{zone, device});
            return nullptr;
        }
        if (!m_confinedTo.isEmpty())
            p->setConfinedTo(m_confinedTo);
        // Another output would be another building.
        if (zone > 0)
            p->setNeverElsewhere(true);
        AudioPlayer *raw = p.get();
        // Dropped while it sounded: gone once it has ended. Connected first,
        // so every user hears the end before the player goes (later).
        connect(raw, &AudioPlayer::ended, this, [this, raw] {
            if (m_leaving.contains(raw))
                letGo(raw);
        });
    }
    return p.get();
}

void PlayerPool::keepOnly(const std::set<Key> &keys)
{
    for (auto it = m_players.begin(); it != m_players.end();) {
        if (keys.contains(it->first)) {
            ++it;
            continue;
        }
        qCInfo(lcAudio).noquote() << "player of zone" << it->first.zone << "on" << it->first.device
                                  << "let go: no longer wanted there";
        drop(std::move(it->second));
        it = m_players.erase(it);
    }
    // Those dropped before that have stopped meanwhile (stop() sends no end).
    for (auto it = m_leaving.begin(); it != m_leaving.end();) {
        AudioPlayer *raw = (it++)->first;
        if (idle(*raw))
            letGo(raw);
    }
}

void PlayerPool::drop(std::unique_ptr<AudioPlayer> p)
{
    if (!p)
        return;
    AudioPlayer *raw = p.get();
    m_leaving.emplace(raw, std::move(p));
    if (idle(*raw))
        letGo(raw);
}

void PlayerPool::letGo(AudioPlayer *raw)
{
    auto node = m_leaving.extract(raw);
    if (node.empty())
        return;
    AudioPlayer *p = node.mapped().release();
    p->disconnect(this);
    p->close();
    // Later: it may be inside one of its own signals now. Its parent until
    // then, so that a pool that goes first takes it along.
    p->setParent(this);
    p->deleteLater();
}

void PlayerPool::closeAll()
{
    for (auto &[key, p] : m_players)
        p->close();
    for (auto &[raw, p] : m_leaving)
        p->close();
}
