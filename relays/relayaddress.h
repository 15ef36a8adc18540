#pragma once
// Where a relay or a fire alarm contact is, as 地址 says it for its driver
// (驱动):
//   modbus-tcp  host:port, or host:port/unit (unit 1 when left out)
//   modbus-rtu  the serial device, then optionally its settings and unit:
//               /dev/ttyUSB0, /dev/ttyUSB0:9600, /dev/ttyUSB0:19200,8E1/3
//               (9600 baud, 8 data bits, no parity, 1 stop bit, unit 1
//               when left out)
//   gpio        the chip: gpiochip0, /dev/gpiochip0 or its label
//   command     two shell commands on two lines, on first, off second;
//               each is run with the channel (通道) as $1
// parse() throws StoreError with a message for the operator.
#include <QString>

enum class DriverKind { ModbusTcp, ModbusRtu, Gpio, Command };

struct RelayAddress {
    DriverKind kind = DriverKind::ModbusTcp;
    // Modbus TCP
    QString host;
    int port = 502;
    // Modbus RTU
    QString device;
    int baud = 9600;
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 1;
    // Both Modbus: the unit (slave) id
    int unit = 1;
    // GPIO
    QString chip;
    // command
    QString onCommand;
    QString offCommand;

    // One text per device: relays and inputs with the same key share one
    // connection (a Modbus module with eight relays is one device).
    QString key() const;
    bool canReadInputs() const { return kind != DriverKind::Command; }

    static RelayAddress parse(const QString &driver, const QString &text);
    // The stored names of the drivers: modbus-tcp, modbus-rtu, gpio, command.
    static QString driverName(DriverKind kind);
    static bool driverFromName(const QString &name, DriverKind &kind);
    // The highest 通道 the driver can address.
    static int maxChannel(DriverKind kind);
};
