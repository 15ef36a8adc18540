#pragma once
// Start with the operating system: an XDG autostart entry in the machine-wide
// autostart folder stands for the start-up registry value "QuorlinDaling".
// Present with a non-empty Exec means on.
#include <QObject>
#include <QString>

class Messages;
class QAction;

class Autostart {
public:
    static QString defaultFolder() { return QStringLiteral("/etc/xdg/autostart"); }
    static QString entryName() { return QStringLiteral("QuorlinDaling.desktop"); }

    explicit Autostart(QString folder = defaultFolder());

    QString folder() const { return m_folder; }
    QString entryPath() const;

    // Any error reading the entry counts as off.
    bool isOn() const;
    // Writes the entry atomically; false when it cannot be written.
    bool turnOn(const QString &exePath);
    // Failures are not reported: an entry that cannot be removed stays.
    void turnOff();

    // The Exec value that starts exePath, quoted and escaped as desktop
    // entries require (spaces, quotes, backslashes, "%" …).
    static QString execValue(const QString &exePath);
    // The text of the entry written for exePath.
    static QString entryText(const QString &exePath);

private:
    QString m_folder;
};

// The menu item "开机启动启动" (NZiDong): a radio-style mark that follows the
// autostart entry. The item is made checkable here; a click flips it and
// writes or removes the entry.
class AutostartMenu : public QObject {
    Q_OBJECT
public:
    AutostartMenu(QAction *NZiDong, Messages &messages, Autostart autostart = Autostart(),
                  QString exePath = QString(), QObject *parent = nullptr);

    static QString writeErrorText()
    {
        return QStringLiteral("写注册表出现错误！请检查有杀毒软件禁止写注册表！");
    }

    // Read at every showing of the main window: the mark follows the entry.
    void readMark();
    // Flip the mark and act on it (what a click on the item does).
    void NZiDongClick();

    const Autostart &autostart() const { return m_autostart; }

private:
    void apply(bool on);

    QAction *m_action;
    Messages &m_messages;
    Autostart m_autostart;
    QString m_exePath;
};
