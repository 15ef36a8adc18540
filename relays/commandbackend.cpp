// The command pair: the on or off command run by the shell with the
// channel as $1, for anything the other drivers do not reach (a USB relay
// through usbrelay, a smart plug's own tool). It counts as answered when
// it exits with status 0 within its time.
#include "relaydevice.h"

#include <QProcess>

namespace {

class CommandBackend : public DeviceBackend {
public:
    static constexpr int kTimeoutMs = 5000;

    explicit CommandBackend(const RelayAddress &a) : m_address(a) {}

    bool setCoil(int, int channel, bool on, QString &error) override
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedChannels);
        p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"),
                                            on ? m_address.onCommand : m_address.offCommand,
                                            QStringLiteral("sh"), QString::number(channel)});
        if (!p.waitForStarted(kTimeoutMs)) {
            error = p.errorString();
            return false;
        }
        if (!p.waitForFinished(kTimeoutMs)) {
            p.kill();
            p.waitForFinished(1000);
            error = QStringLiteral("命令在 %1 秒内没有结束").arg(kTimeoutMs / 1000);
            return false;
        }
        if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            error = QStringLiteral("命令失败（退出码 %1）").arg(p.exitCode());
            return false;
        }
        return true;
    }

    std::optional<bool> readInput(int, int, QString &error) override
    {
        error = QStringLiteral("命令驱动不能读取输入");
        return std::nullopt;
    }

private:
    RelayAddress m_address;
};

} // namespace

std::unique_ptr<DeviceBackend> makeCommandBackend(const RelayAddress &address)
{
    return std::make_unique<CommandBackend>(address);
}
