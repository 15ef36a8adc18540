// The notification-area icon where no notification area exists (offscreen):
// the click handler and the minimise fallback.
#include "appicon.h"
#include "trayicon.h"

#include <QApplication>
#include <QWidget>
#include <QtTest>

class TestTray : public QObject {
    Q_OBJECT
private slots:
    void iconAndTip()
    {
        QWidget w;
        TCoolTrayIcon tray(&w, {});
        QCOMPARE(tray.icon()->toolTip(), QString("Quorlin学校铃声广播系统3.0"));
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
