#pragma once
// The notification-area icon (CoolTrayIcon1): minimising the main window
// takes it into the notification area, a left click on the icon gives it
// back. Where the desktop has no notification area the window minimises
// normally, and a window hidden there comes back by itself when the
// notification area goes away (a panel restarting), so that it can always
// be found again. Its tip names the program as the window's title does.
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <functional>

class QAction;
class QMenu;
class QTimer;

class QWidget;

class TCoolTrayIcon : public QObject {
    Q_OBJECT
public:
    // How often a hidden window asks whether the notification area is
    // still there.
    static constexpr int kTrayCheckMs = 2000;

    // window: the main window. formShow runs each time a click brings the
    // window back (pass {} when the window's show event already runs it).
    TCoolTrayIcon(QWidget *window, std::function<void()> formShow, QObject *parent = nullptr);
    ~TCoolTrayIcon() override;

    QSystemTrayIcon *icon() const { return m_icon; }
    // While the bells are stopped: the icon in grey with that text as its
    // tooltip; an empty text restores both.
    void showStopped(const QString &text);
    // While an emergency broadcast lasts: the icon in red with that text as
    // its tooltip (over the stopped look); an empty text ends it.
    void showEmergency(const QString &text);

    // The icon's menu: 显示主窗口, 开始打铃 or 停止打铃 (as running() says;
    // toggle() switches), 退出 (closes the window, which asks first).
    // Other commands go in before 退出 (insertCommand).
    void setUpMenu(std::function<bool()> running, std::function<void()> toggle);
    QMenu *menu() const { return m_menu; }
    void insertCommand(QAction *action);
    // Whether a notification area is there; tests replace it.
    std::function<bool()> trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    // Shows the window again when it is hidden and the notification area is
    // gone; runs every kTrayCheckMs while the window is hidden.
    void checkTray();

    // A left click on the icon: bring the main window back unless it is
    // already the active window.
    void CoolTrayIcon1Click();
    // What the icon does with each kind of click; only a single left click acts.
    void activated(QSystemTrayIcon::ActivationReason reason);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void hideIfMinimised();

    QPointer<QWidget> m_window;
    std::function<void()> m_formShow;
    QSystemTrayIcon *m_icon;
    QMenu *m_menu = nullptr;
    QAction *m_quit = nullptr;
    QTimer *m_trayCheck;
    QString m_stoppedText; // the tooltip while the bells are stopped
    QString m_emergencyText;
    void showState();
};
