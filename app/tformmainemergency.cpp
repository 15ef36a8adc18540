// The main window's part of the emergency broadcast: a red button that is
// always there (both modes, never greyed by a test or an edit), the tray's
// item, a red band with the time it has lasted and the button that ends it,
// and the tray icon in red while it lasts. The broadcast itself lives in
// EmergencyBroadcast; here only the questions and what the operator sees.
#include "tformmain.h"

#include "formlinshiguangbo.h"
#include "noticeband.h"
#include "trayicon.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace {
const QColor kEmergencyRed(230, 40, 40);
}

void TFormMain::setUpEmergency()
{
    EmergencyBroadcast &e = m_app->emergency();
    ButtonJinJi = new QPushButton(EmergencyBroadcast::kName, PanelMenu);
    ButtonJinJi->setObjectName(QStringLiteral("ButtonJinJi"));
    // Under the boxes, within the 800 × 600 window's panel.
    ButtonJinJi->setGeometry(10, 513, 169, 27);
    ButtonJinJi->setFocusPolicy(Qt::TabFocus);
    ButtonJinJi->setStyleSheet(QStringLiteral(
        "QPushButton { background: rgb(210, 0, 0); color: white; font-weight: bold; border: 2px outset rgb(150, 0, 0); }"
        "QPushButton:pressed { border-style: inset; }"
        "QPushButton:disabled { background: rgb(150, 60, 60); color: rgb(255, 220, 220); }"));
    connect(ButtonJinJi, &QPushButton::clicked, this,
            [this] { startEmergency(EmergencyBroadcast::Origin::Button); });

    NJinJi = new QAction(EmergencyBroadcast::kName, this);
    NJinJi->setObjectName(QStringLiteral("TrayJinJi"));
    connect(NJinJi, &QAction::triggered, this, [this] {
        if (m_app->emergency().active())
            stopEmergency();
        else
            startEmergency(EmergencyBroadcast::Origin::Tray);
    });
    CoolTrayIcon1->insertCommand(NJinJi);

    QFont bold = m_emergencyBand->label()->font();
    bold.setBold(true);
    bold.setPixelSize(20);
    m_emergencyBand->label()->setFont(bold);
    connect(m_emergencyBand, &NoticeBand::buttonClicked, this, &TFormMain::stopEmergency);
    m_emergencyTick = new QTimer(this);
    m_emergencyTick->setInterval(1000);
    connect(m_emergencyTick, &QTimer::timeout, this, &TFormMain::showEmergency);

    // The broadcast is paused, not lowered, and stays paused afterwards.
    e.pauseBroadcast = [this] { FormLinShiGuangBo->adhocPlayer().pauseIfPlaying(); };

    connect(&e, &EmergencyBroadcast::activeChanged, this, [this](bool on) {
        if (on)
            m_emergencyTick->start();
        else
            m_emergencyTick->stop();
        showEmergency();
    });
    // Whoever started it, a failure is told at this desk too (after the
    // command has had its answer).
    connect(&e, &EmergencyBroadcast::settled, this, [this](bool ok, const QString &text) {
        if (!text.isEmpty())
            QTimer::singleShot(0, this, [this, ok, text] {
                m_app->messages().typedOk(ok ? Messages::Kind::Warning : Messages::Kind::Error, text);
            });
    });
    showEmergency();
}

void TFormMain::showEmergency()
{
    const EmergencyBroadcast &e = m_app->emergency();
    if (e.active())
        m_emergencyBand->showNotice(e.bandText(), kEmergencyRed, QStringLiteral("结束紧急广播"));
    else
        m_emergencyBand->clearNotice();
    ButtonJinJi->setEnabled(!e.active());
    NJinJi->setText(e.active() ? QStringLiteral("结束紧急广播") : EmergencyBroadcast::kName);
    CoolTrayIcon1->showEmergency(e.active() ? e.bandText() : QString());
}

void TFormMain::startEmergency(EmergencyBroadcast::Origin origin)
{
    EmergencyBroadcast &e = m_app->emergency();
    if (e.active())
        return;
    if (m_app->messages().noYes(Messages::Kind::Confirm, EmergencyBroadcast::kStartQuestion)
        != Messages::Answer::Yes)
        return;
    if (const QString refused = e.start({QString(), {}, origin}); !refused.isEmpty())
        m_app->messages().typedOk(Messages::Kind::Error, refused);
}

void TFormMain::stopEmergency()
{
    EmergencyBroadcast &e = m_app->emergency();
    if (!e.active())
        return;
    if (m_app->messages().noYes(Messages::Kind::Confirm, EmergencyBroadcast::kStopQuestion)
        == Messages::Answer::Yes)
        e.stop(EmergencyBroadcast::Origin::Button);
}
