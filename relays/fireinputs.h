#pragma once
// The fire alarm's dry contacts (消防联动): each input is read every
// kPollMs; a contact closed for kDebounceMs asks for the emergency
// broadcast with the input's 音乐 and 分区, and one open again for as long
// asks to end it when its 断开结束 is set (otherwise the operator ends it).
// A bounce or a read that fails changes nothing; an input that cannot be
// read is named once through unanswered() until it answers again, and is
// asked less often meanwhile (kFirstRetryMs doubling up to kMaxRetryMs), so
// that a module that refuses at once is not called 50 times a second.
#include "relaydevice.h"
#include "relaystore.h"
#include "seams.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <optional>

// A contact's state once it has held kDebounceMs (milliseconds counted by
// the caller's clock). Starts open.
class ContactDebounce {
public:
    static constexpr int kDebounceMs = 200;
    // Returns the new steady state when this reading completes a change.
    std::optional<bool> feed(bool closed, qint64 ms);
    bool closed() const { return m_steady; }

private:
    bool m_steady = false;
    std::optional<bool> m_seen; // the state read since m_since, when it differs
    qint64 m_since = 0;
};

class FireInputs : public QObject {
    Q_OBJECT
public:
    // Often enough that a closing is acted on within 300 ms of the contact
    // (debounce included) with room for the alarm to sound.
    static constexpr int kPollMs = 20;
    // The pace of asking an input that does not answer.
    static constexpr int kFirstRetryMs = 100;
    static constexpr int kMaxRetryMs = 2000;

    static QString unansweredText(const QString &name)
    {
        return QStringLiteral("消防输入「%1」没有响应").arg(name);
    }
    // The record's origin of a broadcast the contact started or ended.
    static QString originText(const QString &name) { return QStringLiteral("消防联动「%1」").arg(name); }

    FireInputs(RelayDevices &devices, const Clock &clock, QObject *parent = nullptr);

    // An input whose address cannot be read (or a command pair) is logged
    // and left out. Inputs listed again keep their state.
    void setInputs(const QList<FireInput> &inputs);
    void start() { m_timer.start(); }
    void stop() { m_timer.stop(); }
    // Asks every input's device for a reading (one at a time per input).
    void poll();
    bool closed(qint64 input) const;
    // The names of the inputs that do not answer now.
    QStringList unansweredNames() const;

signals:
    // The contact closed: sound music (empty: the alarm tone) in zones
    // (none: everywhere).
    void alarmRaised(const FireInput &input);
    // The contact opened and 断开结束 is set.
    void alarmCleared(const FireInput &input);
    void unanswered(const QString &name, const QString &text);
    void answered(const QString &name);

private:
    struct State {
        FireInput input;
        RelayAddress address;
        RelayDevice *device = nullptr;
        ContactDebounce debounce;
        bool failing = false;
        int retryMs = 0;     // the wait after the last failed read, 0 while it answers
        qint64 nextMs = 0;   // not asked before this (the clock's ms)
    };
    void onRead(RelayDevice *device, int unit, int channel, bool closed, bool ok, const QString &error);

    RelayDevices &m_devices;
    const Clock &m_clock;
    QList<State> m_states;
    QList<RelayDevice *> m_watched;
    QTimer m_timer;
};
