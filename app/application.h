#pragma once
// The window's program without its windows: a client of the engine of its
// data folder (EngineHost says where that runs; EngineLink talks to it;
// DayFeed keeps the window's copy of the day in its own BellBoard) and
// what only the window needs beside it: the store and settings opened for
// the operator's edits (each edit then asks the engine Bells.Reload), the
// school calendar's and the sheets' commands, the editor's and the ad-hoc
// broadcast's players and the broadcast's lowering under a bell, fed by
// the engine's notifications. The main window shows what these hold and
// forwards its handlers to them.
#include "enginecore.h"
#include "enginehost.h"

#include <QObject>
#include <functional>
#include <memory>

class CalendarCommands;
class CommandRunner;
class DayFeed;
class Ducking;
class EngineLink;
class HistoryReport;
class RingHistory;
class SchoolCalendar;
class Settings;
class SheetExport;
class SheetImport;
class QTimer;

// What the program needs from outside; tests pass fakes. makePlayer also
// makes each window's own player (the editor's, the broadcast's).
struct MainContext : EngineContext {
    FileDialogs *dialogs = nullptr;
    // Where the autostart entry lives.
    QString autostartFolder = QStringLiteral("/etc/xdg/autostart");
    // The executable whose full path autostart records.
    QString executablePath;
    // Where the engine runs; made once, by DalingApp, before anything else.
    std::function<std::unique_ptr<EngineHost>(const MainContext &)> makeHost;
    // Runs systemctl and loginctl for 开机启动's service (nullptr: not offered).
    CommandRunner *commands = nullptr;
};

class DalingApp : public QObject {
    Q_OBJECT
public:
    explicit DalingApp(MainContext ctx);
    ~DalingApp() override;

    const MainContext &context() const { return m_ctx; }
    Messages &messages() const { return *m_ctx.messages; }
    FileDialogs &dialogs() const { return *m_ctx.dialogs; }
    const Clock &clock() const { return *m_ctx.clock; }

    EngineHost &host() { return *m_host; }
    EngineLink &link() { return *m_link; }
    DayFeed &feed() { return *m_feed; }
    // The engine when it runs in this process (tests); aborts elsewhere.
    EngineCore &core();

    // The window's own, for the operator's edits.
    BellStore &store() { return m_store; }
    Settings &settings() { return *m_settings; }
    SchoolCalendar &calendar() { return *m_calendar; }
    // The ring history as the store keeps it (the history window reads it).
    RingHistory &history() { return *m_history; }
    // The window's copy of the engine's day.
    BellBoard &board() { return *m_board; }
    // Made on first use: the start of the program does not wait for it.
    HistoryReport &historyReport();
    CalendarCommands &calendarCommands() { return *m_calendarCommands; }
    SheetExport &sheetExport() { return *m_export; }
    SheetImport &sheetImport() { return *m_import; }
    Ducking &ducking() { return *m_ducking; }

    AudioPlayer &editorPlayer() { return *m_editorPlayer; } // the editor's own
    AudioPlayer &adhocPlayer() { return *m_adhocPlayer; }   // the ad-hoc window's own

    // Runs a command; what it throws goes to the general error box.
    void guarded(const std::function<void()> &fn);
    // The store changed under the engine: it reads it again (also after a
    // reconnect, when the engine was away at the time of the edit).
    void reloadEngine();
    // Hands the outputs the settings keep to the window's players.
    void applyOutputs();
    // The zones as last read from the store.
    const QList<Zone> &zones() const { return m_zones; }
    void readZones();
    // The window is shown: the blink starts, an engine of this process its clock.
    void windowShown();
    // Stops the window's clocks before the parts they drive go away.
    void stopClocks();

signals:
    // The zones were read again (after a change of them).
    void zonesChanged();

private:
    void setUpDucking();
    // Opens the store for the window's edits; the text why not.
    QString openStore();
    quint64 storeFileId() const; // the file's inode, 0 when there is none
    MainContext m_ctx;
    std::unique_ptr<EngineHost> m_host;
    BellStore m_store;
    quint64 m_storeFileId = 0; // of the file the window's store opened
    std::unique_ptr<Settings> m_settings;
    std::unique_ptr<SchoolCalendar> m_calendar;
    std::unique_ptr<RingHistory> m_history;
    std::unique_ptr<BellBoard> m_board;
    std::unique_ptr<EngineLink> m_link;
    std::unique_ptr<DayFeed> m_feed;
    QList<Zone> m_zones;
    QTimer *m_blink = nullptr;
    bool m_reloadPending = false;
    bool m_attached = false; // the engine's list was shown once
    std::unique_ptr<AudioPlayer> m_editorPlayer;
    std::unique_ptr<AudioPlayer> m_adhocPlayer;
    std::unique_ptr<CalendarCommands> m_calendarCommands;
    std::unique_ptr<HistoryReport> m_historyReport;
    std::unique_ptr<Ducking> m_ducking;
    std::unique_ptr<SheetExport> m_export;
    std::unique_ptr<SheetImport> m_import;
};
