#include "relayaddress.h"

#include "storesql.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

[[noreturn]] void bad(const QString &text) { throw StoreError(text); }

int unitFrom(const QString &text, const QString &whole)
{
    bool ok = false;
    const int unit = text.toInt(&ok);
    // 0 is Modbus's broadcast: nobody answers it, so a switch could never be
    // confirmed; 247 is the highest unit the protocol gives.
    if (!ok || unit < 1 || unit > 247)
        bad(QStringLiteral("地址“%1”中的从站号应为 1 到 247 之间的整数。").arg(whole));
    return unit;
}

RelayAddress parseTcp(const QString &text)
{
    RelayAddress a;
    a.kind = DriverKind::ModbusTcp;
    QString rest = text;
    if (const int slash = rest.lastIndexOf(u'/'); slash >= 0) {
        a.unit = unitFrom(rest.mid(slash + 1), text);
        rest = rest.left(slash);
    }
    // [v6]:port, or host:port
    static const QRegularExpression re(QStringLiteral("^(?:\\[([^\\]]+)\\]|([^:\\[\\]\\s]+)):(\\d{1,5})$"));
    const auto m = re.match(rest);
    if (!m.hasMatch())
        bad(QStringLiteral("Modbus TCP 地址“%1”的格式不对，应写成“主机:端口”或“主机:端口/从站号”，"
                           "例如 192.168.1.200:502/1。")
                .arg(text));
    a.host = m.captured(1).isEmpty() ? m.captured(2) : m.captured(1);
    a.port = m.captured(3).toInt();
    if (a.port < 1 || a.port > 65535)
        bad(QStringLiteral("地址“%1”中的端口应为 1 到 65535 之间的整数。").arg(text));
    return a;
}

RelayAddress parseRtu(const QString &text)
{
    RelayAddress a;
    a.kind = DriverKind::ModbusRtu;
    QString rest = text;
    // A device's path ends in a name, never in bare digits: those are the unit.
    static const QRegularExpression unitAtEnd(QStringLiteral("/(\\d+)$"));
    if (const auto u = unitAtEnd.match(rest); u.hasMatch() && u.capturedStart() > 0) {
        const int slash = u.capturedStart();
        a.unit = unitFrom(rest.mid(slash + 1), text);
        rest = rest.left(slash);
    }
    const int colon = rest.indexOf(u':');
    a.device = colon < 0 ? rest : rest.left(colon);
    if (!a.device.startsWith(u'/'))
        bad(QStringLiteral("Modbus RTU 地址“%1”应以串口设备开头，例如 /dev/ttyUSB0 或 "
                           "/dev/ttyUSB0:9600,8N1/1。")
                .arg(text));
    if (colon < 0)
        return a;
    static const QRegularExpression re(QStringLiteral("^(\\d+)(?:,([78])([NEO])([12]))?$"),
                                       QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(rest.mid(colon + 1));
    static const QList<int> rates{1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    if (!m.hasMatch() || !rates.contains(m.captured(1).toInt()))
        bad(QStringLiteral("Modbus RTU 地址“%1”的串口设置不对，应写成“设备:波特率,8N1/从站号”，"
                           "波特率为 1200 到 115200 之一，例如 /dev/ttyUSB0:9600,8N1/1。")
                .arg(text));
    a.baud = m.captured(1).toInt();
    if (!m.captured(2).isEmpty()) {
        a.dataBits = m.captured(2).toInt();
        a.parity = m.captured(3).toUpper().at(0).toLatin1();
        a.stopBits = m.captured(4).toInt();
    }
    return a;
}

RelayAddress parseGpio(const QString &text)
{
    RelayAddress a;
    a.kind = DriverKind::Gpio;
    if (text.isEmpty() || text.contains(QRegularExpression(QStringLiteral("\\s"))))
        bad(QStringLiteral("GPIO 地址“%1”应为芯片名称，例如 gpiochip0。").arg(text));
    a.chip = text;
    return a;
}

RelayAddress parseCommand(const QString &text)
{
    RelayAddress a;
    a.kind = DriverKind::Command;
    const QStringList lines = text.split(u'\n', Qt::SkipEmptyParts);
    QStringList commands;
    for (const QString &l : lines)
        if (!l.trimmed().isEmpty())
            commands << l.trimmed();
    if (commands.size() != 2)
        bad(QStringLiteral("命令地址应为两行：第一行是打开电源的命令，第二行是关闭电源的命令。"));
    a.onCommand = commands[0];
    a.offCommand = commands[1];
    return a;
}

} // namespace

QString RelayAddress::driverName(DriverKind kind)
{
    switch (kind) {
    case DriverKind::ModbusTcp: return QStringLiteral("modbus-tcp");
    case DriverKind::ModbusRtu: return QStringLiteral("modbus-rtu");
    case DriverKind::Gpio: return QStringLiteral("gpio");
    case DriverKind::Command: return QStringLiteral("command");
    }
    return {};
}

bool RelayAddress::driverFromName(const QString &name, DriverKind &kind)
{
    for (DriverKind k : {DriverKind::ModbusTcp, DriverKind::ModbusRtu, DriverKind::Gpio, DriverKind::Command})
        if (driverName(k) == name.trimmed().toLower()) {
            kind = k;
            return true;
        }
    return false;
}

int RelayAddress::maxChannel(DriverKind kind)
{
    switch (kind) {
    case DriverKind::ModbusTcp:
    case DriverKind::ModbusRtu: return 65535; // a coil's or input's address
    case DriverKind::Gpio: return 1023;
    case DriverKind::Command: return 65535; // handed to the command as $1
    }
    return 0;
}

RelayAddress RelayAddress::parse(const QString &driver, const QString &text)
{
    DriverKind kind;
    if (!driverFromName(driver, kind))
        bad(QStringLiteral("驱动“%1”不认识，应为 modbus-tcp、modbus-rtu、gpio 或 command。").arg(driver));
    const QString t = kind == DriverKind::Command ? text : text.trimmed();
    if (t.trimmed().isEmpty())
        bad(QStringLiteral("请填写地址。"));
    switch (kind) {
    case DriverKind::ModbusTcp: return parseTcp(t);
    case DriverKind::ModbusRtu: return parseRtu(t);
    case DriverKind::Gpio: return parseGpio(t);
    case DriverKind::Command: return parseCommand(t);
    }
    throw StoreError(QStringLiteral("请填写地址。"));
}

QString RelayAddress::key() const
{
    switch (kind) {
    // One connection or serial line is one device whatever unit is asked:
    // the units behind a gateway or on one bus take turns on it.
    case DriverKind::ModbusTcp:
        return QStringLiteral("tcp %1 %2").arg(host).arg(port);
    case DriverKind::ModbusRtu:
        return QStringLiteral("rtu %1 %2 %3%4%5")
            .arg(device).arg(baud).arg(dataBits).arg(QChar::fromLatin1(parity)).arg(stopBits);
    case DriverKind::Gpio: return QStringLiteral("gpio %1").arg(chip);
    case DriverKind::Command: return QStringLiteral("command %1\n%2").arg(onCommand, offCommand);
    }
    return {};
}
