#pragma once
// The players of sound in zones, one per zone and output, made when first
// needed and kept. A zone's player (zone id above 0) sounds on its own
// output or nowhere: when that output goes, its file stops instead of
// moving to the default output, which would be another building. Id 0 is
// a main output (铃声输出, 广播输出, or an output the emergency shares
// between zones): its player is keyed by the output alone.
//
// The pool is told which zones and outputs exist (keepOnly()); any other
// player is dropped, a zone's old player among them when its output has
// changed: at once when idle, when it ends when it still sounds (a bell
// plays out where it started). Whoever keeps a player's address hears of
// its end through QObject::destroyed.
#include "audioplayer.h"

#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <set>

class PlayerPool : public QObject {
    Q_OBJECT
public:
    // Makes a player of an output (empty: the system default); nullptr
    // when none can be made.
    using Factory = std::function<std::unique_ptr<AudioPlayer>(const QString &device)>;
    struct Key {
        qint64 zone = 0;
        QString device;
        bool operator<(const Key &o) const { return zone != o.zone ? zone < o.zone : device < o.device; }
        bool operator==(const Key &) const = default;
    };

    explicit PlayerPool(Factory make, QObject *parent = nullptr);
    ~PlayerPool() override;

    // The kept player of the zone's output, made now when first needed;
    // nullptr when it cannot be made (asked again next time).
    AudioPlayer *player(qint64 zone, const QString &device);
    // Players made from now on open only files inside this folder.
    void setConfinedTo(const QString &folder) { m_confinedTo = folder; }
    // Every player kept, or dropped and still sounding.
    int size() const { return int(m_players.size() + m_leaving.size()); }

    // The zones and outputs that exist now: every other player is dropped
    // (see above). Zone 0's players are kept by their output alone.
    void keepOnly(const std::set<Key> &keys);
    // Closes every player (the program ends).
    void closeAll();

    // Idle: nothing open that plays, pauses or still loads.
    static bool idle(const AudioPlayer &p);

private:
    void drop(std::unique_ptr<AudioPlayer> p);
    void letGo(AudioPlayer *p);

    Factory m_make;
    QString m_confinedTo;
    std::map<Key, std::unique_ptr<AudioPlayer>> m_players;
    // Dropped while sounding: let go when they end or are found idle.
    std::map<AudioPlayer *, std::unique_ptr<AudioPlayer>> m_leaving;
};
