#pragma once
// Start with the operating system: an XDG autostart entry stands for the
// start-up registry value "QuorlinDaling". The program writes the user's own
// entry (~/.config/autostart), which needs no root; the machine-wide entry in
// /etc/xdg/autostart is the administrator's. As desktops read them, the
// user's entry of the same name overrides the machine's: present with a
// non-empty Exec and not Hidden means on.
#include <QObject>
#include <QString>
#include <optional>

class Messages;
class QAction;

class Autostart {
public:
    // $XDG_CONFIG_HOME/autostart, by default ~/.config/autostart.
    static QString userFolder();
    static QString systemFolder() { return QStringLiteral("/etc/xdg/autostart"); }
    static QString entryName() { return QStringLiteral("QuorlinDaling.desktop"); }

    explicit Autostart(QString folder = userFolder(), QString machineFolder = systemFolder());

    QString folder() const { return m_folder; }
    QString entryPath() const; // the user's own entry

    // Any error reading an entry counts as off.
    bool isOn() const;
    // Writes the user's entry atomically; false when it cannot be written.
    bool turnOn(const QString &exePath);
    // Removes the user's entry; where the machine's entry starts the program,
    // a Hidden entry of the user's switches it off for this user alone.
    // Failures are not reported: an entry that cannot be changed stays.
    void turnOff();

    // The Exec value that starts exePath, quoted and escaped as desktop
    // entries require (spaces, quotes, backslashes, "%" …).
    static QString execValue(const QString &exePath);
    // The text of the entry written for exePath.
    static QString entryText(const QString &exePath);

private:
    // On, off, or no entry there at all.
    static std::optional<bool> entryState(const QString &path);

    QString m_folder;
    QString m_systemFolder;
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
