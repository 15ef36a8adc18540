#include "relaydevice.h"

#include "relaylog.h"

#include <QThread>
#include <algorithm>

RelayDevice::RelayDevice(std::unique_ptr<DeviceBackend> backend, QObject *parent)
    : QObject(parent), m_backend(std::move(backend))
{
    m_thread = QThread::create([this] { run(); });
    m_thread->setObjectName(QStringLiteral("relay device"));
    m_thread->start();
}

RelayDevice::~RelayDevice()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_reads.clear();
    }
    m_wake.notify_all();
    m_thread->wait();
    delete m_thread;
}

void RelayDevice::setCoil(int unit, int channel, bool on)
{
    {
        std::lock_guard lock(m_mutex);
        const Target target{unit, channel};
        auto queued = std::find_if(m_writes.begin(), m_writes.end(),
                                   [&](const auto &w) { return w.first == target; });
        if (queued != m_writes.end())
            queued->second = on;
        else
            m_writes.emplace_back(target, on);
    }
    m_wake.notify_all();
}

void RelayDevice::readInput(int unit, int channel)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_reads.insert({unit, channel}).second)
            return;
    }
    m_wake.notify_all();
}

void RelayDevice::run()
{
    for (;;) {
        std::optional<std::pair<Target, bool>> write;
        std::optional<Target> read;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || !m_writes.empty() || !m_reads.empty(); });
            // At the end the switches still queued (the rest state) are
            // made, while the device answers.
            if (m_stop && m_writes.empty())
                return;
            // Switching comes first: a relay waits behind no poll.
            if (!m_writes.empty()) {
                write = m_writes.front();
                m_writes.pop_front();
            } else {
                read = *m_reads.begin();
                m_reads.erase(m_reads.begin());
            }
        }
        QString error;
        if (write) {
            const auto [target, on] = *write;
            const bool ok = m_backend->setCoil(target.first, target.second, on, error);
            if (!ok) {
                std::lock_guard lock(m_mutex);
                if (m_stop) {
                    qCWarning(lcRelay).noquote() << "relay device did not answer at the end:" << error;
                    m_writes.clear();
                }
            }
            // Delivered in the owner's thread; dropped with the device.
            QMetaObject::invokeMethod(this, [this, target, on, ok, error] {
                emit coilSet(target.first, target.second, on, ok, error);
            }, Qt::QueuedConnection);
        } else {
            const std::optional<bool> closed = m_backend->readInput(read->first, read->second, error);
            const Target target = *read;
            QMetaObject::invokeMethod(this, [this, target, closed, error] {
                emit inputRead(target.first, target.second, closed.value_or(false), closed.has_value(), error);
            }, Qt::QueuedConnection);
        }
    }
}

RelayDevice *RelayDevices::device(const RelayAddress &address)
{
    auto &slot = m_devices[address.key()];
    if (!slot)
        slot = std::make_unique<RelayDevice>(m_factory(address));
    return slot.get();
}

std::unique_ptr<DeviceBackend> makeModbusBackend(const RelayAddress &address);
std::unique_ptr<DeviceBackend> makeGpioBackend(const RelayAddress &address);
std::unique_ptr<DeviceBackend> makeCommandBackend(const RelayAddress &address);

std::unique_ptr<DeviceBackend> makeBackend(const RelayAddress &address)
{
    switch (address.kind) {
    case DriverKind::ModbusTcp:
    case DriverKind::ModbusRtu: return makeModbusBackend(address);
    case DriverKind::Gpio: return makeGpioBackend(address);
    case DriverKind::Command: return makeCommandBackend(address);
    }
    return makeCommandBackend(address);
}
