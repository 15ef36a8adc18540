// What the 功放电源 dialog shows and saves, without its widgets.
#include "bellstore.h"
#include "fakes.h"
#include "relayform.h"

#include <QTest>

class RelayFormTest : public QObject {
    Q_OBJECT
private slots:
    void driversInTheOperatorsWords()
    {
        QCOMPARE(RelayForm::driverCodes(false), (QStringList{"modbus-tcp", "modbus-rtu", "gpio", "command"}));
        QCOMPARE(RelayForm::driverCodes(true), (QStringList{"modbus-tcp", "modbus-rtu", "gpio"}));
        QCOMPARE(RelayForm::driverText("modbus-tcp"), QStringLiteral("网络继电器模块（modbus-tcp）"));
        QCOMPARE(RelayForm::driverText("snmp"), QStringLiteral("snmp")); // as found
        for (const QString &code : RelayForm::driverCodes(false))
            QVERIFY2(!RelayForm::addressHint(code).isEmpty(), qPrintable(code));
    }

    void secondsAndMilliseconds_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<int>("ms");
        QTest::newRow("default pre-roll") << 3.0 << 3000;
        QTest::newRow("tenths") << 2.5 << 2500;
        QTest::newRow("binary fraction") << 0.3 << 300; // 0.3 * 1000 is 299.99…
        QTest::newRow("longest hold") << 3600.0 << RelayStore::kMaxHoldMs;
        QTest::newRow("zero") << 0.0 << 0;
    }
    void secondsAndMilliseconds()
    {
        QFETCH(double, seconds);
        QFETCH(int, ms);
        QCOMPARE(RelayForm::milliseconds(seconds), ms);
        QCOMPARE(RelayForm::milliseconds(RelayForm::seconds(ms)), ms);
    }

    void musicIsNamedAsTheBellsNameIt_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::newRow("in the music folder") << "/srv/daling/音乐/" << "/srv/daling/音乐/撤离.mp3" << "撤离.mp3";
        QTest::newRow("folder without slash") << "/srv/daling/音乐" << "/srv/daling/音乐/撤离.mp3" << "撤离.mp3";
        QTest::newRow("a subfolder") << "/srv/daling/音乐/" << "/srv/daling/音乐/消防/撤离.mp3"
                                     << "/srv/daling/音乐/消防/撤离.mp3";
        QTest::newRow("elsewhere") << "/srv/daling/音乐/" << "/media/u/撤离.mp3" << "/media/u/撤离.mp3";
        QTest::newRow("no folder known") << "" << "/srv/daling/音乐/撤离.mp3" << "/srv/daling/音乐/撤离.mp3";
    }
    void musicIsNamedAsTheBellsNameIt()
    {
        QFETCH(QString, folder);
        QFETCH(QString, path);
        QFETCH(QString, name);
        TempHome home;
        BellStore store;
        QCOMPARE(RelayForm(store, {}, folder).musicName(path), name);
    }

    void rowsNameTheirZones()
    {
        TempHome home;
        BellStore store;
        QCOMPARE(store.open(home.db()), QString());
        RelayForm form(store, {{4, "操场", "pulse/a", 0}, {7, "教学楼", "pulse/b", 0}});
        QCOMPARE(form.rowText(Relay{0, "甲", "gpio", "gpiochip0", 0, {}, 0, 0, 2}),
                 QStringLiteral("2 甲 → 铃声输出和广播输出"));
        QCOMPARE(form.rowText(Relay{0, "乙", "gpio", "gpiochip0", 0, {4, 7}, 0, 0, 0}),
                 QStringLiteral("0 乙 → 操场、教学楼"));
        QCOMPARE(form.rowText(FireInput{0, "消防", "gpio", "gpiochip0", 0, "", {}, true}),
                 QStringLiteral("消防 → 全部分区"));
        QCOMPARE(form.zonesText({9}, RelayForm::kInputNoZone), QStringLiteral("分区 9（已删除）"));
    }

    void savesAddThenChangeAndRefusalsKeepTheStore()
    {
        TempHome home;
        BellStore store;
        QCOMPARE(store.open(home.db()), QString());
        RelayForm form(store, {});
        QVERIFY(!form.changed());
        Relay r{0, "教学楼功放", "modbus-tcp", "192.168.1.200:502/1", 0, {}, 3000, 60000, 1};
        try {
            form.save(Relay{0, "坏", "modbus-tcp", "192.168.1.200", 0, {}, 3000, 60000, 0});
            QFAIL("accepted");
        } catch (const StoreError &e) {
            QVERIFY2(e.text().contains("主机:端口"), qPrintable(e.text()));
        }
        QVERIFY(!form.changed() && form.relays().isEmpty());
        r.id = form.save(r);
        QVERIFY(r.id > 0 && form.changed());
        r.holdMs = 90000;
        QCOMPARE(form.save(r), r.id);
        QCOMPARE(form.relays(), QList<Relay>{r});

        FireInput f{0, "消防主机", "modbus-tcp", "192.168.1.200:502/1", 0, "", {}, false};
        f.id = form.save(f);
        f.music = "撤离.mp3";
        QCOMPARE(form.save(f), f.id);
        QCOMPARE(form.inputs(), QList<FireInput>{f});
        form.removeRelay(r.id);
        form.removeInput(f.id);
        QVERIFY(form.relays().isEmpty() && form.inputs().isEmpty());
    }
};

QTEST_GUILESS_MAIN(RelayFormTest)
#include "tst_relayform.moc"
