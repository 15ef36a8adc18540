#pragma once
// The main window: a frame that composes the feature classes of the other
// folders and forwards its handlers to them.
#include "apppaths.h"
#include "audioplayer.h"
#include "bellboard.h"
#include "bellstore.h"
#include "seams.h"

#include <QMainWindow>
#include <functional>
#include <memory>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QTableView;
class AutostartMenu;
class CalendarCommands;
class SchoolCalendar;
class BellSoundWatch;
class Ducking;
class Settings;
class CloseGuard;
class DaLingStatusBar;
class ListCommands;
class TCoolTrayIcon;
class RingEngine;
class RingHistory;
class HistoryReport;
class HistoryDialog;
class SheetExport;
class SheetImport;
class TestPlayback;
class TFormEditDaLing;
class TFormLinShiGuangBo;

// What the frame needs from outside; tests pass fakes.
struct MainContext {
    AppPaths paths{QStringLiteral("./")};
    const Clock *clock = nullptr;
    Messages *messages = nullptr;
    FileDialogs *dialogs = nullptr;
    // Makes each window's own player, for a sound output by libmpv's device
    // name (empty: the system default): the bells', or the broadcast's, as
    // the settings keep them.
    std::function<std::unique_ptr<AudioPlayer>(const QString &device)> makePlayer;
    // Where the autostart entry lives.
    QString autostartFolder = QStringLiteral("/etc/xdg/autostart");
    // The executable whose full path autostart records.
    QString executablePath;
};

class TFormMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TFormMain(MainContext ctx, QWidget *parent = nullptr);
    ~TFormMain() override;

    BellBoard &board() { return *m_board; }
    BellStore &store() { return m_store; }
    RingEngine &engine() { return *m_engine; }
    TestPlayback &testPlayback() { return *m_test; }
    AudioPlayer &player() { return *m_player; }
    RingHistory &history() { return *m_history; }
    HistoryDialog *historyDialog() const { return m_historyDialog; }
    TFormEditDaLing &editor() { return *FormEditDaLing; }
    TFormLinShiGuangBo &adhoc() { return *FormLinShiGuangBo; }
    ListCommands &commands() { return *m_commands; }
    SchoolCalendar &calendar() { return *m_calendar; }

public slots:
    void FormShow();
    void ButtonPlayClick();
    void ButtonCheckClick();
    void ButtonLinShiClick();
    void ButtonADDClick();
    void ButtonEditClick();
    void ButtonDelClick();
    void ButtonOutExcelClick();
    void ButtonIntExcelClick();
    void N6Click();
    void N9Click();
    // 系统 → 打铃记录…: the ring history window.
    void NJiLuClick();
    void StatusBar1Click();
    void StringGridshowDblClick();
    void NCalendarClick(); // 系统 → 校历与作息方案…
    void NOutputClick();   // 系统 → 声音输出…
    // Mirrors the board into the widgets.
    void syncFromBoard();

protected:
    void showEvent(QShowEvent *e) override;
    void closeEvent(QCloseEvent *e) override;

private:
    // Runs a handler; what it throws goes to the general error box.
    void guarded(const std::function<void()> &fn);
    QString openStore();
    void FormCreate(const QString &storeError);
    // Hands the outputs the settings keep to the players.
    void applyOutputs();
    void buildFrame();
    void setUpGrid();

    MainContext m_ctx;
    BellStore m_store;
    std::unique_ptr<AudioPlayer> m_player; // MediaPlayer1
    std::unique_ptr<AudioPlayer> m_sparePlayer; // the bells' second player
    std::unique_ptr<RingHistory> m_history;
    std::unique_ptr<HistoryReport> m_historyReport;
    HistoryDialog *m_historyDialog = nullptr;
    // The school calendar decides which entries ring on a date (the board's
    // day plan) and switches the seasonal timetables.
    std::unique_ptr<SchoolCalendar> m_calendar;
    std::unique_ptr<CalendarCommands> m_calendarCommands;
    std::unique_ptr<BellBoard> m_board;
    std::unique_ptr<RingEngine> m_engine;
    std::unique_ptr<TestPlayback> m_test;
    std::unique_ptr<AudioPlayer> m_editorPlayer; // the editor's own MediaPlayer1
    std::unique_ptr<AudioPlayer> m_adhocPlayer;  // the ad-hoc window's own MediaPlayer1
    TFormEditDaLing *FormEditDaLing = nullptr;
    TFormLinShiGuangBo *FormLinShiGuangBo = nullptr;
    std::unique_ptr<ListCommands> m_commands;
    std::unique_ptr<SheetExport> m_export;
    std::unique_ptr<SheetImport> m_import;
    bool m_clockStarted = false;

    QTableView *StringGridshow = nullptr;
    QWidget *PanelMenu = nullptr;
    QPushButton *ButtonPlay = nullptr, *ButtonLinShi = nullptr, *ButtonCheck = nullptr,
                *ButtonADD = nullptr, *ButtonEdit = nullptr, *ButtonDel = nullptr,
                *ButtonOutExcel = nullptr, *ButtonIntExcel = nullptr;
    QLabel *PanelDate = nullptr, *PanelShowTime = nullptr, *LabelYunXing = nullptr,
           *LabelNowTime = nullptr;
    QProgressBar *ProgressBar1 = nullptr;
    QMenu *N1 = nullptr;
    QAction *NZiDong = nullptr, *N6 = nullptr, *N9 = nullptr, *NJiLu = nullptr;
    QAction *NCalendar = nullptr;
    QAction *NOutput = nullptr;
    DaLingStatusBar *StatusBar1 = nullptr;
    TCoolTrayIcon *CoolTrayIcon1 = nullptr;
    CloseGuard *m_closeGuard = nullptr;
    AutostartMenu *m_autostart = nullptr;

    // Bells cut through the ad-hoc broadcast (menu item NDuck).
    void setUpDucking();
    std::unique_ptr<Settings> m_settings;
    Ducking *m_ducking = nullptr;
    BellSoundWatch *m_bellWatch = nullptr;
    QAction *NDuck = nullptr;

public:
    Ducking &ducking() { return *m_ducking; }
    BellSoundWatch &bellWatch() { return *m_bellWatch; }
};
