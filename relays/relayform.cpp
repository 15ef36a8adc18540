#include "relayform.h"

#include <QDir>
#include <QFileInfo>

QStringList RelayForm::driverCodes(bool inputs)
{
    QStringList out;
    for (DriverKind k : {DriverKind::ModbusTcp, DriverKind::ModbusRtu, DriverKind::Gpio, DriverKind::Command})
        if (!inputs || k != DriverKind::Command) // a command cannot read a contact
            out << RelayAddress::driverName(k);
    return out;
}

QString RelayForm::driverText(const QString &code)
{
    DriverKind kind;
    if (!RelayAddress::driverFromName(code, kind))
        return code;
    QString words;
    switch (kind) {
    case DriverKind::ModbusTcp: words = QStringLiteral("网络继电器模块"); break;
    case DriverKind::ModbusRtu: words = QStringLiteral("串口（RS-485）继电器模块"); break;
    case DriverKind::Gpio: words = QStringLiteral("GPIO 引脚"); break;
    case DriverKind::Command: words = QStringLiteral("开关命令"); break;
    }
    return QStringLiteral("%1（%2）").arg(words, RelayAddress::driverName(kind));
}

QString RelayForm::addressHint(const QString &code)
{
    DriverKind kind;
    if (!RelayAddress::driverFromName(code, kind))
        return {};
    switch (kind) {
    case DriverKind::ModbusTcp: return QStringLiteral("主机:端口/从站号，例如 192.168.1.200:502/1（从站号不写为 1）");
    case DriverKind::ModbusRtu: return QStringLiteral("串口设备:波特率,8N1/从站号，例如 /dev/ttyUSB0:9600,8N1/1");
    case DriverKind::Gpio: return QStringLiteral("GPIO 芯片，例如 gpiochip0");
    case DriverKind::Command:
        return QStringLiteral("两行：第一行打开电源的命令，第二行关闭电源的命令；通道作为 $1 传给命令");
    }
    return {};
}

QString RelayForm::zonesText(const QList<qint64> &ids, const QString &none) const
{
    if (ids.isEmpty())
        return none;
    QStringList names;
    for (qint64 id : ids) {
        QString name = QStringLiteral("分区 %1（已删除）").arg(id);
        for (const Zone &z : m_zones)
            if (z.id == id)
                name = z.name;
        names << name;
    }
    return names.join(QStringLiteral("、"));
}

QString RelayForm::rowText(const Relay &r) const
{
    return QStringLiteral("%1 %2 → %3").arg(r.order).arg(r.name, zonesText(r.zones, kRelayNoZone));
}

QString RelayForm::rowText(const FireInput &f) const
{
    return QStringLiteral("%1 → %2").arg(f.name, zonesText(f.zones, kInputNoZone));
}

qint64 RelayForm::save(const Relay &r)
{
    const qint64 id = r.id == 0 ? m_tables.addRelay(r) : (m_tables.updateRelay(r), r.id);
    m_changed = true;
    return id;
}

qint64 RelayForm::save(const FireInput &f)
{
    const qint64 id = f.id == 0 ? m_tables.addFireInput(f) : (m_tables.updateFireInput(f), f.id);
    m_changed = true;
    return id;
}

void RelayForm::removeRelay(qint64 id)
{
    m_tables.removeRelay(id);
    m_changed = true;
}

void RelayForm::removeInput(qint64 id)
{
    m_tables.removeFireInput(id);
    m_changed = true;
}

QString RelayForm::musicName(const QString &path) const
{
    if (m_musicFolder.isEmpty())
        return path;
    const QFileInfo file(path);
    const QString folder = QDir(m_musicFolder).absolutePath();
    return file.absolutePath() == folder ? file.fileName() : path;
}
