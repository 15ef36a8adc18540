// The main window's part of the emergency broadcast: a red button that is
// always there (both modes, never greyed by a test or an edit), the same
// button in the ad-hoc window (modal, it covers this one), the tray's item,
// a red band with the time it has lasted and the button that ends it, and
// the tray icon in red while it lasts. The broadcast itself lives in
// EmergencyBroadcast, the questions in emergencyask; here only what the
// operator sees.
#include "tformmain.h"

#include "emergencyask.h"
#include "emergencybutton.h"
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
    ButtonJinJi = makeEmergencyButton(EmergencyBroadcast::kName, PanelMenu);
    // Under the boxes, within the 800 × 600 window's panel.
    ButtonJinJi->setGeometry(10, 513, 169, 27);
    connect(ButtonJinJi, &QPushButton::clicked, this,
            [this] { emergencyask::start(m_app->emergency(), m_app->messages(), EmergencyBroadcast::Origin::Button); });

    NJinJi = new QAction(EmergencyBroadcast::kName, this);
    NJinJi->setObjectName(QStringLiteral("TrayJinJi"));
    connect(NJinJi, &QAction::triggered, this, [this] {
        emergencyask::toggle(m_app->emergency(), m_app->messages(), EmergencyBroadcast::Origin::Tray);
    });
    CoolTrayIcon1->insertCommand(NJinJi);

    QFont bold = m_emergencyBand->label()->font();
    bold.setBold(true);
    bold.setPixelSize(20);
    m_emergencyBand->label()->setFont(bold);
    connect(m_emergencyBand, &NoticeBand::buttonClicked, this, [this] {
        emergencyask::stop(m_app->emergency(), m_app->messages(), EmergencyBroadcast::Origin::Button);
    });
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

void TFormMain::setUpAdhocEmergency()
{
    FormLinShiGuangBo->offerEmergency([this] {
        emergencyask::toggle(m_app->emergency(), m_app->messages(), EmergencyBroadcast::Origin::AdhocButton);
    });
    FormLinShiGuangBo->showEmergency(emergencyask::caption(m_app->emergency()));
}

void TFormMain::showEmergency()
{
    const EmergencyBroadcast &e = m_app->emergency();
    if (e.active())
        m_emergencyBand->showNotice(e.bandText(), kEmergencyRed, EmergencyBroadcast::kStopCaption);
    else
        m_emergencyBand->clearNotice();
    ButtonJinJi->setEnabled(!e.active());
    NJinJi->setText(emergencyask::caption(e));
    if (FormLinShiGuangBo) // made after this window's frame
        FormLinShiGuangBo->showEmergency(emergencyask::caption(e));
    CoolTrayIcon1->showEmergency(e.active() ? e.bandText() : QString());
}

