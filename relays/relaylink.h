#pragma once
// The relays and the fire alarm's contacts wired to the engine's parts:
// today's bells to come (from the day's list while the bells run) are the
// plan's upcoming sounds, a bell sounding, test playback and the emergency
// broadcast are its live sounds, and a contact that closes starts the
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

signals:
    // A relay or a contact does not answer, in the words the band shows.
    void unanswered(const QString &text);

private:
    void lookAhead();
    void fireRaised(const FireInput &input);
    void fireCleared(const FireInput &input);

    BellStore &m_store;
    BellBoard &m_board;
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
};
