#include "servicemenu.h"

#include "seams.h"

#include <QAction>
#include <QSignalBlocker>

ServiceMenu::ServiceMenu(QAction *action, Messages &messages, CommandRunner &runner, QObject *parent)
    : QObject(parent), m_action(action), m_messages(messages), m_setup(runner)
{
    m_action->setCheckable(true);
    m_action->setVisible(false); // until read
    connect(m_action, &QAction::triggered, this, &ServiceMenu::toggle);
}

void ServiceMenu::refresh()
{
    m_state = m_setup.read();
    const QSignalBlocker block(m_action);
    m_action->setVisible(m_state.offered());
    m_action->setChecked(m_state.enabled);
}

void ServiceMenu::toggle()
{
    const bool wasEnabled = m_state.enabled;
    const QString failed = wasEnabled ? m_setup.disable() : m_setup.enable();
    refresh();
    if (!failed.isEmpty()) {
        m_messages.typedOk(Messages::Kind::Error, failed);
        return;
    }
    // Enabled: what is still missing (root's steps) is said with the state.
    // Disabled, the service has stopped, and the bells with it.
    QString text = ServiceSetup::summary(m_state);
    if (wasEnabled)
        text += u'\n' + kStopped;
    m_messages.typedOk(Messages::Kind::Information, text);
}
