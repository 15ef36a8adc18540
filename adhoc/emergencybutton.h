#pragma once
// The red 紧急广播 button, as the main window and the ad-hoc window show
// it: one look wherever the operator may reach for it.
#include <QPushButton>

inline QPushButton *makeEmergencyButton(const QString &text, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QStringLiteral("ButtonJinJi"));
    b->setFocusPolicy(Qt::TabFocus);
    b->setAutoDefault(false); // Enter elsewhere must never start it
    b->setStyleSheet(QStringLiteral(
        "QPushButton { background: rgb(210, 0, 0); color: white; font-weight: bold; border: 2px outset rgb(150, 0, 0); }"
        "QPushButton:pressed { border-style: inset; }"
        "QPushButton:disabled { background: rgb(150, 60, 60); color: rgb(255, 220, 220); }"));
    return b;
}
