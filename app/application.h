#pragma once
// The program without its windows: the engine's side (EngineCore: the
// store, the bells' players, the day's bells, the ring engine, the school
// calendar, the ring history, test playback, the emergency broadcast) and
// what only the window needs beside it (the editor's and the broadcast's
// players, the lowering of the broadcast under a bell, the sheet exchange,
// the calendar's and the history's commands), built once and wired
// together here. The main window receives what it shows and forwards its
// handlers to these parts.
#include "enginecore.h"

#include <functional>
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

// What the program needs from outside; tests pass fakes. makePlayer also
// makes each window's own player (the editor's, the broadcast's).
struct MainContext : EngineContext {
    FileDialogs *dialogs = nullptr;
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

    EngineCore &core() { return *m_core; }
    BellStore &store() { return m_core->store(); }
    // The store's error from opening, empty when it opened for writing.
    QString storeError() const { return m_core->storeError(); }
    // Retries, copies and watches the store; its health drives the band.
    StoreKeeper &storeKeeper() { return m_core->storeKeeper(); }
    StoreHealth &storeHealth() { return m_core->storeHealth(); }
    Settings &settings() { return m_core->settings(); }
    BellBoard &board() { return m_core->board(); }
    RingEngine &engine() { return m_core->engine(); }
    TestPlayback &testPlayback() { return m_core->testPlayback(); }
    RingHistory &history() { return m_core->history(); }
    // What the bell bands (stopped mode, bells that did not ring) say.
    RingAlerts &ringAlerts() { return m_core->ringAlerts(); }
    // 补打时限: kept in the settings and handed to the engine.
    void setCatchUpSeconds(int seconds) { m_core->setCatchUpSeconds(seconds); }
    // Made on first use: the start of the program does not wait for it.
    HistoryReport &historyReport();
    SchoolCalendar &calendar() { return m_core->calendar(); }
    CalendarCommands &calendarCommands() { return *m_calendarCommands; }
    SheetExport &sheetExport() { return *m_export; }
    SheetImport &sheetImport() { return *m_import; }
    Ducking &ducking() { return *m_ducking; }
    BellSoundWatch &bellWatch() { return *m_bellWatch; }
    // 紧急广播: its players are its own, one per zone's output.
    EmergencyBroadcast &emergency() { return m_core->emergency(); }

    AudioPlayer &player() { return m_core->player(); }      // the main window's MediaPlayer1
    AudioPlayer &editorPlayer() { return *m_editorPlayer; } // the editor's own
    AudioPlayer &adhocPlayer() { return *m_adhocPlayer; }   // the ad-hoc window's own

    // Runs a command; what it throws goes to the general error box.
    void guarded(const std::function<void()> &fn);
    // Hands the outputs the settings keep to the players.
    void applyOutputs();
    // Hands the zones the store keeps to the engine (after a change of them).
    void applyZones() { m_core->applyZones(); }
    // The zones as last read from the store.
    const QList<Zone> &zones() const { return m_core->zones(); }
    // Who listens to the zones that reach the buildings through Snapcast.
    SnapStatus &snapStatus() { return m_core->snapStatus(); }
    // Stops the clocks before the parts they drive go away (the windows
    // first, whose players live here).
    void stopClocks();

private:
    MainContext m_ctx;
    std::unique_ptr<EngineCore> m_core;
    std::unique_ptr<AudioPlayer> m_editorPlayer;
    std::unique_ptr<AudioPlayer> m_adhocPlayer;
    std::unique_ptr<CalendarCommands> m_calendarCommands;
    std::unique_ptr<HistoryReport> m_historyReport;
    std::unique_ptr<Ducking> m_ducking;
    std::unique_ptr<BellSoundWatch> m_bellWatch;
    std::unique_ptr<SheetExport> m_export;
    std::unique_ptr<SheetImport> m_import;
};
