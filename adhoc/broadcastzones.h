#pragma once
// Where the ad-hoc broadcast plays: 广播输出 (the default) or a set of
// zones. The choice is kept in the settings and handed to the broadcast's
// player; the zones are read again each time the window opens, so a zone
// added, renamed or deleted meanwhile is seen, and a deleted one is dropped
// from the choice.
#include "broadcastplayer.h"
#include "zonestore.h"

class BellStore;

class BroadcastZones {
public:
    static inline const QString kSetting = QStringLiteral("临时广播分区");
    static inline const QString kBroadcastOutput = QStringLiteral("广播输出");

    BroadcastZones(BellStore &store, BroadcastPlayer &player) : m_store(store), m_player(player) {}

    // Reads the zones and the kept choice and hands it to the player.
    void refresh();
    // Every zone, ordered by name.
    const QList<Zone> &zones() const { return m_zones; }
    // The chosen zones' ids, sorted; empty: 广播输出.
    QList<qint64> chosen() const { return m_chosen; }
    // Takes effect with the next file started; ids of unknown zones are
    // dropped. Kept in the settings: throws StoreError when it cannot be
    // (the choice still holds until the program ends).
    void choose(const QList<qint64> &ids);

private:
    void hand();
    BellStore &m_store;
    BroadcastPlayer &m_player;
    QList<Zone> m_zones;
    QList<qint64> m_chosen;
};
