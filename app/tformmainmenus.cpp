// The 系统 menu's windows beyond the bell list (ring history, school
// calendar, sound outputs, zones, 功放电源, 补打时限), the menu item that lowers the broadcast
// under a bell, and the bell bands: the frame's wiring for them, apart from
// the frame itself; and the amplifiers powered for the ad-hoc broadcast.
#include "tformmain.h"

#include "altmenu.h"
#include "autostart.h"
#include "calendarcommands.h"
#include "calendardialog.h"
#include "dayfeed.h"
#include "ducking.h"
#include "formlinshiguangbo.h"
#include "historydialog.h"
#include "inputchoice.h"
#include "outputdialog.h"
#include "relaydialog.h"
#include "relaylink.h"
#include "engineapirelays.h"
#include "logging.h"
#include <QJsonArray>
#include <QJsonObject>
#include "servicemenu.h"
#include "remotedialog.h"
#include "snapstatus.h"
#include "zonedialog.h"
#include "noticeband.h"
#include "ringalerts.h"
#include "ringengine.h"
#include "ringhistory.h"
#include "settings.h"
#include "soundoutputs.h"
#include "trayicon.h"

#include <QAction>
#include <QMenuBar>
#include <QShortcut>
#include <QInputDialog>
#include <QSet>
#include <QSignalBlocker>

void TFormMain::buildMenu()
{
    N1 = menuBar()->addMenu(kSystemMenuTitle);
    N1->setObjectName(QStringLiteral("N1"));
    // The menu is reached from the keyboard as on the school's other
    // programs: Alt+S, F10, or Alt pressed and released alone.
    const auto openMenu = [this] { menuBar()->setActiveAction(N1->menuAction()); };
    new AltOpensMenu(this, openMenu);
    connect(new QShortcut(QKeySequence(Qt::Key_F10), this), &QShortcut::activated, this, openMenu);
    NZiDong = N1->addAction(QStringLiteral("开机启动启动"));
    NZiDong->setObjectName(QStringLiteral("NZiDong"));
    // The menu item reads and flips the autostart entry itself.
    m_autostart = new AutostartMenu(NZiDong, m_app->messages(), Autostart(m_app->context().autostartFolder),
                                    m_app->context().executablePath, this);
    NService = N1->addAction(ServiceMenu::kText);
    NService->setObjectName(QStringLiteral("NService"));
    if (CommandRunner *runner = m_app->context().commands) {
        m_service = new ServiceMenu(NService, m_app->messages(), *runner, this);
        connect(N1, &QMenu::aboutToShow, m_service, &ServiceMenu::refresh);
    } else {
        NService->setVisible(false);
    }
    NDuck = N1->addAction(Ducking::kSetting);
    NDuck->setObjectName(QStringLiteral("NDuck"));
    NDuck->setCheckable(true);
    N1->addSeparator();
    N6 = N1->addAction(QStringLiteral("清除打铃列表"));
    N6->setObjectName(QStringLiteral("N6"));
    NJiLu = N1->addAction(QStringLiteral("打铃记录…"));
    NJiLu->setObjectName(QStringLiteral("NJiLu"));
    connect(NJiLu, &QAction::triggered, this, &TFormMain::NJiLuClick);
    NCalendar = N1->addAction(QStringLiteral("校历与作息方案…"));
    NCalendar->setObjectName(QStringLiteral("NCalendar"));
    connect(NCalendar, &QAction::triggered, this, &TFormMain::NCalendarClick);
    NOutput = N1->addAction(OutputDialog::kMenuText);
    NOutput->setObjectName(QStringLiteral("NOutput"));
    connect(NOutput, &QAction::triggered, this, &TFormMain::NOutputClick);
    NZones = N1->addAction(ZoneDialog::kMenuText);
    NZones->setObjectName(QStringLiteral("NZones"));
    connect(NZones, &QAction::triggered, this, &TFormMain::NZonesClick);
    NRelays = N1->addAction(RelayDialog::kMenuText);
    NRelays->setObjectName(QStringLiteral("NRelays"));
    connect(NRelays, &QAction::triggered, this, &TFormMain::NRelaysClick);
    NCatchUp = N1->addAction(QStringLiteral("补打时限…"));
    NCatchUp->setObjectName(QStringLiteral("NCatchUp"));
    connect(NCatchUp, &QAction::triggered, this, &TFormMain::NCatchUpClick);
    connect(N1->addAction(RemoteDialog::kMenuText), &QAction::triggered, this, [this] { RemoteDialog::run(this); });
    N1->addSeparator();
    N9 = N1->addAction(QStringLiteral("Quorlin官网"));
    N9->setObjectName(QStringLiteral("N9"));
    connect(N6, &QAction::triggered, this, &TFormMain::N6Click);
    connect(N9, &QAction::triggered, this, &TFormMain::N9Click);
}

