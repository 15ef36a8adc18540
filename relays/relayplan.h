#pragma once
// When each amplifier's relay is on. Given the sounds to come (a bell's
// second and its zones) and the sounds playing now (a bell, test playback,
// the ad-hoc broadcast, a live announcement, the emergency), a relay is on
// from its 预开 before the first sound it powers until its 保持 after the
// last one ends. Several relays switching together follow the power
// sequence (电源时序): on about kStepMs apart in their 顺序, off in reverse;
// for sounds known ahead the sequence is planned so that the last relay is
// still on its 预开 before the sound, for a sound that starts at once (the
// emergency) the first relay switches at once and the others follow.
//
// Driven by its clock: tick() runs every kTickMs from start() (a relay
// goes on up to one tick before its 预开, off up to one tick after its
// 保持, never the other way), and tests
// call it with a fake clock. Nothing here waits for a relay: switching goes
// to RelayDevice, whose answer comes later. A relay that does not answer
// is tried again every kRetryMs, and named once through unanswered() until
// it answers again.
#include "relaydevice.h"
#include "relaystore.h"
#include "seams.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QTimer>
#include <map>

class RelayPlan : public QObject {
    Q_OBJECT
public:
    static constexpr int kTickMs = 100;
    static constexpr int kStepMs = 1000;
    static constexpr int kRetryMs = 3000;

    // What the record and the band say of a relay that does not answer.
    static QString unansweredText(const QString &name)
    {
        return QStringLiteral("功放电源「%1」没有响应").arg(name);
    }

    struct Sound {
        QDateTime start;
        QDateTime end;        // its end when known; otherwise its start
        QList<qint64> zones;  // none: 铃声输出 and 广播输出
        bool everywhere = false; // every relay (an emergency in every zone)
    };

    RelayPlan(RelayDevices &devices, const Clock &clock, QObject *parent = nullptr);

    // A relay whose address cannot be read is logged and left out; one no
    // longer listed is switched off.
    void setRelays(const QList<Relay> &relays);
    // The sounds to come, replacing those given before.
    void setUpcoming(const QList<Sound> &sounds);
    // A sound playing now until soundEnded() with the same key; its relays
    // switch at once (in sequence), and stay on their 保持 after its end.
    void soundStarted(const QString &key, const QList<qint64> &zones, bool everywhere = false);
    void soundEnded(const QString &key);

    // Every relay to its rest state (off), then the ticks start.
    void start();
    // Every relay off now, all at once (the program ends: nothing waits for
    // a sequence), and the ticks stop.
    void rest();
    void tick();

    // What was last asked of the relay.
    bool isOn(qint64 relay) const;
    // The relays powering a sound in these zones that do not answer now: the
    // names a bell's record gives.
    QStringList unansweredFor(const QList<qint64> &zones, bool everywhere = false) const;

    QTimer timer;

signals:
    // A switch asked of a relay's device, at the clock's now.
    void switching(qint64 relay, bool on);
    void unanswered(const QString &name, const QString &text);
    void answered(const QString &name);

private:
    struct State {
        Relay relay;
        RelayAddress address;
        RelayDevice *device = nullptr;
        bool want = false;
        std::optional<bool> sent;      // asked last
        std::optional<bool> confirmed; // answered last
        bool inFlight = false;
        bool failing = false;
        QDateTime retryAt;
    };

    bool powers(const Relay &relay, const Sound &sound) const;
    void want(const QDateTime &now);
    void send(State &s, bool on, const QDateTime &now);
    void onCoilSet(RelayDevice *device, int unit, int channel, bool on, bool ok, const QString &error);

    RelayDevices &m_devices;
    const Clock &m_clock;
    std::map<qint64, State> m_states;
    QList<Sound> m_upcoming;
    QHash<QString, Sound> m_live; // playing now, by key
    QDateTime m_lastOn;
    QDateTime m_lastOff;
    QList<RelayDevice *> m_watched;
};
