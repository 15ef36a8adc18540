// GPIO lines through libgpiod (the v1 interface Debian 12 ships): each line
// is asked for once, as an output for a relay or an input for a contact,
// and kept while the program runs, so that no other program takes it.
#include "relaydevice.h"

#include <QByteArray>
#include <cerrno>
#include <cstring>
#include <gpiod.h>
#include <map>

namespace {

class GpioBackend : public DeviceBackend {
public:
    explicit GpioBackend(const RelayAddress &a) : m_address(a) {}
    ~GpioBackend() override
    {
        if (m_chip)
            gpiod_chip_close(m_chip); // releases its lines too
    }

    bool setCoil(int, int channel, bool on, QString &error) override
    {
        gpiod_line *line = lineFor(channel, true, on, error);
        if (!line)
            return false;
        if (gpiod_line_set_value(line, on ? 1 : 0) == 0)
            return true;
        error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }

    std::optional<bool> readInput(int, int channel, QString &error) override
    {
        gpiod_line *line = lineFor(channel, false, false, error);
        if (!line)
            return std::nullopt;
        const int v = gpiod_line_get_value(line);
        if (v < 0) {
            error = QString::fromLocal8Bit(std::strerror(errno));
            return std::nullopt;
        }
        return v == 1;
    }

private:
    gpiod_line *lineFor(int channel, bool output, bool initial, QString &error)
    {
        if (!m_chip) {
            m_chip = gpiod_chip_open_lookup(m_address.chip.toLocal8Bit().constData());
            if (!m_chip) {
                error = QStringLiteral("找不到 GPIO 芯片 %1（%2）")
                            .arg(m_address.chip, QString::fromLocal8Bit(std::strerror(errno)));
                return nullptr;
            }
        }
        if (auto it = m_lines.find(channel); it != m_lines.end())
            return it->second;
        gpiod_line *line = gpiod_chip_get_line(m_chip, static_cast<unsigned>(channel));
        const int r = !line ? -1
                      : output ? gpiod_line_request_output(line, "daling", initial ? 1 : 0)
                               : gpiod_line_request_input(line, "daling");
        if (r != 0) {
            error = QStringLiteral("GPIO 线 %1 无法使用（%2）")
                        .arg(channel)
                        .arg(QString::fromLocal8Bit(std::strerror(errno)));
            return nullptr;
        }
        m_lines[channel] = line;
        return line;
    }

    RelayAddress m_address;
    gpiod_chip *m_chip = nullptr;
    std::map<int, gpiod_line *> m_lines;
};

} // namespace

std::unique_ptr<DeviceBackend> makeGpioBackend(const RelayAddress &address)
{
    return std::make_unique<GpioBackend>(address);
}
