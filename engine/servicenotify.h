#pragma once
// systemd's notify protocol for the engine as a service (Type=notify):
// READY=1 once the clock has ticked for the first time (the day's list is
// read and the bells are armed), then WATCHDOG=1 from every tick, so that
// a clock that stops ticking (a hung engine) is restarted by systemd
// after WatchdogSec. Outside systemd (no NOTIFY_SOCKET) it does nothing.
#include <QObject>

class QTimer;

class ServiceNotify : public QObject {
    Q_OBJECT
public:
    // tick: the engine's clock; each of its timeouts is one tick.
    explicit ServiceNotify(QTimer &tick, QObject *parent = nullptr);
    // Tells systemd the engine is stopping (STOPPING=1).
    static void stopping();
    bool ready() const { return m_ready; }

private:
    void ticked();
    bool m_ready = false;
    quint64 m_watchdogUsec = 0; // 0: no watchdog asked for
};
