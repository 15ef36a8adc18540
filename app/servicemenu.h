#pragma once
// 系统 → 无人登录时也打铃: the engine as the user's systemd service
// (ServiceSetup), offered where systemd runs the user's session. The item
// is read again each time the menu opens (systemctl answers in a few
// milliseconds; the start of the program does not wait for it): shown only
// where the user's systemd answers, checked while the unit is enabled. A
// click enables or disables the unit, then says where things stand and
// what root must still do, with the commands.
#include "servicesetup.h"

#include <QObject>

class Messages;
class QAction;

class ServiceMenu : public QObject {
    Q_OBJECT
public:
    static inline const QString kText = QStringLiteral("无人登录时也打铃");
    static inline const QString kStopped =
        QStringLiteral("铃声服务已经停止。请关闭并重新打开本程序，由本程序打铃。");

    ServiceMenu(QAction *action, Messages &messages, CommandRunner &runner, QObject *parent = nullptr);

    // Reads the state and shows it on the item.
    void refresh();
    // What a click does.
    void toggle();
    const ServiceSetup::State &state() const { return m_state; }

private:
    QAction *m_action;
    Messages &m_messages;
    ServiceSetup m_setup;
    ServiceSetup::State m_state;
};
