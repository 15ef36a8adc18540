// The main window's part of the emergency broadcast: a red button that is
// always there (both modes, never greyed by a test or an edit), the same
// button in the ad-hoc window (modal, it covers this one), the tray's item,
// a red band with the engine's text and the button that ends it, and the
// tray icon in red while it lasts. The broadcast is the engine's: asked
// once here (否 the default), then started or ended through the engine,
// whose refusal or note is shown in the window's box.
#include "tformmain.h"

#include "dayfeed.h"
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

QString caption(bool active)
{
    return active ? EmergencyBroadcast::kStopCaption : EmergencyBroadcast::kName;
}
} // namespace

void TFormMain::setUpEmergency()
{
    const auto start = [this](const QString &origin) {
        Messages &m = m_app->messages();
        if (m_app->feed().emergency()
            || m.noYes(Messages::Kind::Confirm, EmergencyBroadcast::kStartQuestion) != Messages::Answer::Yes)
            return;
        EmergencyRequest request;
        request.origin = origin;
        m_app->link().startEmergency(request, [this](const LinkResult<QString> &r) {
            // Started with a note (outputs that stay silent), or refused.
            if (!r.ok())
                m_app->messages().typedOk(Messages::Kind::Error, r.error->text);
            else if (!r.value.isEmpty())
                m_app->messages().typedOk(Messages::Kind::Warning, r.value);
        });
    };
    const auto stop = [this](const QString &origin) {
        if (!m_app->feed().emergency()
            || m_app->messages().noYes(Messages::Kind::Confirm, EmergencyBroadcast::kStopQuestion)
                != Messages::Answer::Yes)
            return;
        m_app->link().stopEmergency([this](const LinkResult<QString> &r) {
            if (!r.ok())
                m_app->messages().typedOk(Messages::Kind::Error, r.error->text);
        }, origin);
    };
    const auto toggle = [this, start, stop](const QString &origin) {
        if (m_app->feed().emergency())
            stop(origin);
        else
            start(origin);
    };
    ButtonJinJi = makeEmergencyButton(EmergencyBroadcast::kName, PanelMenu);
    // Under the boxes, within the 800 × 600 window's panel.
    ButtonJinJi->setGeometry(10, 513, 169, 27);
    connect(ButtonJinJi, &QPushButton::clicked, this, [start] { start(QStringLiteral("button")); });

    NJinJi = new QAction(EmergencyBroadcast::kName, this);
    NJinJi->setObjectName(QStringLiteral("TrayJinJi"));
    connect(NJinJi, &QAction::triggered, this, [toggle] { toggle(QStringLiteral("tray")); });
    CoolTrayIcon1->insertCommand(NJinJi);

    QFont bold = m_emergencyBand->label()->font();
    bold.setBold(true);
    bold.setPixelSize(20);
    m_emergencyBand->label()->setFont(bold);
    connect(m_emergencyBand, &NoticeBand::buttonClicked, this, [stop] { stop(QStringLiteral("button")); });
    m_adhocEmergency = [toggle] { toggle(QStringLiteral("adhoc")); };
    // The band counts the time it has lasted: the engine's text, read each second.
    m_emergencyTick = new QTimer(this);
    m_emergencyTick->setInterval(1000);
    connect(m_emergencyTick, &QTimer::timeout, &m_app->feed(), &DayFeed::rereadStatus);

    connect(&m_app->feed(), &DayFeed::emergencyChanged, this, [this](bool on) {
        // The broadcast is paused, not lowered, and stays paused afterwards.
        if (on && FormLinShiGuangBo)
            FormLinShiGuangBo->adhocPlayer().pauseIfPlaying();
        if (on)
            m_emergencyTick->start();
        else
            m_emergencyTick->stop();
        showEmergency();
    });
    showEmergency();
}

void TFormMain::setUpAdhocEmergency()
{
    FormLinShiGuangBo->offerEmergency(m_adhocEmergency);
    FormLinShiGuangBo->showEmergency(caption(m_app->feed().emergency()));
}

void TFormMain::showEmergency()
{
    const bool active = m_app->feed().emergency();
    QString text;
    for (const EngineBand &b : m_app->feed().bands())
        if (b.kind == QLatin1String("emergency"))
            text = b.text;
    if (active)
        m_emergencyBand->showNotice(text.isEmpty() ? EmergencyBroadcast::kName : text, kEmergencyRed,
                                    EmergencyBroadcast::kStopCaption);
    else
        m_emergencyBand->clearNotice();
    ButtonJinJi->setEnabled(!active);
    NJinJi->setText(caption(active));
    if (FormLinShiGuangBo) // made after this window's frame
        FormLinShiGuangBo->showEmergency(caption(active));
    CoolTrayIcon1->showEmergency(active ? m_emergencyBand->label()->text() : QString());
}
