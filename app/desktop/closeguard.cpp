#include "closeguard.h"

#include "seams.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QPropertyAnimation>
#include <QSessionManager>
#include <QTimer>
#include <QWidget>

CloseGuard::CloseGuard(QWidget *window, Messages &messages, QObject *parent)
    : QObject(parent), m_window(window), m_messages(messages)
{
#ifndef QT_NO_SESSIONMANAGER
    connect(qGuiApp, &QGuiApplication::commitDataRequest, this, &CloseGuard::commitData,
            Qt::DirectConnection);
#endif
}

void CloseGuard::FormCloseQuery(QCloseEvent *event)
{
    // After the fade, or once the operator has agreed to end the session,
    // the close goes through without a second question.
    if (m_finished || m_sessionAgreed) {
        event->accept();
        return;
    }
    // The box is modal but events go on: a second request while it is open
    // or while the window fades is answered by the first.
    event->ignore();
    if (m_asking || m_fading)
        return;
    m_asking = true;
    const Messages::Answer answer = m_messages.okCancel(caption(), currentQuestion());
    m_asking = false;
    if (answer != Messages::Answer::Ok)
        return;
    FormClose();
}

bool CloseGuard::sessionEndQuery()
{
    if (m_finished || m_fading || m_sessionAgreed)
        return true;
    // Our own box is still waiting for the operator: not yet agreed.
    if (m_asking)
        return false;
    m_asking = true;
    const bool ok = m_messages.okCancel(caption(), currentQuestion()) == Messages::Answer::Ok;
    m_asking = false;
    m_sessionAgreed = ok;
    if (ok) {
        // Forgotten when the session does not end after all.
        const quint64 mine = ++m_agreement;
        QTimer::singleShot(m_agreementMs, this, [this, mine] {
            if (mine == m_agreement)
                m_sessionAgreed = false;
        });
    }
    return ok;
}

void CloseGuard::FormClose()
{
    if (!m_window) {
        fadeFinished();
        return;
    }
    m_fading = true;
    auto *fade = new QPropertyAnimation(m_window, "windowOpacity", this);
    fade->setDuration(m_fadeMs);
    fade->setStartValue(1.0);
    fade->setEndValue(0.0);
    connect(fade, &QPropertyAnimation::finished, this, &CloseGuard::fadeFinished);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void CloseGuard::fadeFinished()
{
    m_fading = false;
    m_finished = true;
    if (m_window)
        m_window->close();
    emit closed();
    // The main window's close ends the program even where the application
    // was told not to quit with its last window (a tray program often is).
    QCoreApplication::quit();
}

#ifndef QT_NO_SESSIONMANAGER
void CloseGuard::commitData(QSessionManager &manager)
{
    // Without leave to interact no box may be shown: the session ends.
    if (!manager.allowsInteraction())
        return;
    const bool ok = sessionEndQuery();
    manager.release();
    if (!ok)
        manager.cancel();
}
#endif
