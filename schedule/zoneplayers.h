#pragma once
// The zones the bells know and one kept player per zone: made by make when
// first needed, kept to its zone's output (never moved to the default one),
// made again when the zone's output changes or its maker lets it go.
#include "audioplayer.h"
#include "outputgroup.h"
#include "zonestore.h"

#include <QHash>
#include <QObject>
#include <functional>

class ZonePlayers : public QObject {
    Q_OBJECT
public:
    std::function<AudioPlayer *(const Zone &zone)> make;

    using QObject::QObject;
    void setZones(const QList<Zone> &zones);
    // The kept player of a known zone (made now when first needed); nullptr
    // for an unknown zone or one whose player cannot be made.
    AudioPlayer *player(qint64 zone);
    bool knows(qint64 zone) const { return m_zones.contains(zone); }
    Zone zone(qint64 id) const { return m_zones.value(id); }
    // The known ones of these zones, as an OutputGroup's targets.
    QList<SoundTarget> targetsOf(const QList<qint64> &zones) const;
    // Their names joined with "、".
    QString names(const QList<qint64> &zones) const;

private:
    QHash<qint64, Zone> m_zones;
    QHash<qint64, AudioPlayer *> m_players; // by zone id
};
