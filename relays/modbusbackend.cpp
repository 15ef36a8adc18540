// Modbus TCP and RTU through libmodbus: one connection per device, made
// when first needed and made again after a failure, so that a module
// switched off and on again is found without a restart.
#include "relaydevice.h"

#include "relaylog.h"

#include <cerrno>
#include <modbus.h>

namespace {

class ModbusBackend : public DeviceBackend {
public:
    // How long one request waits for its answer (and a TCP connect for the
    // module): a module on the school's network answers in milliseconds.
    static constexpr int kTimeoutMs = 800;

    explicit ModbusBackend(const RelayAddress &a) : m_address(a) {}
    ~ModbusBackend() override { drop(); }

    bool setCoil(int unit, int channel, bool on, QString &error) override
    {
        if (!connect(unit, error))
            return false;
        if (modbus_write_bit(m_ctx, channel, on ? 1 : 0) == 1)
            return true;
        return failed(error);
    }

    std::optional<bool> readInput(int unit, int channel, QString &error) override
    {
        if (!connect(unit, error))
            return std::nullopt;
        uint8_t bit = 0;
        if (modbus_read_input_bits(m_ctx, channel, 1, &bit) == 1)
            return bit != 0;
        failed(error);
        return std::nullopt;
    }

private:
    bool connect(int unit, QString &error)
    {
        if (!m_ctx) {
            const RelayAddress &a = m_address;
            if (a.kind == DriverKind::ModbusTcp)
                m_ctx = modbus_new_tcp_pi(a.host.toUtf8().constData(), QByteArray::number(a.port).constData());
            else
                m_ctx = modbus_new_rtu(a.device.toLocal8Bit().constData(), a.baud, a.parity, a.dataBits,
                                       a.stopBits);
            if (!m_ctx) {
                error = QString::fromLocal8Bit(modbus_strerror(errno));
                return false;
            }
            modbus_set_response_timeout(m_ctx, 0, kTimeoutMs * 1000);
            modbus_set_byte_timeout(m_ctx, 0, kTimeoutMs * 1000);
            if (modbus_connect(m_ctx) == -1)
                return failed(error);
        }
        modbus_set_slave(m_ctx, unit);
        return true;
    }

    // The connection is closed after any failure: a late answer to the
    // request that timed out must not be read as the next one's.
    bool failed(QString &error)
    {
        error = QString::fromLocal8Bit(modbus_strerror(errno));
        drop();
        return false;
    }

    void drop()
    {
        if (m_ctx) {
            modbus_close(m_ctx);
            modbus_free(m_ctx);
            m_ctx = nullptr;
        }
    }

    RelayAddress m_address;
    modbus_t *m_ctx = nullptr;
};

} // namespace

std::unique_ptr<DeviceBackend> makeModbusBackend(const RelayAddress &address)
{
    return std::make_unique<ModbusBackend>(address);
}
