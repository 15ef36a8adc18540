// The amplifiers' relays in the window. 系统 → 功放电源…: the dialog's
// fields to the store (seconds shown, milliseconds kept; zones checked, none
// meaning 铃声输出/广播输出), the store's refusals shown, deleting asked
// first, and the engine reading the relays again after the menu's dialog
// saved one. The band naming a relay that does not answer, and the ad-hoc
// broadcast switching its relay.
#include "formlinshiguangbo.h"
#include "mainwindowfixture.h"
#include "modbusserver.h"
#include "noticeband.h"
#include "relaydialog.h"
#include "relaylink.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

class MainWindowRelaysTest : public QObject {
    Q_OBJECT

    struct Store {
        TempHome home;
        BellStore store;
        QList<Zone> zones;
        Store()
        {
            if (!store.open(home.db()).isEmpty())
                qFatal("store did not open");
            ZoneStore z(store);
            z.add({0, "操场", "pulse/a", 0});
            z.add({0, "教学楼", "pulse/b", 0});
            zones = z.list(); // by name: 操场, 教学楼
        }
    };
    static void check(QListWidget *list, int row, bool on)
    {
        list->item(row)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    }
    static QList<bool> checks(QListWidget *list)
    {
        QList<bool> out;
        for (int i = 0; i < list->count(); ++i)
            out << (list->item(i)->checkState() == Qt::Checked);
        return out;
    }

private slots:
    void relayFieldsReachTheStore()
    {
        Store s;
        FakeMessages messages;
        RelayForm form(s.store, s.zones);
        RelayDialog d(form, messages);
        QCOMPARE(d.relayPre->value(), 3.0); // the defaults of a new relay
        QCOMPARE(d.relayHold->value(), 60.0);
        QCOMPARE(checks(d.relayZones), (QList<bool>{true, false, false}));
        d.relayName->setText("教学楼功放");
        d.relayDriver->setCurrentIndex(d.relayDriver->findData("command"));
        QVERIFY(d.relayHint->text().contains("两行"));
        d.relayAddress->setPlainText("usbrelay R_1=1\nusbrelay R_1=0");
        d.relayChannel->setValue(2);
        check(d.relayZones, 2, true);
        check(d.relayZones, 1, true);
        d.relayPre->setValue(4.5);
        d.relayHold->setValue(90);
        d.relayOrder->setValue(3);
        d.addRelay();
        QVERIFY2(messages.shown.isEmpty(), qPrintable(messages.shown.value(0).text));
        const QList<Relay> kept = RelayStore(s.store).relays();
        QCOMPARE(kept.size(), 1);
        const Relay r = kept.first();
        QCOMPARE(r.driver, QStringLiteral("command"));
        QCOMPARE(r.channel, 2);
        QCOMPARE(r.zones, (QList<qint64>{s.zones[0].id, s.zones[1].id}));
        QCOMPARE(r.preMs, 4500);
        QCOMPARE(r.holdMs, 90000);
        QCOMPARE(r.order, 3);
        QCOMPARE(d.relayList->currentItem()->text(), QStringLiteral("3 教学楼功放 → 操场、教学楼"));
        QVERIFY(d.changed());

        // Changed back to 铃声输出/广播输出: checking it clears the zones.
        check(d.relayZones, 0, true);
        QCOMPARE(checks(d.relayZones), (QList<bool>{true, false, false}));
        d.saveRelay();
        QCOMPARE(RelayStore(s.store).relays().first().zones, QList<qint64>{});
        QCOMPARE(RelayStore(s.store).relays().first().id, r.id);

        // Deleting is asked first; No keeps it.
        messages.answers = {Messages::Answer::No, Messages::Answer::Yes};
        d.deleteRelay();
        QCOMPARE(RelayStore(s.store).relays().size(), 1);
        d.deleteRelay();
        QVERIFY(RelayStore(s.store).relays().isEmpty());
        QCOMPARE(d.relayList->count(), 0);
    }

