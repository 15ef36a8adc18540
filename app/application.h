#pragma once
// The program without its windows: the store, the players, the day's bells,
// the ring engine, the school calendar, the ring history, test playback,
// the lowering of the broadcast under a bell and the sheet exchange, built
// once and wired together here. The main window receives what it shows and
// forwards its handlers to these parts.
#include "apppaths.h"
#include "audioplayer.h"
#include "bellboard.h"
#include "bellstore.h"
#include "seams.h"

#include <functional>
#include "zonestore.h"

#include <map>
#include <memory>

class BellSoundWatch;
class CalendarCommands;
class Ducking;
class EmergencyBroadcast;
class HistoryReport;
class PlayerPool;
class RingAlerts;
class RingEngine;
class RingHistory;
class SchoolCalendar;
class Settings;
class SheetExport;
class SheetImport;
class SnapStatus;
class StoreHealth;
class StoreKeeper;
class TestPlayback;

// What the program needs from outside; tests pass fakes.
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

class DalingApp {
public:
    explicit DalingApp(MainContext ctx);
    ~DalingApp();
    DalingApp(const DalingApp &) = delete;
    DalingApp &operator=(const DalingApp &) = delete;

    const MainContext &context() const { return m_ctx; }
    Messages &messages() const { return *m_ctx.messages; }
    FileDialogs &dialogs() const { return *m_ctx.dialogs; }
    const Clock &clock() const { return *m_ctx.clock; }

    BellStore &store() { return m_store; }
    // The store's error from opening, empty when it opened for writing.
    QString storeError() const { return m_storeError; }
    // Retries, copies and watches the store; its health drives the band.
    StoreKeeper &storeKeeper() { return *m_keeper; }
    StoreHealth &storeHealth();
    Settings &settings() { return *m_settings; }
    BellBoard &board() { return *m_board; }
    RingEngine &engine() { return *m_engine; }
    TestPlayback &testPlayback() { return *m_test; }
    RingHistory &history() { return *m_history; }
    // What the bell bands (stopped mode, bells that did not ring) say.
    RingAlerts &ringAlerts() { return *m_alerts; }
    // 补打时限: kept in the settings and handed to the engine.
    void setCatchUpSeconds(int seconds);
    // Made on first use: the start of the program does not wait for it.
    HistoryReport &historyReport();
    SchoolCalendar &calendar() { return *m_calendar; }
    CalendarCommands &calendarCommands() { return *m_calendarCommands; }
    SheetExport &sheetExport() { return *m_export; }
    SheetImport &sheetImport() { return *m_import; }
    Ducking &ducking() { return *m_ducking; }
    BellSoundWatch &bellWatch() { return *m_bellWatch; }
    // 紧急广播: its players are its own, one per zone's output.
    EmergencyBroadcast &emergency() { return *m_emergency; }

    AudioPlayer &player() { return *m_player; }             // the main window's MediaPlayer1
    AudioPlayer &editorPlayer() { return *m_editorPlayer; } // the editor's own
    AudioPlayer &adhocPlayer() { return *m_adhocPlayer; }   // the ad-hoc window's own

    // Runs a command; what it throws goes to the general error box.
    void guarded(const std::function<void()> &fn);
    // Hands the outputs the settings keep to the players.
    void applyOutputs();
    // Hands the zones the store keeps to the engine (after a change of them).
    void applyZones();
    // The zones as last read from the store.
    const QList<Zone> &zones() const { return m_zones; }
    // Who listens to the zones that reach the buildings through Snapcast.
    SnapStatus &snapStatus() { return *m_snap; }
    // Stops the clocks before the parts they drive go away (the windows
    // first, whose players live here).
    void stopClocks();

private:
    void setUpEmergency();
    MainContext m_ctx;
    BellStore m_store;
    QString m_storeError;
    std::unique_ptr<StoreKeeper> m_keeper;
    std::unique_ptr<Settings> m_settings;
    std::unique_ptr<AudioPlayer> m_player;
    std::unique_ptr<AudioPlayer> m_sparePlayer; // the bells' second player
    std::unique_ptr<AudioPlayer> m_editorPlayer;
    std::unique_ptr<AudioPlayer> m_adhocPlayer;
    // The zones' players, one per zone and output, made when a bell first
    // needs it; the engine holds on to them until the pool lets one go.
    std::unique_ptr<PlayerPool> m_zonePool;
    QList<Zone> m_zones;
    std::unique_ptr<SnapStatus> m_snap;
    std::unique_ptr<BellBoard> m_board;
    // The school calendar decides which entries ring on a date (the board's
    // day plan) and switches the seasonal timetables.
    std::unique_ptr<SchoolCalendar> m_calendar;
    std::unique_ptr<CalendarCommands> m_calendarCommands;
    std::unique_ptr<RingHistory> m_history;
    std::unique_ptr<HistoryReport> m_historyReport;
    std::unique_ptr<RingAlerts> m_alerts;
    std::unique_ptr<RingEngine> m_engine;
    std::unique_ptr<TestPlayback> m_test;
    std::unique_ptr<Ducking> m_ducking;
    std::unique_ptr<BellSoundWatch> m_bellWatch;
    std::unique_ptr<SheetExport> m_export;
    std::unique_ptr<SheetImport> m_import;
    std::unique_ptr<EmergencyBroadcast> m_emergency;
};
