#include "zoneplayers.h"

void ZonePlayers::setZones(const QList<Zone> &zones)
{
    QHash<qint64, Zone> next;
    for (const Zone &z : zones)
        next.insert(z.id, z);
    // A zone whose output changed gets a new player when next needed.
    for (auto it = m_players.begin(); it != m_players.end();)
        it = next.value(it.key()).output != m_zones.value(it.key()).output ? m_players.erase(it) : std::next(it);
    m_zones = std::move(next);
}

AudioPlayer *ZonePlayers::player(qint64 id)
{
    const auto zone = m_zones.constFind(id);
    if (zone == m_zones.constEnd())
        return nullptr;
    if (AudioPlayer *p = m_players.value(id))
        return p;
    AudioPlayer *p = make ? make(*zone) : nullptr;
    if (!p)
        return nullptr;
    // Never moved to another output when the zone's goes: that would be
    // another building.
    p->setNeverElsewhere(true);
    m_players.insert(id, p);
    // Let go by its maker: its address may come back as another player's.
    connect(p, &QObject::destroyed, this, [this, p] {
        for (auto it = m_players.begin(); it != m_players.end();)
            it = it.value() == p ? m_players.erase(it) : std::next(it);
    });
    return p;
}

QList<SoundTarget> ZonePlayers::targetsOf(const QList<qint64> &zones) const
{
    QList<SoundTarget> out;
    for (qint64 id : zones)
        if (const auto z = m_zones.constFind(id); z != m_zones.constEnd())
            out << SoundTarget{id, z->name, z->output, z->leadMs, true};
    return out;
}

QString ZonePlayers::names(const QList<qint64> &zones) const
{
    QStringList out;
    for (const SoundTarget &t : targetsOf(zones))
        out << t.name;
    return out.join(u'、');
}
