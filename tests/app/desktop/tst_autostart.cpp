// The autostart entry and the menu item that follows it.
#include "autostart.h"
#include "fakes.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

class TestAutostart : public QObject {
    Q_OBJECT

    static void writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

private slots:
    void entryOnAndOff()
    {
        QTemporaryDir dir;
        Autostart a(dir.path() + "/xdg/autostart"); // missing folder is created
        QVERIFY(!a.isOn());
        QVERIFY(a.turnOn("/opt/daling/daling"));
        QVERIFY(a.isOn());
        QCOMPARE(a.entryPath(), dir.path() + "/xdg/autostart/QuorlinDaling.desktop");
        QFile f(a.entryPath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray text = f.readAll();
        QVERIFY(text.startsWith("[Desktop Entry]\n"));
        QVERIFY(text.contains("\nExec=/opt/daling/daling\n"));
        QVERIFY(f.permissions() & QFileDevice::ReadOther);
        f.close();

        // Written again over an existing entry.
        QVERIFY(a.turnOn("/opt/daling2/daling"));
        QVERIFY(a.isOn());

        a.turnOff();
        QVERIFY(!a.isOn());
        QVERIFY(!QFile::exists(a.entryPath()));
        a.turnOff(); // absent: silent
        QVERIFY(!a.isOn());
    }

    void entriesThatAreOff()
    {
        QTemporaryDir dir;
        Autostart a(dir.path());
        writeFile(a.entryPath(), "[Desktop Entry]\nType=Application\nExec=\n");
        QVERIFY(!a.isOn());
        writeFile(a.entryPath(), "[Desktop Entry]\nExec=/opt/d/daling\nHidden=true\n");
        QVERIFY(!a.isOn());
        writeFile(a.entryPath(), "[Other]\nExec=/opt/d/daling\n");
        QVERIFY(!a.isOn());
        writeFile(a.entryPath(), "\x01\x02 not an entry");
        QVERIFY(!a.isOn());
        // Someone else's entry for this program counts: present means on.
        writeFile(a.entryPath(), "# by hand\n[Desktop Entry]\nExec = /usr/bin/daling\n");
        QVERIFY(a.isOn());
        QFile::remove(a.entryPath());
        QVERIFY(QDir(dir.path()).mkdir("QuorlinDaling.desktop"));
        QVERIFY(!a.isOn());
    }

    // The administrator's entry starts it for everyone; one user's own
    // choice overrides it for that user alone.
    void machineEntryAndUsersOwn()
    {
        QTemporaryDir dir;
        const QString machine = dir.path() + "/etc/xdg/autostart";
        QVERIFY(QDir().mkpath(machine));
        writeFile(machine + "/QuorlinDaling.desktop", "[Desktop Entry]\nExec=/opt/daling/daling\n");
        Autostart a(dir.path() + "/home/.config/autostart", machine);
        QVERIFY(a.isOn());
        a.turnOff();
        QVERIFY(!a.isOn());
        QVERIFY(QFile::exists(machine + "/QuorlinDaling.desktop"));
        QVERIFY(a.turnOn("/opt/daling/daling"));
        QVERIFY(a.isOn());
        // Without the machine's entry, off removes the user's entry.
        QFile::remove(machine + "/QuorlinDaling.desktop");
        a.turnOff();
        QVERIFY(!a.isOn());
        QVERIFY(!QFile::exists(a.entryPath()));
    }

    void userFolderFollowsXdgConfigHome()
    {
        const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", "/srv/学校/cfg");
        QCOMPARE(Autostart::userFolder(), QString("/srv/学校/cfg/autostart"));
        qputenv("XDG_CONFIG_HOME", "relative/cfg"); // ignored, as the desktops do
        QCOMPARE(Autostart::userFolder(), QDir::homePath() + "/.config/autostart");
        qputenv("XDG_CONFIG_HOME", saved);
    }

    void execQuoting()
    {
        QCOMPARE(Autostart::execValue("/opt/daling/daling"), QString("/opt/daling/daling"));
        QCOMPARE(Autostart::execValue("/home/学校/铃声 程序/daling"),
                 QString("\"/home/学校/铃声 程序/daling\""));
        QCOMPARE(Autostart::execValue("/a b/x$y\"z`w\\v/100%"),
                 QString("\"/a b/x\\\\$y\\\\\"z\\\\`w\\\\\\\\v/100%%\""));
    }

    // An independent launcher reads our Exec back and starts the program.
    void launchesFromChinesePathWithSpace()
    {
        const QString gio = QStandardPaths::findExecutable("gio");
        if (gio.isEmpty())
            QSKIP("gio is not installed");
        QTemporaryDir dir;
        // (GLib does not undo "%%" before it looks for the program, so no "%" here.)
        const QString folder = dir.path() + "/学校 铃声/it's $HOME (1)";
        QVERIFY(QDir().mkpath(folder));
        const QString exe = folder + "/daling";
        writeFile(exe, "#!/bin/sh\necho ran > \"$(dirname \"$0\")/ran.txt\"\n");
        QFile::setPermissions(exe, QFile::permissions(exe) | QFileDevice::ExeOwner);

        Autostart a(dir.path() + "/autostart");
        QVERIFY(a.turnOn(exe));
        QProcess p;
        p.start(gio, {"launch", a.entryPath()});
        QVERIFY(p.waitForFinished(20000));
        QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder + "/ran.txt"), 10000);
    }

    void menuFollowsEntry()
    {
        QTemporaryDir dir;
        QAction NZiDong("开机启动启动");
        FakeMessages messages;
        AutostartMenu menu(&NZiDong, messages, Autostart(dir.path()), "/opt/daling/daling");
        // Radio-style mark that can still be switched off.
        QVERIFY(NZiDong.isCheckable());
        QVERIFY(NZiDong.actionGroup() && NZiDong.actionGroup()->isExclusive());

        menu.readMark();
        QVERIFY(!NZiDong.isChecked());

        NZiDong.trigger(); // what a click does
        QVERIFY(NZiDong.isChecked());
        QVERIFY(menu.autostart().isOn());
        menu.readMark();
        QVERIFY(NZiDong.isChecked());

        NZiDong.trigger();
        QVERIFY(!NZiDong.isChecked());
        QVERIFY(!menu.autostart().isOn());

        // Off while the entry is already gone: nothing to say.
        menu.NZiDongClick();
        QVERIFY(NZiDong.isChecked());
        QFile::remove(menu.autostart().entryPath());
        menu.NZiDongClick();
        QVERIFY(!NZiDong.isChecked());
        QVERIFY(messages.shown.isEmpty());

        // Someone removed the entry behind our back: the next show says off.
        NZiDong.trigger();
        QFile::remove(menu.autostart().entryPath());
        menu.readMark();
        QVERIFY(!NZiDong.isChecked());
    }

    void onWhereNothingCanBeWritten()
    {
        QTemporaryDir dir;
        // Root may write anywhere; a file where the folder should be stops it.
        writeFile(dir.path() + "/xdg", "a file, not a folder");
        QAction NZiDong("开机启动启动");
        FakeMessages messages;
        AutostartMenu menu(&NZiDong, messages, Autostart(dir.path() + "/xdg/autostart"),
                           "/opt/daling/daling");
        menu.readMark();
        NZiDong.trigger();
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown[0].kind, QString("Error"));
        QCOMPARE(messages.shown[0].text,
                 QString("写注册表出现错误！请检查有杀毒软件禁止写注册表！"));
        QVERIFY(NZiDong.isChecked()); // until the next show reads the truth
        menu.readMark();
        QVERIFY(!NZiDong.isChecked());

        // Off where nothing can be removed: silent.
        NZiDong.setChecked(true);
        NZiDong.trigger();
        QVERIFY(!NZiDong.isChecked());
        QCOMPARE(messages.shown.size(), 1);
    }
};

QTEST_MAIN(TestAutostart)
#include "tst_autostart.moc"
