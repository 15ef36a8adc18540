#include "altmenu.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

AltOpensMenu::AltOpensMenu(QWidget *window, std::function<void()> open)
    : QObject(window), m_window(window), m_open(std::move(open))
{
    qApp->installEventFilter(this);
}

bool AltOpensMenu::eventFilter(QObject *obj, QEvent *e)
{
    // Alt held for something else (Alt+Tab, Alt+drag by the window
    // manager) opens nothing.
    if (e->type() == QEvent::WindowDeactivate || e->type() == QEvent::MouseButtonPress)
        m_armed = false;
    if (e->type() != QEvent::KeyPress && e->type() != QEvent::KeyRelease)
        return false;
    auto *w = qobject_cast<QWidget *>(obj);
    if (!w || w->window() != m_window)
        return false;
    const auto *k = static_cast<QKeyEvent *>(e);
    if (e->type() == QEvent::KeyPress)
        m_armed = k->key() == Qt::Key_Alt && !k->isAutoRepeat()
                  && (k->modifiers() & ~(Qt::AltModifier | Qt::KeypadModifier)) == 0;
    else if (k->key() == Qt::Key_Alt && !k->isAutoRepeat() && std::exchange(m_armed, false))
        m_open();
    return false;
}
