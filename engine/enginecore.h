#pragma once
// The engine's side of the program, built once and wired together: the
// store and its keeper, the settings, the bells' players and the zones'
// pool, the day's bells and their ring engine, the school calendar, the
// ring history and its bands, test playback and the emergency broadcast.
// No window and no dialog: what the engine would show goes to Messages (a
// box in the window, the log in the service). The window adds its own
// parts on top (the editor's and the broadcast's players, the ducking, the
// sheet exchange); the service runs this alone.
#include "apppaths.h"
#include "audioplayer.h"
#include "bellboard.h"
#include "bellstore.h"
#include "seams.h"
#include "zonestore.h"

#include <functional>
#include <memory>

class EmergencyBroadcast;
class PagingService;
class PlayerPool;
class RelayLink;
class RingAlerts;
class RingEngine;
class RingHistory;
class SchoolCalendar;
class Settings;
class SnapStatus;
class StoreHealth;
class StoreKeeper;
class TestPlayback;

// What the engine needs from outside; tests pass fakes.
struct EngineContext {
    AppPaths paths{QStringLiteral("./")};
    const Clock *clock = nullptr;
    Messages *messages = nullptr;
    // Makes a player for a sound output by libmpv's device name (empty: the
    // system default).
    std::function<std::unique_ptr<AudioPlayer>(const QString &device)> makePlayer;
};

class EngineCore {
public:
    explicit EngineCore(const EngineContext &ctx);
    // Ends the emergency, stops the clocks, records the bell it cuts and
    // writes (or keeps for the next start) the history.
    ~EngineCore();
    EngineCore(const EngineCore &) = delete;
    EngineCore &operator=(const EngineCore &) = delete;

    BellStore &store() { return m_store; }
    // The store's error from opening, empty when it opened for writing.
    QString storeError() const { return m_storeError; }
    StoreKeeper &storeKeeper() { return *m_keeper; }
    StoreHealth &storeHealth();
    Settings &settings() { return *m_settings; }
    BellBoard &board() { return *m_board; }
    RingEngine &engine() { return *m_engine; }
    TestPlayback &testPlayback() { return *m_test; }
    RingHistory &history() { return *m_history; }
    RingAlerts &ringAlerts() { return *m_alerts; }
    SchoolCalendar &calendar() { return *m_calendar; }
    EmergencyBroadcast &emergency() { return *m_emergency; }
    SnapStatus &snapStatus() { return *m_snap; }
    AudioPlayer &player() { return *m_player; } // the bells' (the window's MediaPlayer1)
    RelayLink &relays() { return *m_relays; } // the amplifiers' relays and the fire alarm's contacts
    PagingService &paging() { return *m_paging; } // the live announcement (实时喊话)

    // 补打时限: kept in the settings and handed to the engine.
    void setCatchUpSeconds(int seconds);
    // Hands the bells' output the settings keep to their players.
    void applyOutputs();
    // Hands the zones the store keeps to the engine (after a change of them).
    void applyZones();
    const QList<Zone> &zones() const { return m_zones; }
    // Stops the clocks before the parts they drive go away.
    void stopClocks();

private:
    void setUpEmergency();
    void setUpPaging();
    EngineContext m_ctx;
    BellStore m_store;
    QString m_storeError;
    std::unique_ptr<StoreKeeper> m_keeper;
    std::unique_ptr<Settings> m_settings;
    std::unique_ptr<AudioPlayer> m_player;
    std::unique_ptr<AudioPlayer> m_sparePlayer; // the bells' second player
    // The zones' players, one per zone and output, made when a bell first
    // needs it.
    std::unique_ptr<PlayerPool> m_zonePool;
    QList<Zone> m_zones;
    std::unique_ptr<SnapStatus> m_snap;
    std::unique_ptr<BellBoard> m_board;
    // Decides which entries ring on a date (the board's day plan) and
    // switches the seasonal timetables.
    std::unique_ptr<SchoolCalendar> m_calendar;
    std::unique_ptr<RingHistory> m_history;
    std::unique_ptr<RingAlerts> m_alerts;
    std::unique_ptr<RingEngine> m_engine;
    std::unique_ptr<TestPlayback> m_test;
    std::unique_ptr<EmergencyBroadcast> m_emergency;
    // Last, so that it goes first: every relay rests while the rest is here.
    std::unique_ptr<RelayLink> m_relays;
    // Ended first of all in the destructor; its hooks reach the parts above.
    std::unique_ptr<PagingService> m_paging;
};