void TFormMain::NJiLuClick()
{
    guarded([this] {
        // Made on first use: the start of the program does not wait for it.
        if (!m_historyDialog) {
            m_historyDialog = new HistoryDialog(m_app->historyReport(), m_app->messages(), this);
            // Bells that ring while it is open appear in it.
            connect(&m_app->link(), &EngineLink::bellStatus, m_historyDialog, [this] {
                if (m_historyDialog->isVisible())
                    m_historyDialog->refresh();
            });
        }
        m_historyDialog->showDay(m_app->clock().now().date());
        m_historyDialog->exec();
    });
}

void TFormMain::NCalendarClick()
{
    guarded([this] {
        CalendarDialog dialog(calendar(), m_app->calendarCommands(), m_app->clock().now().date(), this);
        dialog.exec();
        showTimetableNote(); // it may have saved, switched or renamed one
    });
}
void TFormMain::NOutputClick()
{
    guarded([this] {
        OutputChoice choice(m_app->settings());
        InputChoice input(m_app->settings());
        OutputDialog dialog(choice, m_app->context().makePlayer, m_app->messages(), this, &input);
        if (dialog.exec() != QDialog::Accepted)
            return;
        m_app->applyOutputs(); // the engine's players too
    });
}

void TFormMain::NZonesClick()
{
    guarded([this] {
        ZoneStore zones(store());
        OutputChoice outputs(m_app->settings());
        // Who listens in the buildings is known where the engine runs here.
        EngineCore *core = m_app->host().core();
        ZoneDialog dialog(zones, outputs, m_app->context().makePlayer, m_app->messages(), this,
                          core ? &core->snapStatus() : nullptr, &m_app->settings());
        dialog.exec();
        if (!dialog.changed())
            return;
        m_app->readZones();
        m_app->reloadEngine(); // a deleted zone leaves its bells
    });
}

void TFormMain::NRelaysClick()
{
    guarded([this] {
        RelayForm form(store(), m_app->zones(), m_app->context().paths.musicFolder());
        RelayDialog dialog(form, m_app->messages(), this, &m_app->dialogs());
        dialog.exec();
        if (dialog.changed())
            m_app->reloadEngine(); // the engine reads the relays again
    });
}

void TFormMain::NCatchUpClick()
{
    guarded([this] {
        bool ok = false;
        const int seconds = QInputDialog::getInt(
            this, QStringLiteral("补打时限"),
            QStringLiteral("铃声时刻过后多少秒内仍然补打（0–%1 秒，0 为不补打）：")
                .arg(RingEngine::kMaxCatchUpSeconds),
            m_app->settings().catchUpSeconds(), 0, RingEngine::kMaxCatchUpSeconds, 1, &ok);
        if (!ok)
            return;
        // Checked and kept first: a value the store refuses changes nothing.
        m_app->settings().setCatchUpSeconds(seconds);
        m_app->reloadEngine();
    });
}

void TFormMain::setUpDucking()
{
    FormLinShiGuangBo->watchDucking(ducking());
    NDuck->setChecked(ducking().enabled());
    connect(NDuck, &QAction::toggled, this, [this](bool on) {
        guarded([this, on] { ducking().setEnabled(on); });
        const QSignalBlocker block(NDuck); // not kept: the item shows what holds
        NDuck->setChecked(ducking().enabled());
    });
}

