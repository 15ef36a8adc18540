#pragma once
// The relays and the fire alarm's contacts wired to the engine's parts:
// today's bells to come (from the day's list while the bells run) are the
// plan's upcoming sounds, a bell sounding, test playback, the ad-hoc
// broadcast (told by the window) and the emergency broadcast are its live
// sounds; a bell's record names the relays of its zones that do not answer
// as it starts, and the band all that do not; a contact that closes starts the
// emergency broadcast with its file and zones (and ends it on opening when
// set, only one it started itself). Tables are read at start and by
// reload(); every relay rests at start and when this goes away.
//
// The emergency and test playback power every relay: the alarm must be
// heard wherever an amplifier is, and a test is the operator checking the
// whole system.
#include "fireinputs.h"
#include "relayplan.h"
#include "zonestore.h"

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <optional>

class BellBoard;
class BellStore;
class EmergencyBroadcast;
class RingEngine;
class TestPlayback;

class RelayLink : public QObject {
    Q_OBJECT
public:
    // The day's list is looked at this often for the bells to come (and at
    // each change of it): far more often than the longest pre-roll.
    static constexpr int kLookMs = 1000;

    RelayLink(BellStore &store, BellBoard &board, RingEngine &engine, TestPlayback &test,
              EmergencyBroadcast &emergency, const Clock &clock, std::function<QList<Zone>()> zones,
              QObject *parent = nullptr);
    ~RelayLink() override;

    // Reads gongfang and xiaofang again (after the dialog changed them).
    void reload();
    RelayPlan &plan() { return m_plan; }
    FireInputs &inputs() { return m_inputs; }

    // What the window's band says: every relay and contact that does not
    // answer now, empty when all answer.
    QString bandText() const;
    // What a bell's record adds to its 说明 when a relay powering its zones
    // does not answer as it sounds; empty when they all answer.
    QString recordNote(const QList<qint64> &zones) const;

    // The ad-hoc broadcast plays (in these zones; none: 广播输出) or has
    // stopped; told at every change, the same state again changes nothing.
    void broadcastPlaying(bool on, const QList<qint64> &zones = {});

signals:
    // A relay or a contact does not answer, in the words the band shows.
    void unanswered(const QString &text);
    // bandText() changed (one stopped or started answering, the tables
    // were read again).
    void bandChanged();

private:
    void lookAhead();
    void fireRaised(const FireInput &input);
    void fireCleared(const FireInput &input);

    BellStore &m_store;
    BellBoard &m_board;
    RingEngine &m_engine;
    EmergencyBroadcast &m_emergency;
    const Clock &m_clock;
    std::function<QList<Zone>()> m_zones;
    RelayDevices m_devices;
    RelayPlan m_plan;
    FireInputs m_inputs;
    QTimer m_look;
    QStringList m_bells; // the live sounds' keys of the bells sounding, oldest first
    quint64 m_bellSerial = 0;
    bool m_fireStarted = false; // the emergency going on was started by a contact
    std::optional<QList<qint64>> m_broadcast; // the zones of the ad-hoc broadcast playing
};
