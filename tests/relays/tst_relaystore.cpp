// The relays' and fire inputs' tables, and how 地址 is read per driver.
#include "bellstore.h"
#include "fakes.h"
#include "relaystore.h"

#include <QSqlQuery>
#include <QTest>

class RelayStoreTest : public QObject {
    Q_OBJECT
private slots:
    void addressesRead_data()
    {
        QTest::addColumn<QString>("driver");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("unit");
        QTest::newRow("tcp, unit 1") << "modbus-tcp" << "192.168.1.200:502" << "tcp 192.168.1.200 502" << 1;
        QTest::newRow("tcp with unit") << "modbus-tcp" << " relay.local:1502/7 " << "tcp relay.local 1502" << 7;
        QTest::newRow("tcp, v6") << "modbus-tcp" << "[fe80::1]:502/2" << "tcp fe80::1 502" << 2;
        QTest::newRow("driver's case") << "Modbus-TCP" << "10.0.0.5:502" << "tcp 10.0.0.5 502" << 1;
        QTest::newRow("rtu, device only") << "modbus-rtu" << "/dev/ttyUSB0" << "rtu /dev/ttyUSB0 9600 8N1" << 1;
        QTest::newRow("rtu, baud") << "modbus-rtu" << "/dev/ttyUSB0:19200" << "rtu /dev/ttyUSB0 19200 8N1" << 1;
        QTest::newRow("rtu, all") << "modbus-rtu" << "/dev/ttyS1:9600,8e1/3" << "rtu /dev/ttyS1 9600 8E1" << 3;
        QTest::newRow("rtu, unit after device") << "modbus-rtu" << "/dev/ttyUSB0/4" << "rtu /dev/ttyUSB0 9600 8N1" << 4;
        QTest::newRow("rtu, by-id path") << "modbus-rtu" << "/dev/serial/by-id/usb-CH340-if00"
                                         << "rtu /dev/serial/by-id/usb-CH340-if00 9600 8N1" << 1;
        QTest::newRow("gpio") << "gpio" << "gpiochip0" << "gpio gpiochip0" << 1;
        QTest::newRow("command") << "command" << "usbrelay R_1=1\n\nusbrelay R_1=0\n"
                                 << "command usbrelay R_1=1\nusbrelay R_1=0" << 1;
    }
    void addressesRead()
    {
        QFETCH(QString, driver);
        QFETCH(QString, text);
        QFETCH(QString, key);
        QFETCH(int, unit);
        const RelayAddress a = RelayAddress::parse(driver, text);
        QCOMPARE(a.key(), key);
        QCOMPARE(a.unit, unit);
    }

    void badAddressesSayWhy_data()
    {
        QTest::addColumn<QString>("driver");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown driver") << "snmp" << "x" << "驱动“snmp”不认识";
        QTest::newRow("empty") << "modbus-tcp" << "  " << "请填写地址";
        QTest::newRow("tcp without port") << "modbus-tcp" << "192.168.1.200" << "主机:端口";
        QTest::newRow("tcp port 0") << "modbus-tcp" << "h:0" << "端口应为 1 到 65535";
        QTest::newRow("tcp port too high") << "modbus-tcp" << "h:70000" << "端口应为 1 到 65535";
        QTest::newRow("tcp unit 0") << "modbus-tcp" << "h:502/0" << "从站号应为 1 到 247";
        QTest::newRow("tcp unit text") << "modbus-tcp" << "h:502/a" << "从站号应为 1 到 247";
        QTest::newRow("rtu not a device") << "modbus-rtu" << "COM3" << "应以串口设备开头";
        QTest::newRow("rtu odd baud") << "modbus-rtu" << "/dev/ttyUSB0:9601" << "串口设置不对";
        QTest::newRow("rtu bad framing") << "modbus-rtu" << "/dev/ttyUSB0:9600,9N1" << "串口设置不对";
        QTest::newRow("rtu unit 248") << "modbus-rtu" << "/dev/ttyUSB0:9600/248" << "从站号应为 1 到 247";
        QTest::newRow("gpio with space") << "gpio" << "gpio chip0" << "应为芯片名称";
        QTest::newRow("command, one line") << "command" << "usbrelay R_1=1" << "命令地址应为两行";
        QTest::newRow("command, three lines") << "command" << "a\nb\nc" << "命令地址应为两行";
    }
    void badAddressesSayWhy()
    {
        QFETCH(QString, driver);
        QFETCH(QString, text);
        QFETCH(QString, message);
        try {
            RelayAddress::parse(driver, text);
            QFAIL("accepted");
        } catch (const StoreError &e) {
            QVERIFY2(e.text().contains(message), qPrintable(e.text()));
        }
    }