    void refusalsShowTheStoresMessage_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("message");
        QTest::newRow("no name") << " " << "10.0.0.5:502" << "请填写名称。";
        QTest::newRow("no port") << "甲" << "10.0.0.5" << "主机:端口";
        QTest::newRow("used name") << "已有" << "10.0.0.5:502" << "名称“已有”已经使用";
    }
    void refusalsShowTheStoresMessage()
    {
        QFETCH(QString, name);
        QFETCH(QString, address);
        QFETCH(QString, message);
        Store s;
        RelayStore(s.store).addRelay({0, "已有", "gpio", "gpiochip0", 0, {}, 3000, 60000, 0});
        FakeMessages messages;
        RelayForm form(s.store, s.zones);
        RelayDialog d(form, messages);
        d.relayName->setText(name);
        d.relayDriver->setCurrentIndex(d.relayDriver->findData("modbus-tcp"));
        d.relayAddress->setPlainText(address);
        d.addRelay();
        QCOMPARE(messages.shown.size(), 1);
        QVERIFY2(messages.shown.first().text.contains(message), qPrintable(messages.shown.first().text));
        QCOMPARE(RelayStore(s.store).relays().size(), 1);
        QVERIFY(!d.changed());
    }

    void fireInputFieldsReachTheStore()
    {
        Store s;
        FakeMessages messages;
        FakeFileDialogs dialogs;
        RelayForm form(s.store, s.zones, s.home.music());
        RelayDialog d(form, messages, nullptr, &dialogs);
        QCOMPARE(d.inputDriver->findData("command"), -1); // a command reads no contact
        QVERIFY(d.inputEndOnOpen->isChecked());
        d.inputName->setText("消防主机");
        d.inputAddress->setText("127.0.0.1:1502/2");
        d.inputChannel->setValue(1);
        dialogs.openAnswers = {std::nullopt, s.home.music() + "撤离.mp3"};
        d.inputChooseMusic->click(); // cancelled: nothing changes
        QCOMPARE(d.inputMusic->text(), QString());
        d.inputChooseMusic->click(); // in the music folder: its bare name, as bells have
        check(d.inputZones, 2, true);
        d.inputEndOnOpen->setChecked(false);
        d.addInput();
        QVERIFY2(messages.shown.isEmpty(), qPrintable(messages.shown.value(0).text));
        const QList<FireInput> kept = RelayStore(s.store).fireInputs();
        QCOMPARE(kept, (QList<FireInput>{{kept.value(0).id, "消防主机", "modbus-tcp", "127.0.0.1:1502/2", 1,
                                          "撤离.mp3", {s.zones[1].id}, false}}));
        // Unchecking the last zone is every zone again.
        check(d.inputZones, 2, false);
        QCOMPARE(checks(d.inputZones), (QList<bool>{true, false, false}));
        d.saveInput();
        QCOMPARE(RelayStore(s.store).fireInputs().first().zones, QList<qint64>{});
    }

    void theMenusDialogHasTheEngineReadTheRelays()
    {
        MainWindowFixture f;
        f.make();
        TFormMain &w = *f.form;
        RelayPlan &plan = w.app().core().relays().plan();
        QVERIFY(!plan.timer.isActive()); // no relays: nothing ticks
        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto *d = qobject_cast<RelayDialog *>(QApplication::activeModalWidget());
            QVERIFY(d);
            seen = true;
            d->relayName->setText("功放");
            d->relayDriver->setCurrentIndex(d->relayDriver->findData("gpio"));
            d->relayAddress->setPlainText("gpiochip0");
            d->addRelay();
            d->accept();
        });
        f.find<QAction>("NRelays")->trigger();
        QVERIFY(seen);
        QVERIFY2(f.messages.shown.isEmpty(), qPrintable(f.messages.shown.value(0).text));
        QTRY_VERIFY(plan.timer.isActive()); // once the engine has read them
    }

    void bandNamesTheRelayThatDoesNotAnswer()
    {
        DeadServer hung;
        QVERIFY(hung.port() > 0);
        MainWindowFixture f;
        {
            BellStore store;
            QVERIFY(store.open(f.home.db()).isEmpty());
            RelayStore(store).addRelay({0, "礼堂功放", "modbus-tcp", QStringLiteral("127.0.0.1:%1").arg(hung.port()),
                                        0, {}, 3000, 60000, 0});
        }
        f.make();
        f.form->show();
        auto *band = f.find<NoticeBand>("RelayBand");
        QTRY_VERIFY(band->isVisible());
        QVERIFY2(band->text().startsWith(RelayPlan::unansweredText("礼堂功放")), qPrintable(band->text()));
        // Deleted in the dialog: the band goes.
        RelayForm form(f.form->store(), {});
        form.removeRelay(form.relays().first().id);
        f.form->app().core().relays().reload();
        QTRY_VERIFY(band->isHidden());
    }

    void theBroadcastSwitchesItsRelay()
    {
        ModbusServer server;
        QVERIFY(server.ok());
        MainWindowFixture f;
        f.make();
        TFormMain &w = *f.form;
        const qint64 relay = RelayStore(w.store()).addRelay(
            {0, "广播功放", "modbus-tcp", QStringLiteral("127.0.0.1:%1").arg(server.port()), 0, {}, 0, 1000, 0});
        RelayLink &relays = w.app().core().relays();
        relays.reload();
        relays.plan().timer.stop();
        AdhocPlayer &adhoc = w.adhoc().adhocPlayer();
        adhoc.list().store().addFiles({f.home.touchMusic("通知.mp3")});
        adhoc.list().Refresh();
        adhoc.list().select(0);
        adhoc.ButtonPlayClick();
        QVERIFY(adhoc.playMode());
        QTRY_VERIFY(relays.plan().isOn(relay)); // told through the engine's channel
        QTRY_VERIFY(server.coil(0));
        adhoc.ButtonPlayClick(); // stopped: off after its 保持
        QVERIFY(f.settle());
        f.clock.advanceMs(1100);
        relays.plan().tick();
        QVERIFY(!relays.plan().isOn(relay));
        QVERIFY2(f.messages.shown.isEmpty(), qPrintable(f.messages.shown.value(0).text));
    }
};

QTEST_MAIN(MainWindowRelaysTest)
#include "tst_mainwindow_relays.moc"
