#pragma once
// The main window: a frame that composes the feature classes of the other
// folders and forwards its handlers to them. It is a client of the engine:
// what it shows of the bells comes from the engine's status and
// notifications (DalingApp's feed), its buttons ask the engine, and the
// engine's refusals are shown in its box.
#include "application.h"
#include "emergencybroadcast.h"
#include "enginelink.h"

#include <QElapsedTimer>
#include <QHash>
#include <QMainWindow>
#include <optional>
#include <functional>
#include <memory>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QTableView;
class QVBoxLayout;
class QTimer;
class AutostartMenu;
class ServiceMenu;
class CloseGuard;
class DaLingStatusBar;
class HistoryDialog;
class ListCommands;
class NoticeBand;
class ScheduleModel;
class TCoolTrayIcon;
class TFormEditDaLing;
class TFormLinShiGuangBo;

class TFormMain : public QMainWindow {
    Q_OBJECT
public:
    static inline const QString kSystemMenuTitle = QStringLiteral("系统(&S)");
    // Builds the program's parts (DalingApp) and the window over them.
    explicit TFormMain(MainContext ctx, QWidget *parent = nullptr);
    ~TFormMain() override;

    DalingApp &app() { return *m_app; }
    // The window's copy of the engine's day.
    BellBoard &board() { return m_app->board(); }
    BellStore &store() { return m_app->store(); }
    // The engine's parts, where it runs in this process (tests drive them).
    RingEngine &engine() { return m_app->core().engine(); }
    TestPlayback &testPlayback() { return m_app->core().testPlayback(); }
    AudioPlayer &player() { return m_app->core().player(); }
    RingHistory &history() { return m_app->core().history(); }
    HistoryDialog *historyDialog() const { return m_historyDialog; }
    TFormEditDaLing &editor() { return *FormEditDaLing; }
    TFormLinShiGuangBo &adhoc() { return *FormLinShiGuangBo; }
    ListCommands &commands() { return *m_commands; }
    SchoolCalendar &calendar() { return m_app->calendar(); }
    // The band across the top that says what is wrong with the store.
    NoticeBand &storeBand() { return *m_storeBand; }
    // The bands that say the bells are stopped, and which bell did not ring.
    NoticeBand &stoppedBand() { return *m_stoppedBand; }
    NoticeBand &notRungBand() { return *m_notRungBand; }
    // The band that names the amplifiers' relays and contacts that do not answer.
    NoticeBand &relayBand() { return *m_relayBand; }
    // StringGridshow's model.
    ScheduleModel &scheduleModel() { return *m_model; }

public slots:
    void FormShow();
    // Hands the zones' names to the list (after they changed).
    void showZones();
    void ButtonPlayClick();
    void ButtonCheckClick();
    void ButtonLinShiClick();
    void ButtonADDClick();
    void ButtonEditClick();
    void ButtonDelClick();
    void ButtonOutExcelClick();
    void ButtonIntExcelClick();
    void N6Click(); // 系统 → 清除打铃列表
    void N9Click(); // 系统 → Quorlin官网
    // 系统 → 打铃记录…: the ring history window.
    void NJiLuClick();
    void StatusBar1Click(); // the status bar's link to the maker's site
    void StringGridshowDblClick();
    void NCalendarClick(); // 系统 → 校历与作息方案…
    void NOutputClick();   // 系统 → 声音输出…
    void NZonesClick();    // 系统 → 分区设置…
    void NRelaysClick();   // 系统 → 功放电源…
    void NCatchUpClick();  // 系统 → 补打时限…
    // Mirrors the board into the widgets.
    void syncFromBoard();
    // Names the timetable in use (or today's switch) on the status bar.
    void showTimetableNote();

protected:
    void showEvent(QShowEvent *e) override;
    void closeEvent(QCloseEvent *e) override;

private:
    // Runs a handler; what it throws goes to the general error box.
    void guarded(const std::function<void()> &fn) { m_app->guarded(fn); }
    void FormCreate();
    void buildFrame();
    void buildMenu(); // the menu 系统 and its keys
    void buildGrid(QWidget *central, QVBoxLayout *column);
    // Fits the list's columns to its texts and its width.
    void setUpGrid();
    // The engine's bands (store, stopped, not rung, relays, emergency).
    void setUpBands();
    void showBands();
    // A band the operator has put away stays away until its text changes.
    QHash<QString, QString> m_bandDismissed;
    QElapsedTimer m_started;  // since the window was made
    bool m_linkSeen = false;  // the engine has answered once
    static constexpr int kEngineStartMs = 5000;
    // Shows what an engine call answered when it refused.
    void tellRefusal(const std::optional<LinkError> &error);
    // 实时喊话's strip under the list (tformmainpaging.cpp).
    void mountPaging(QVBoxLayout *column);

