#pragma once
// One relay module, GPIO chip or command pair, reached without ever making
// its caller wait. The protocols underneath block (libmodbus waits for each
// answer, a command runs until it exits), so each device has a worker thread
// of its own: setCoil() and readInput() only queue the request and return,
// and the answer comes back as a signal in the caller's thread. A device
// that stops answering holds up only its own thread, never the engine's
// tick nor another device. Switches go out in the order asked (the power
// sequence's order); a second write to a coil still queued replaces the
// first in its place (only the last state matters); a read already queued
// is not queued twice.
#include "relayaddress.h"

#include <QObject>
#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

class QThread;

// The blocking side, called on the device's worker thread only. Each call
// is bounded by the backend's own timeout.
class DeviceBackend {
public:
    virtual ~DeviceBackend() = default;
    // unit: the Modbus unit (ignored by the other drivers).
    virtual bool setCoil(int unit, int channel, bool on, QString &error) = 0;
    virtual std::optional<bool> readInput(int unit, int channel, QString &error) = 0;
};

// The backend of an address's driver (modbus, gpio or command).
std::unique_ptr<DeviceBackend> makeBackend(const RelayAddress &address);

class RelayDevice : public QObject {
    Q_OBJECT
public:
    RelayDevice(std::unique_ptr<DeviceBackend> backend, QObject *parent = nullptr);
    // Makes the switches still queued (the rest state at the program's
    // end) while the device answers, each bounded by the backend's timeout;
    // drops the reads.
    ~RelayDevice() override;

    // Return at once; the answer comes as coilSet or inputRead.
    void setCoil(int unit, int channel, bool on);
    void readInput(int unit, int channel);

signals:
    void coilSet(int unit, int channel, bool on, bool ok, const QString &error);
    void inputRead(int unit, int channel, bool closed, bool ok, const QString &error);

private:
    using Target = std::pair<int, int>; // unit, channel
    void run();

    std::unique_ptr<DeviceBackend> m_backend;
    QThread *m_thread = nullptr;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::pair<Target, bool>> m_writes;
    std::set<Target> m_reads;
    bool m_stop = false;
};

// The devices of the relays and inputs, one per RelayAddress::key().
class RelayDevices {
public:
    // Made when first asked; a factory for tests that need another backend.
    using Factory = std::function<std::unique_ptr<DeviceBackend>(const RelayAddress &)>;
    explicit RelayDevices(Factory factory = makeBackend) : m_factory(std::move(factory)) {}
    RelayDevice *device(const RelayAddress &address);

private:
    Factory m_factory;
    std::map<QString, std::unique_ptr<RelayDevice>> m_devices;
};