    void relaysKeptAndChecked()
    {
        TempHome home;
        BellStore store;
        QCOMPARE(store.open(home.db()), QString());
        RelayStore relays(store);
        QVERIFY(relays.relays().isEmpty()); // no table yet
        Relay a{0, " 教学楼 ", "modbus-tcp", "192.168.1.200:502/1", 0, {3, 1}, 3000, 60000, 2};
        Relay b{0, "操场", "command", "on\noff", 5, {}, 0, 0, 1};
        a.id = relays.addRelay(a);
        b.id = relays.addRelay(b);
        a.name = "教学楼";
        a.zones = {1, 3};
        QCOMPARE(relays.relays(), (QList<Relay>{b, a})); // by 顺序
        // What another tool reads: the columns as described, zones as "1,3".
        QSqlQuery q(store.database());
        QVERIFY(q.exec("select 分区, 预开, 保持 from gongfang where 名称 = '教学楼'") && q.next());
        QCOMPARE(q.value(0).toString(), QString("1,3"));
        // Defaults for rows written by another tool.
        QVERIFY(q.exec("insert into gongfang (名称, 驱动, 地址, 通道) values ('新', 'gpio', 'gpiochip0', 4)"));
        const Relay added = relays.relays().first();
        QCOMPARE(added.preMs, Relay::kDefaultPreMs);
        QCOMPARE(added.holdMs, Relay::kDefaultHoldMs);

        struct Bad {
            Relay relay;
            QString message;
        };
        const QList<Bad> bad{
            {{0, "", "gpio", "gpiochip0", 0, {}, 0, 0, 0}, "请填写名称"},
            {{0, "操场", "gpio", "gpiochip0", 0, {}, 0, 0, 0}, "名称“操场”已经使用"},
            {{0, "x", "gpio", "gpiochip0", -1, {}, 0, 0, 0}, "通道应在 0 到 1023"},
            {{0, "x", "modbus-tcp", "h:502", 65536, {}, 0, 0, 0}, "通道应在 0 到 65535"},
            {{0, "x", "gpio", "gpiochip0", 0, {}, 30001, 0, 0}, "预开时间应在 0 到 30 秒之间"},
            {{0, "x", "gpio", "gpiochip0", 0, {}, 0, -1, 0}, "保持时间应在 0 到 3600 秒之间"},
            {{0, "x", "gpio", "gpiochip0", 0, {}, 0, 0, -1}, "顺序应为 0 或正整数"},
            {{0, "x", "modbus-tcp", "h", 0, {}, 0, 0, 0}, "主机:端口"},
        };
        for (const Bad &c : bad) {
            try {
                relays.addRelay(c.relay);
                QFAIL(qPrintable("accepted: " + c.message));
            } catch (const StoreError &e) {
                QVERIFY2(e.text().contains(c.message), qPrintable(e.text()));
            }
        }
        // Renaming to its own name is no clash; to another's is.
        b.holdMs = 5000;
        relays.updateRelay(b);
        b.name = "教学楼";
        QVERIFY_THROWS_EXCEPTION(StoreError, relays.updateRelay(b));
        relays.removeRelay(a.id);
        QCOMPARE(relays.relays().size(), 2);
        Relay gone = a;
        gone.name = "已删";
        QVERIFY_THROWS_EXCEPTION(StoreError, relays.updateRelay(gone));
    }

    void fireInputsKeptAndChecked()
    {
        TempHome home;
        BellStore store;
        QCOMPARE(store.open(home.db()), QString());
        RelayStore relays(store);
        QVERIFY(relays.fireInputs().isEmpty());
        FireInput f{0, "消防主机", "modbus-tcp", "192.168.1.201:502", 0, "疏散.mp3", {2}, false};
        f.id = relays.addFireInput(f);
        QCOMPARE(relays.fireInputs(), QList<FireInput>{f});
        // A command pair cannot be read.
        FireInput c{0, "命令", "command", "a\nb", 0, {}, {}, true};
        try {
            relays.addFireInput(c);
            QFAIL("accepted a command input");
        } catch (const StoreError &e) {
            QVERIFY(e.text().contains("命令驱动不能读取消防信号"));
        }
        f.endOnOpen = true;
        f.zones = {};
        relays.updateFireInput(f);
        QCOMPARE(relays.fireInputs().first().endOnOpen, true);
        QSqlQuery q(store.database());
        QVERIFY(q.exec("insert into xiaofang (名称, 驱动, 地址, 通道) values ('B', 'gpio', 'gpiochip1', 2)"));
        const FireInput b = relays.fireInputs().first(); // by name: "B" first
        QCOMPARE(b.endOnOpen, true);
        QVERIFY(b.music.isEmpty() && b.zones.isEmpty());
        relays.removeFireInput(f.id);
        QCOMPARE(relays.fireInputs().size(), 1);
    }
};

QTEST_GUILESS_MAIN(RelayStoreTest)
#include "tst_relaystore.moc"
