// The 系统 menu's windows beyond the bell list (ring history, school
// calendar, sound outputs, zones, 功放电源, 补打时限), the menu item that lowers the broadcast
// under a bell, and the bell bands: the frame's wiring for them, apart from
// the frame itself; and the amplifiers powered for the ad-hoc broadcast.
#include "tformmain.h"

#include "altmenu.h"
#include "autostart.h"
#include "calendarcommands.h"
#include "calendardialog.h"
#include "ducking.h"
#include "formlinshiguangbo.h"
#include "historydialog.h"
#include "outputdialog.h"
#include "relaydialog.h"
#include "relaylink.h"
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
            history().onWritten = [this] {
                if (m_historyDialog->isVisible())
                    m_historyDialog->refresh();
            };
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
        OutputDialog dialog(choice, m_app->context().makePlayer, m_app->messages(), this);
        if (dialog.exec() != QDialog::Accepted)
            return;
        m_app->applyOutputs();
    });
}

void TFormMain::NZonesClick()
{
    guarded([this] {
        ZoneStore zones(store());
        OutputChoice outputs(m_app->settings());
        ZoneDialog dialog(zones, outputs, m_app->context().makePlayer, m_app->messages(), this,
                          &m_app->snapStatus(), &m_app->settings());
        dialog.exec();
        if (!dialog.changed())
            return;
        m_app->applyZones();
        showZones();
        board().Refresh(); // a deleted zone leaves its bells
    });
}

void TFormMain::NRelaysClick()
{
    guarded([this] {
        RelayForm form(store(), m_app->zones(), m_app->context().paths.musicFolder());
        RelayDialog dialog(form, m_app->messages(), this, &m_app->dialogs());
        dialog.exec();
        if (dialog.changed())
            m_app->core().relays().reload();
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
            engine().catchUpSeconds(), 0, RingEngine::kMaxCatchUpSeconds, 1, &ok);
        if (ok)
            m_app->setCatchUpSeconds(seconds);
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
        m_app->core().relays().broadcastPlaying(adhoc.playMode(), zones);
    });
}

void TFormMain::setUpRingAlerts()
{
    connect(&m_app->ringAlerts(), &RingAlerts::changed, this, &TFormMain::showRingAlerts);
    connect(m_notRungBand, &NoticeBand::buttonClicked, &m_app->ringAlerts(), &RingAlerts::dismiss);
    showRingAlerts();
}

void TFormMain::showRingAlerts()
{
    // The stopped band has no button: it goes when the bells ring again.
    const RingAlerts &a = m_app->ringAlerts();
    m_stoppedBand->showNotice(a.stoppedText(), NoticeBand::kFault);
    m_notRungBand->showNotice(a.notRungText(), NoticeBand::kFault, QStringLiteral("知道了"));
    CoolTrayIcon1->showStopped(a.stoppedText());
}
