#include "trayicon.h"

#include "appicon.h"

#include <QApplication>
#include <QEvent>
#include <QMenu>
#include <QPainter>
#include <QTimer>
#include <QWidget>

TCoolTrayIcon::TCoolTrayIcon(QWidget *window, std::function<void()> formShow, QObject *parent)
    : QObject(parent), m_window(window), m_formShow(std::move(formShow)),
      m_icon(new QSystemTrayIcon(trayPicture(), this)), m_trayCheck(new QTimer(this))
{
    m_icon->setToolTip(window->windowTitle());
    // The title, unless the bells are stopped: then the stopped text.
    connect(window, &QWidget::windowTitleChanged, this, [this](const QString &title) {
        if (m_stoppedText.isEmpty() && m_emergencyText.isEmpty())
            m_icon->setToolTip(title);
    });
    m_trayCheck->setInterval(kTrayCheckMs);
    connect(m_trayCheck, &QTimer::timeout, this, &TCoolTrayIcon::checkTray);
    connect(m_icon, &QSystemTrayIcon::activated, this, &TCoolTrayIcon::activated);
    // Deleted with the program, not left behind in the notification area.
    connect(qApp, &QCoreApplication::aboutToQuit, m_icon, &QSystemTrayIcon::hide);
    m_window->installEventFilter(this);
    m_icon->show();
}

TCoolTrayIcon::~TCoolTrayIcon()
{
    m_icon->hide();
    delete m_menu;
    if (m_window)
        m_window->removeEventFilter(this);
}

void TCoolTrayIcon::showStopped(const QString &text)
{
    m_stoppedText = text;
    showState();
}

void TCoolTrayIcon::showEmergency(const QString &text)
{
    m_emergencyText = text;
    showState();
}

void TCoolTrayIcon::showState()
{
    if (!m_emergencyText.isEmpty()) {
        // The program's picture washed in red: seen at a glance in the panel.
        QPixmap red = trayPicture().pixmap(64);
        QPainter p(&red);
        p.setCompositionMode(QPainter::CompositionMode_SourceAtop);
        p.fillRect(red.rect(), QColor(230, 0, 0, 200));
        p.end();
        m_icon->setIcon(QIcon(red));
        m_icon->setToolTip(m_emergencyText);
        return;
    }
    const QString &text = m_stoppedText;
    m_icon->setIcon(text.isEmpty() ? trayPicture() : QIcon(trayPicture().pixmap(64, QIcon::Disabled)));
    m_icon->setToolTip(text.isEmpty() && m_window ? m_window->windowTitle() : text);
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

void TCoolTrayIcon::setUpMenu(std::function<bool()> running, std::function<void()> toggle)
{
    if (m_menu)
        return;
    m_menu = new QMenu; // a menu is a window: it has no QObject parent here
    m_menu->setObjectName(QStringLiteral("TrayMenu"));
    QAction *show = m_menu->addAction(QStringLiteral("显示主窗口"));
    connect(show, &QAction::triggered, this, &TCoolTrayIcon::CoolTrayIcon1Click);
    QAction *ring = m_menu->addAction(QString());
    ring->setObjectName(QStringLiteral("TrayRing"));
    connect(ring, &QAction::triggered, this, [toggle] { toggle(); });
    // The text follows the mode each time the menu opens.
    const auto caption = [ring, running] {
        ring->setText(running() ? QStringLiteral("停止打铃") : QStringLiteral("开始打铃"));
    };
    caption();
    connect(m_menu, &QMenu::aboutToShow, this, caption);
    m_menu->addSeparator();
    m_quit = m_menu->addAction(QStringLiteral("退出"));
    m_quit->setObjectName(QStringLiteral("TrayQuit"));
    connect(m_quit, &QAction::triggered, this, [this] {
        // The operator sees what is closing; the window asks before it goes.
        CoolTrayIcon1Click();
        if (m_window)
            m_window->close();
    });
    m_icon->setContextMenu(m_menu);
}

void TCoolTrayIcon::insertCommand(QAction *action)
{
    if (m_menu)
        m_menu->insertAction(m_quit, action);
}

void TCoolTrayIcon::checkTray()
{
    if (!m_window || m_window->isVisible()) {
        m_trayCheck->stop();
        return;
    }
    if (!trayAvailable()) {
        m_trayCheck->stop();
        m_window->showNormal();
        m_window->raise();
        m_window->activateWindow();
    }
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
    if (m_window && m_window->isMinimized() && m_icon->isVisible() && trayAvailable()) {
        m_window->hide();
        m_trayCheck->start();
    }
}
