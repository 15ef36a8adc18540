#pragma once
// The notification-area icon (CoolTrayIcon1): minimising the main window
// takes it into the notification area, a left click on the icon gives it
// back. Where the desktop has no notification area the window minimises
// normally, so that it can always be found again.
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <functional>

class QWidget;

class TCoolTrayIcon : public QObject {
    Q_OBJECT
public:
    static QString tipText() { return QStringLiteral("Quorlin学校铃声广播系统3.0"); }

    // window: the main window. formShow runs each time a click brings the
    // window back (pass {} when the window's show event already runs it).
    TCoolTrayIcon(QWidget *window, std::function<void()> formShow, QObject *parent = nullptr);
    ~TCoolTrayIcon() override;

    QSystemTrayIcon *icon() const { return m_icon; }
    // While the bells are stopped: the icon in grey with that text as its
    // tooltip; an empty text restores both.
    void showStopped(const QString &text);

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
};