    std::unique_ptr<DalingApp> m_app;
    ScheduleModel *m_model = nullptr;
    HistoryDialog *m_historyDialog = nullptr;
    TFormEditDaLing *FormEditDaLing = nullptr;
    TFormLinShiGuangBo *FormLinShiGuangBo = nullptr;
    std::unique_ptr<ListCommands> m_commands;
    bool m_clockStarted = false;
    QDate m_noteDate; // the day the status bar's timetable note is for

    QTableView *StringGridshow = nullptr; // the day's bells
    QWidget *PanelMenu = nullptr;         // the column of buttons on the right
    QPushButton *ButtonPlay = nullptr, *ButtonLinShi = nullptr, *ButtonCheck = nullptr,
                *ButtonADD = nullptr, *ButtonEdit = nullptr, *ButtonDel = nullptr,
                *ButtonOutExcel = nullptr, *ButtonIntExcel = nullptr;
    QLabel *PanelDate = nullptr;     // today's date, weekday and calendar mark
    QLabel *PanelShowTime = nullptr; // the large clock
    QLabel *LabelYunXing = nullptr;  // the name of the file that sounds now
    QLabel *LabelNowTime = nullptr;  // the hidden label with the current second
    QProgressBar *ProgressBar1 = nullptr; // how far the file playing has got
    QMenu *N1 = nullptr;                  // the menu 系统
    // 开机启动启动, 清除打铃列表, Quorlin官网, 打铃记录…
    QAction *NZiDong = nullptr, *N6 = nullptr, *N9 = nullptr, *NJiLu = nullptr;
    QAction *NCalendar = nullptr;
    QAction *NOutput = nullptr;
    QAction *NZones = nullptr;
    QAction *NRelays = nullptr;
    DaLingStatusBar *StatusBar1 = nullptr;
    TCoolTrayIcon *CoolTrayIcon1 = nullptr; // the icon in the notification area
    CloseGuard *m_closeGuard = nullptr;
    AutostartMenu *m_autostart = nullptr;
    QAction *NService = nullptr; // 无人登录时也打铃
    ServiceMenu *m_service = nullptr;
    NoticeBand *m_storeBand = nullptr;
    NoticeBand *m_stoppedBand = nullptr;
    NoticeBand *m_notRungBand = nullptr;
    NoticeBand *m_relayBand = nullptr;
    QAction *NCatchUp = nullptr;

    // Bells cut through the ad-hoc broadcast (menu item NDuck).
    void setUpDucking();
    // The ad-hoc broadcast playing powers its amplifiers' relays.
    void setUpBroadcastPower();
    QAction *NDuck = nullptr;

    // 紧急广播: the red button (here and in the ad-hoc window), the band
    // while it lasts, the tray's item; each asks through emergencyask.
    void setUpEmergency();
    void setUpAdhocEmergency(); // once the ad-hoc window is made
    void showEmergency();
    QPushButton *ButtonJinJi = nullptr;
    NoticeBand *m_emergencyBand = nullptr;
    QAction *NJinJi = nullptr;         // the tray menu's item
    std::function<void()> m_adhocEmergency; // the ad-hoc window's button: start or end
    QTimer *m_emergencyTick = nullptr;      // the band's count, only while it lasts

public:
    NoticeBand &emergencyBand() { return *m_emergencyBand; }
    QPushButton &emergencyButton() { return *ButtonJinJi; }
    QAction &emergencyTrayItem() { return *NJinJi; }
    TCoolTrayIcon &trayIcon() { return *CoolTrayIcon1; }
    Ducking &ducking() { return m_app->ducking(); }
    CloseGuard &closeGuard() { return *m_closeGuard; }
    ServiceMenu *serviceMenu() const { return m_service; }
};
