// The notification-area icon on a real X server with a notification area.
// Run without DALING_TRAY_CHILD, this program starts Xvfb and the tray host
// trayer, runs itself there as the test and stops both; exit 77 = skipped
// (Xvfb, trayer or xdotool missing).
#include "trayicon.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QWidget>
#include <QtTest>
#include <csignal>
#include <cstdio>

namespace {
// A real click through the X server, where the tray host has put the icon.
void clickIcon(QSystemTrayIcon *icon, int button)
{
    // Two presses within the interval would make a double click, which does nothing.
    QTest::qWait(QApplication::doubleClickInterval() + 100);
    const QPoint c = icon->geometry().center();
    QProcess::execute("xdotool", {"mousemove", QString::number(c.x()),
                                  QString::number(c.y()), "click", QString::number(button)});
}
} // namespace

class TestTrayX11 : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QString("xcb"));
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);
    }

    void minimiseHidesClickBringsBack()
    {
        QWidget w;
        w.resize(400, 300);
        int shows = 0;
        TCoolTrayIcon tray(&w, [&] { ++shows; });
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTRY_VERIFY_WITH_TIMEOUT(!tray.icon()->geometry().isEmpty(), 5000);

        w.showMinimized();
        QTRY_VERIFY(!w.isVisible());

        clickIcon(tray.icon(), 3); // right button: nothing
        QTest::qWait(300);
        QVERIFY(!w.isVisible());
        QCOMPARE(shows, 0);

        clickIcon(tray.icon(), 1);
        QTRY_VERIFY(w.isVisible());
        QVERIFY(!w.isMinimized());
        QCOMPARE(shows, 1);

        // Once more: minimise, click, back again.
        w.showMinimized();
        QTRY_VERIFY(!w.isVisible());
        clickIcon(tray.icon(), 1);
        QTRY_VERIFY(w.isVisible());
        QCOMPARE(shows, 2);
    }

    void clickWorksWhileADialogIsOpen()
    {
        // The main window's dialogs block only it (window-modal), so the
        // icon still answers; the dialog comes back above the window.
        QWidget w;
        w.resize(400, 300);
        TCoolTrayIcon tray(&w, {});
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTRY_VERIFY_WITH_TIMEOUT(!tray.icon()->geometry().isEmpty(), 5000);
        QDialog dialog(&w);
        dialog.resize(200, 100);
        dialog.setWindowModality(Qt::WindowModal);
        bool back = false, dialogShown = false;
        QTimer::singleShot(300, &dialog, [&] {
            w.showMinimized();
            QTRY_VERIFY(!w.isVisible());
            clickIcon(tray.icon(), 1);
            back = QTest::qWaitFor([&] { return w.isVisible(); }, 5000);
            dialogShown = QTest::qWaitFor([&] { return dialog.isVisible() && dialog.isActiveWindow(); }, 5000);
            dialog.accept();
        });
        dialog.exec();
        QVERIFY(back);
        QVERIFY(dialogShown);
    }

    void clickOnActiveWindowDoesNothing()
    {
        QWidget w;
        w.resize(400, 300);
        int shows = 0;
        TCoolTrayIcon tray(&w, [&] { ++shows; });
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.activateWindow();
        QTRY_VERIFY_WITH_TIMEOUT(w.isActiveWindow(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!tray.icon()->geometry().isEmpty(), 5000);
        clickIcon(tray.icon(), 1);
        QTest::qWait(300);
        QCOMPARE(shows, 0);
    }

    // Last: it ends the notification area, as a panel restarting does.
    void hiddenWindowComesBackWhenTheTrayGoes()
    {
        QWidget w;
        w.resize(400, 300);
        TCoolTrayIcon tray(&w, {});
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTRY_VERIFY_WITH_TIMEOUT(!tray.icon()->geometry().isEmpty(), 5000);
        w.showMinimized();
        QTRY_VERIFY(!w.isVisible());
        const int trayer = qEnvironmentVariableIntValue("DALING_TRAYER_PID");
        QVERIFY(trayer > 0);
        QCOMPARE(::kill(trayer, SIGTERM), 0);
        QTRY_VERIFY_WITH_TIMEOUT(w.isVisible(), TCoolTrayIcon::kTrayCheckMs * 4);
    }
};

static int runOnXvfb(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    for (const char *tool : {"Xvfb", "trayer", "xdotool"})
        if (QStandardPaths::findExecutable(tool).isEmpty()) {
            std::printf("SKIP: %s is not installed\n", tool);
            return 77;
        }

    QProcess xvfb;
    QString display;
    for (int n = 57; n < 120 && display.isEmpty(); ++n) {
        if (QFile::exists(QString("/tmp/.X%1-lock").arg(n)))
            continue;
        xvfb.start("Xvfb", {QString(":%1").arg(n), "-screen", "0", "1024x768x24",
                            "-nolisten", "tcp"});
        if (!xvfb.waitForStarted(5000))
            continue;
        for (int i = 0; i < 100 && xvfb.state() == QProcess::Running; ++i) {
            if (QFile::exists(QString("/tmp/.X11-unix/X%1").arg(n))) {
                display = QString(":%1").arg(n);
                break;
            }
            QThread::msleep(50);
        }
        if (display.isEmpty()) {
            xvfb.kill();
            xvfb.waitForFinished(2000);
        }
    }
    if (display.isEmpty()) {
        std::printf("SKIP: no X display could be started\n");
        return 77;
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    env.remove("DBUS_SESSION_BUS_ADDRESS"); // the X embedding tray, not a D-Bus one
    QProcess trayer;
    trayer.setProcessEnvironment(env);
    trayer.start("trayer", {"--edge", "bottom", "--align", "right", "--widthtype", "request",
                            "--height", "32", "--SetDockType", "true"});
    trayer.waitForStarted(5000);

    env.insert("DALING_TRAYER_PID", QString::number(trayer.processId()));
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("DALING_TRAY_CHILD", "1");
    QProcess test;
    test.setProcessEnvironment(env);
    test.setProcessChannelMode(QProcess::ForwardedChannels);
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    test.start(QCoreApplication::applicationFilePath(), args);
    const bool finished = test.waitForFinished(75000);
    if (!finished)
        test.kill();
    test.waitForFinished(2000);

    trayer.terminate();
    if (!trayer.waitForFinished(2000))
        trayer.kill();
    xvfb.terminate();
    if (!xvfb.waitForFinished(3000))
        xvfb.kill();
    xvfb.waitForFinished(2000);
    if (!finished || test.exitStatus() != QProcess::NormalExit)
        return 1;
    return test.exitCode();
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("DALING_TRAY_CHILD"))
        return runOnXvfb(argc, argv);
    QApplication app(argc, argv);
    TestTrayX11 t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_tray_x11.moc"
