// The notification-area icon where no notification area exists (offscreen):
// the click handler and the minimise fallback.
#include "appicon.h"
#include "trayicon.h"

#include <QApplication>
#include <QMenu>
#include <QWidget>
#include <QtTest>

class TestTray : public QObject {
    Q_OBJECT
private slots:
    void iconAndTip()
    {
        QWidget w;
        w.setWindowTitle("Quorlin校园铃声广播系统3.12");
        TCoolTrayIcon tray(&w, {});
        // The tip names the program as the title does, and follows it.
        QCOMPARE(tray.icon()->toolTip(), w.windowTitle());
        w.setWindowTitle("Quorlin校园铃声广播系统3.13");
        QCOMPARE(tray.icon()->toolTip(), w.windowTitle());
        QVERIFY(!tray.icon()->icon().isNull());
        QVERIFY(tray.icon()->isVisible());
        QVERIFY(trayPicture().availableSizes().contains(QSize(16, 16)));
        const auto sizes = appIcon().availableSizes();
        for (int s : {16, 32, 48, 128})
            QVERIFY2(sizes.contains(QSize(s, s)), qPrintable(QString::number(s)));
        QVERIFY(!appIcon().pixmap(48).isNull());
    }

    void clickBringsHiddenWindowBack()
    {
        QWidget w;
        int shows = 0;
        TCoolTrayIcon tray(&w, [&] { ++shows; });
        w.show();
        w.showMinimized();
        w.hide();
        // Double, right and middle clicks do nothing.
        for (auto r : {QSystemTrayIcon::DoubleClick, QSystemTrayIcon::Context,
                       QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Unknown})
            tray.activated(r);
        QVERIFY(!w.isVisible());
        QCOMPARE(shows, 0);

        tray.activated(QSystemTrayIcon::Trigger);
        QVERIFY(w.isVisible());
        QVERIFY(!w.isMinimized());
        QCOMPARE(shows, 1);
        QTRY_VERIFY(w.isActiveWindow());
    }

    void hiddenWindowComesBackWhenTheTrayGoes()
    {
        QWidget w;
        bool available = true;
        TCoolTrayIcon tray(&w, {});
        tray.trayAvailable = [&] { return available; };
        w.show();
        w.showMinimized();
        QTRY_VERIFY(!w.isVisible()); // hidden into the notification area
        tray.checkTray();
        QVERIFY(!w.isVisible()); // still there: stays hidden
        available = false;       // the panel restarts
        QTRY_VERIFY_WITH_TIMEOUT(w.isVisible(), TCoolTrayIcon::kTrayCheckMs * 3);
        QVERIFY(!w.isMinimized());
    }

    void menuShowsRingsAndQuits()
    {
        QWidget w;
        bool running = false;
        TCoolTrayIcon tray(&w, {});
        tray.setUpMenu([&] { return running; }, [&] { running = !running; });
        QMenu *menu = tray.menu();
        QCOMPARE(tray.icon()->contextMenu(), menu);
        auto *ring = menu->findChild<QAction *>("TrayRing");
        QVERIFY(ring);
        QCOMPARE(ring->text(), QString("开始打铃"));
        ring->trigger();
        QVERIFY(running);
        emit menu->aboutToShow();
        QCOMPARE(ring->text(), QString("停止打铃"));
        // A later command goes in before 退出, which stays last.
        auto *later = new QAction("紧急广播", menu);
        tray.insertCommand(later);
        QStringList texts;
        for (QAction *a : menu->actions())
            if (!a->isSeparator())
                texts << a->text();
        QCOMPARE(texts, (QStringList{"显示主窗口", "停止打铃", "紧急广播", "退出"}));

        w.show();
        w.hide();
        menu->actions().first()->trigger(); // 显示主窗口
        QVERIFY(w.isVisible());
        menu->actions().last()->trigger(); // 退出 closes the window (which may ask first)
        QVERIFY(!w.isVisible());
    }

    void clickOnActiveWindowDoesNothing()
    {
        QWidget w;
        int shows = 0;
        TCoolTrayIcon tray(&w, [&] { ++shows; });
        w.show();
        w.activateWindow();
        QTRY_VERIFY(w.isActiveWindow());
        tray.CoolTrayIcon1Click();
        QCOMPARE(shows, 0);

        // Visible behind another window: brought to the front.
        QWidget other;
        other.show();
        other.activateWindow();
        QTRY_VERIFY(!w.isActiveWindow());
        tray.CoolTrayIcon1Click();
        QCOMPARE(shows, 1);
        QTRY_VERIFY(w.isActiveWindow());
    }

    void withoutNotificationAreaMinimiseStaysFindable()
    {
        if (QSystemTrayIcon::isSystemTrayAvailable())
            QSKIP("this platform has a notification area");
        QWidget w;
        TCoolTrayIcon tray(&w, {});
        w.show();
        w.showMinimized();
        QTest::qWait(50);
        QVERIFY(w.isVisible());
        QVERIFY(w.isMinimized());
    }
};

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
