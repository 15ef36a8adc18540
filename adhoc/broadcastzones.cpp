#include "broadcastzones.h"

#include "audiolog.h"
#include "bellstore.h"
#include "settings.h"

void BroadcastZones::refresh()
{
    try {
        m_zones = ZoneStore(m_store).list();
    } catch (const std::exception &e) {
        // Without the zones the broadcast goes where it always went.
        qCWarning(lcAudio) << "the zones for the broadcast were not read:" << e.what();
        m_zones.clear();
    }
    m_chosen.clear();
    for (qint64 id : zonestore::zonesFromText(Settings(m_store).value(kSetting)))
        if (std::any_of(m_zones.begin(), m_zones.end(), [id](const Zone &z) { return z.id == id; }))
            m_chosen << id;
    hand();
}

void BroadcastZones::choose(const QList<qint64> &ids)
{
    m_chosen.clear();
    for (const Zone &z : std::as_const(m_zones))
        if (ids.contains(z.id))
            m_chosen << z.id;
    std::sort(m_chosen.begin(), m_chosen.end());
    hand();
    Settings(m_store).setValue(kSetting, zonestore::zonesText(m_chosen));
}

void BroadcastZones::hand()
{
    QList<Zone> zones;
    for (const Zone &z : std::as_const(m_zones))
        if (m_chosen.contains(z.id))
            zones << z;
    m_player.setZones(zones);
}
