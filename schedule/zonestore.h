#pragma once
// Zones (分区): named outputs a bell may choose. Table fenqu holds the zones
// (名称, the device it plays on as 声音输出 lists it, and 提前: how many
// milliseconds early its sound must start to be heard at the second);
// table ling_fenqu which bell rings in which zone. Both live beside daling
// in the bell store; triggers remove a deleted bell's or zone's rows, so no
// path that deletes can leave a bell pointing at nothing.
#include "storesql.h"

#include <QHash>
#include <QList>
#include <QString>

class BellStore;

struct Zone {
    qint64 id = 0;
    QString name;   // 名称
    QString output; // 输出: a libmpv device name
    int leadMs = 0; // 提前
    bool operator==(const Zone &) const = default;
};

namespace zonestore {
// Creates both tables and their triggers when missing (a writable store).
void ensureTables(QSqlDatabase db);
// Every bell's zones, sorted by zone id; bells without zones are absent.
// Empty when the tables do not exist (a file opened only for reading).
QHash<qint64, QList<qint64>> bellZones(QSqlDatabase db);
// Replaces the bell's zones (ids of zones that no longer exist are dropped).
void setBellZones(QSqlDatabase db, qint64 bell, const QList<qint64> &zones);
// "1,3": how a copy of a list (fangan_ling) keeps a bell's zones.
QString zonesText(const QList<qint64> &zones);
QList<qint64> zonesFromText(const QString &text);
} // namespace zonestore

class ZoneStore {
public:
    explicit ZoneStore(BellStore &store) : m_store(store) {}

    // Ordered by name. Empty when the store has no zones (or no table yet).
    QList<Zone> list() const;
    // Throw StoreError with a message for the operator: an empty or used
    // name, an empty output, 提前 outside 0 … kMaxLeadMs.
    qint64 add(const Zone &zone);
    void update(const Zone &zone);
    // The zone's bells lose it (and ring on 铃声输出 when it was their only one).
    void remove(qint64 id);

    // Bells are opened two seconds ahead of their second: a zone can start
    // at most this much early.
    static constexpr int kMaxLeadMs = 1500;

private:
    void check(const Zone &zone) const;
    BellStore &m_store;
};