void TFormMain::setUpBroadcastPower()
{
    // The ad-hoc broadcast's amplifiers are on while it plays (paused
    // too: it goes on in a moment), in the zones it plays in.
    AdhocPlayer &adhoc = FormLinShiGuangBo->adhocPlayer();
    connect(&adhoc, &AdhocPlayer::changed, this, [this, &adhoc] {
        QList<qint64> zones;
        if (BroadcastPlayer *zoned = adhoc.zoned())
            for (const Zone &z : zoned->zones())
                zones << z.id;
        // The relays are the engine's: told through its channel.
        QJsonArray ids;
        for (const qint64 z : std::as_const(zones))
            ids.append(z);
        m_app->link().call(engineapirelays::kMethod,
                           QJsonObject{{QStringLiteral("playing"), adhoc.playMode()}, {QStringLiteral("zones"), ids}},
                           [](const LinkResult<QJsonValue> &r) {
                               if (!r.ok())
                                   qCWarning(lcApp).noquote() << "the broadcast's relays not told:" << r.error->text;
                           });
    });
}

void TFormMain::setUpBands()
{
    connect(&m_app->feed(), &DayFeed::bandsChanged, this, &TFormMain::showBands);
    // 知道了 puts the band away here until the engine says something new.
    const auto dismiss = [this](const char *kind) {
        const QString k = QLatin1String(kind);
        for (const EngineBand &b : m_app->feed().bands())
            if (b.kind == k)
                m_bandDismissed.insert(k, b.text);
        showBands();
    };
    connect(m_storeBand, &NoticeBand::buttonClicked, this, [dismiss] { dismiss("store"); });
    connect(m_notRungBand, &NoticeBand::buttonClicked, this, [dismiss] { dismiss("notRung"); });
    // The engine may not answer at all: its link's state is a band too.
    connect(&m_app->link(), &EngineLink::stateChanged, this, &TFormMain::showBands);
    connect(&m_app->link(), &EngineLink::refused, this, [this](const QString &text) {
        m_app->messages().typedOk(Messages::Kind::Error, text);
    });
    showBands();
}

void TFormMain::showBands()
{
    QHash<QString, QString> text;
    QSet<QString> dismissable;
    QString storeLevel;
    for (const EngineBand &b : m_app->feed().bands()) {
        text.insert(b.kind, b.text);
        if (b.kind == u"store")
            storeLevel = b.level;
        if (b.dismissable)
            dismissable.insert(b.kind);
    }
    const auto shown = [&](const char *kind) {
        const QString k = QLatin1String(kind);
        const QString t = text.value(k);
        if (t.isEmpty())
            m_bandDismissed.remove(k);
        return m_bandDismissed.value(k) == t ? QString() : t;
    };
    // No engine to ask: the store's band says why (it stands for the bells).
    // A child engine takes a moment to open its socket: not told meanwhile.
    QString store = shown("store");
    const EngineLink &link = m_app->link();
    if (link.isReady())
        m_linkSeen = true;
    else if ((m_linkSeen || m_started.elapsed() > kEngineStartMs) && link.state() != EngineLink::State::Connecting)
        store = link.stateText();
    const bool storeOwn = store == text.value(QStringLiteral("store"));
    const QColor colour = !storeOwn || storeLevel == u"fault" ? NoticeBand::kFault
        : storeLevel == u"notice"                              ? NoticeBand::kNotice
                                                               : NoticeBand::kWarning;
    m_storeBand->showNotice(store, colour,
                            storeOwn && dismissable.contains(QStringLiteral("store")) ? QStringLiteral("知道了") : QString());
    // The stopped band has no button: it goes when the bells ring again.
    const QString stopped = shown("stopped");
    m_stoppedBand->showNotice(stopped, NoticeBand::kFault);
    m_notRungBand->showNotice(shown("notRung"), NoticeBand::kFault, QStringLiteral("知道了"));
    // Gone by itself once every relay and contact answers again.
    m_relayBand->showNotice(shown("relays"), NoticeBand::kWarning);
    CoolTrayIcon1->showStopped(stopped);
    showEmergency();
}
