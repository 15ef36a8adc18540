#include "trayicon.h"

#include "appicon.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

TCoolTrayIcon::TCoolTrayIcon(QWidget *window, std::function<void()> formShow, QObject *parent)
    : QObject(parent), m_window(window), m_formShow(std::move(formShow)),
      m_icon(new QSystemTrayIcon(trayPicture(), this))
{
    m_icon->setToolTip(tipText());
    connect(m_icon, &QSystemTrayIcon::activated, this, &TCoolTrayIcon::activated);
    // Deleted with the program, not left behind in the notification area.
    connect(qApp, &QCoreApplication::aboutToQuit, m_icon, &QSystemTrayIcon::hide);
    m_window->installEventFilter(this);
    m_icon->show();
}

TCoolTrayIcon::~TCoolTrayIcon()
{
    m_icon->hide();
    if (m_window)
        m_window->removeEventFilter(this);
}

void TCoolTrayIcon::showStopped(const QString &text)
{
    m_icon->setIcon(text.isEmpty() ? trayPicture() : QIcon(trayPicture().pixmap(64, QIcon::Disabled)));
    m_icon->setToolTip(text.isEmpty() ? tipText() : text);
}

void TCoolTrayIcon::activated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger)
        CoolTrayIcon1Click();
}

void TCoolTrayIcon::CoolTrayIcon1Click()
{
    if (!m_window)
        return;
    if (m_window->isVisible() && !m_window->isMinimized() && m_window->isActiveWindow())
        return;
    m_window->showNormal();
    m_window->raise();
    m_window->activateWindow();
    // A dialog open over the window comes back above it, where the operator
    // left it.
    if (QWidget *dialog = QApplication::activeModalWidget(); dialog && dialog != m_window) {
        dialog->show();
        dialog->raise();
        dialog->activateWindow();
    }
    if (m_formShow)
        m_formShow();
}

bool TCoolTrayIcon::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::WindowStateChange
        && m_window->isMinimized()) {
        // Hiding inside the state change confuses some window managers;
        // do it once the change is through.
        QTimer::singleShot(0, this, &TCoolTrayIcon::hideIfMinimised);
    }
    return QObject::eventFilter(watched, event);
}

void TCoolTrayIcon::hideIfMinimised()
{
    // Asked at each minimise: a notification area may come and go.
    if (m_window && m_window->isMinimized() && m_icon->isVisible()
        && QSystemTrayIcon::isSystemTrayAvailable())
        m_window->hide();
}
