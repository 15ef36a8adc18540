#include "servicenotify.h"

#include "logging.h"

#include <QDateTime>
#include <QTimer>
#include <systemd/sd-daemon.h>

ServiceNotify::ServiceNotify(QTimer &tick, QObject *parent) : QObject(parent)
{
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0)
        m_watchdogUsec = usec;
    // After the engine's own slot: the tick has done its work when told.
    connect(&tick, &QTimer::timeout, this, &ServiceNotify::ticked);
}

void ServiceNotify::ticked()
{
    if (!m_ready) {
        m_ready = true;
        const int r = sd_notify(0, "READY=1\nSTATUS=铃声按时响起");
        if (r < 0)
            qCWarning(lcService) << "telling systemd the engine is ready failed:" << r;
        else if (r > 0)
            qCInfo(lcService) << "ready: told systemd";
    }
    if (m_watchdogUsec == 0 && qEnvironmentVariableIsEmpty("NOTIFY_SOCKET"))
        return;
    // Once a second is plenty against a watchdog of tens of seconds; a
    // tick every second keeps the engine's own clock the one that is watched.
    if (const int r = sd_notify(0, "WATCHDOG=1"); r < 0)
        qCWarning(lcService) << "watchdog notice failed:" << r;
}

void ServiceNotify::stopping()
{
    sd_notify(0, "STOPPING=1");
}
