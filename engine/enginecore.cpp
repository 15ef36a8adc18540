#include "enginecore.h"

#include "emergencybroadcast.h"
#include "firststart.h"
#include "logging.h"
#include "pagingservice.h"
#include "playerpool.h"
#include "relaylink.h"
#include "ringalerts.h"
#include "ringengine.h"
#include "ringhistory.h"
#include "schoolcalendar.h"
#include "settings.h"
#include "snapstatus.h"
#include "soundoutputs.h"
#include "storekeeper.h"
#include "testplayback.h"

#include <QDir>
#include <QTimer>
#include <set>

EngineCore::EngineCore(const EngineContext &ctx) : m_ctx(ctx)
{
    // The store comes first: the players are made for the outputs it keeps.
    // A fresh copy of the program may come without its data folder; an
    // installed one starts with the sample timetable it came with. A store
    // that cannot be used never holds up the start: the keeper rings from
    // its last good copy and the band says so.
    QDir().mkpath(m_ctx.paths.dataFolder());
    seedStoreFromSample(m_ctx.paths);
    m_keeper = std::make_unique<StoreKeeper>(m_store, m_ctx.paths, *m_ctx.clock);
    m_storeError = m_keeper->openAtStart();
    if (!m_storeError.isEmpty())
        qCWarning(lcStore).noquote() << m_ctx.paths.databaseFile() << m_storeError;
    m_settings = std::make_unique<Settings>(m_store);
    const SoundOutputs outputs(*m_settings);
    m_player = m_ctx.makePlayer(outputs.device(SoundOutputs::Bells));
    // A bell due while the previous one plays is opened ahead on this one.
    m_sparePlayer = m_ctx.makePlayer(outputs.device(SoundOutputs::Bells));
    // A bell sounds only a file of the music folder, never one a link there
    // leads to elsewhere.
    m_player->setConfinedTo(m_ctx.paths.musicFolder());
    m_sparePlayer->setConfinedTo(m_ctx.paths.musicFolder());

    m_board = std::make_unique<BellBoard>(m_store, *m_ctx.clock, m_ctx.paths);
    m_calendar = std::make_unique<SchoolCalendar>(m_store);
    m_board->setDayPlan(m_calendar.get());
    // A failed switch by date comes up inside a Refresh of the clock's tick:
    // told once the tick is done; the list that rang before stays.
    m_calendar->onSwitchFailed = [this](const QString &text) {
        QTimer::singleShot(0, m_board.get(), [this, text] {
            m_ctx.messages->generalError(QStringLiteral("作息方案没有按启用日切换：") + text);
        });
    };

    m_history = std::make_unique<RingHistory>(m_store);
    // What the last run could not write comes in before the day's list is
    // read, so that those bells do not read 已过.
    if (m_history->loadWaiting(RingHistory::waitingPlaces(m_ctx.paths.dataFolder())) > 0)
        m_history->flush();
    // A bell the last run left sounding (killed, crashed) reads 中断.
    m_history->closeUnended();
    m_engine = std::make_unique<RingEngine>(*m_board, *m_player, *m_ctx.messages, *m_ctx.clock,
                                            nullptr, m_sparePlayer.get());
    m_engine->setHistory(m_history.get());
    m_board->setHistory(m_history.get());
    m_alerts = std::make_unique<RingAlerts>();
    m_engine->setAlerts(m_alerts.get());
    m_engine->setCatchUpSeconds(m_settings->catchUpSeconds());
    m_keeper->setHistory(m_history.get());
    QObject::connect(m_keeper.get(), &StoreKeeper::listReplaced, m_board.get(), [this] {
        applyZones();
        try {
            m_board->Refresh();
        } catch (const std::exception &e) {
            // The list shown stays and rings; the band tells what is wrong.
            qCWarning(lcStore) << "reload after the store came back failed:" << e.what();
        }
    });
    m_engine->outputLabel = [this](const QString &device) { return SoundOutputs(*m_settings).label(device); };
    m_zonePool = std::make_unique<PlayerPool>(m_ctx.makePlayer);
    m_zonePool->setConfinedTo(m_ctx.paths.musicFolder());
    m_engine->zonePlayer = [this](const Zone &zone) { return m_zonePool->player(zone.id, zone.output); };
    m_snap = std::make_unique<SnapStatus>();
    m_snap->load(*m_settings);
    m_snap->attach(*m_engine);
    applyZones();
    m_test = std::make_unique<TestPlayback>(*m_board, *m_player, *m_ctx.messages);
    // A bell with zones is tested where it rings, on the engine's players.
    m_test->zonePlayer = [this](qint64 zone) { return m_engine->playerOfZone(zone); };
    m_test->zoneName = [this](qint64 zone) { return m_engine->zoneName(zone); };
    setUpEmergency();
    m_relays = std::make_unique<RelayLink>(m_store, *m_board, *m_engine, *m_test, *m_emergency,
                                           *m_ctx.clock, [this] { return m_zones; });
    setUpPaging();
    // The history keeps a little over a year.
    m_history->prune(m_ctx.clock->now().date());
    m_keeper->start();
}

EngineCore::~EngineCore()
{
    // Ended (and their records closed) while the parts they hold are still here.
    m_paging->stop(QStringLiteral("程序退出"));
    m_emergency->stop(EmergencyBroadcast::Origin::Quit);
    stopClocks();
    // A bell still sounding is cut (中断); what the store does not take
    // waits in a file for the next start.
    m_history->closeAtEnd(RingHistory::waitingPlaces(m_ctx.paths.dataFolder()));
    for (auto *p : {m_player.get(), m_sparePlayer.get()})
        if (p)
            p->close();
    m_zonePool->closeAll();
}

void EngineCore::stopClocks()
{
    m_engine->TimerShiJian.stop();
    m_engine->TimerShan.stop();
    m_engine->TimerPrepare.stop();
    m_engine->TimerStart.stop();
    m_test->TimerCheck.stop();
    m_keeper->timer.stop();
}

StoreHealth &EngineCore::storeHealth()
{
    return m_keeper->health();
}

void EngineCore::setCatchUpSeconds(int seconds)
{
    // Checked and kept first: a value the store refuses changes nothing.
    m_settings->setCatchUpSeconds(seconds);
    m_engine->setCatchUpSeconds(seconds);
}

void EngineCore::applyOutputs()
{
    // Each player takes its output with its next file: a bell opened ahead
    // rings where it was opened.
    const SoundOutputs outputs(*m_settings);
    for (AudioPlayer *p : {m_player.get(), m_sparePlayer.get()})
        p->setOutputDevice(outputs.device(SoundOutputs::Bells));
}

void EngineCore::applyZones()
{
    try {
        m_zones = ZoneStore(m_store).list();
        m_engine->setZones(m_zones);
        // A zone gone or moved to another output lets its player go (once
        // it has ended, where it still sounds).
        std::set<PlayerPool::Key> keep;
        for (const Zone &z : std::as_const(m_zones))
            keep.insert({z.id, z.output});
        m_zonePool->keepOnly(keep);
    } catch (const std::exception &e) {
        // Bells keep ringing: those whose zones are unknown go to 铃声输出.
        qCWarning(lcStore) << "zones not read:" << e.what();
    }
}

void EngineCore::setUpEmergency()
{
    m_emergency = std::make_unique<EmergencyBroadcast>(m_ctx.paths, *m_ctx.clock, m_ctx.makePlayer);
    EmergencyBroadcast &e = *m_emergency;
    e.setHistory(m_history.get());
    e.zones = [this] { return m_zones; };
    e.bellsOutput = [this] { return SoundOutputs(*m_settings).device(SoundOutputs::Bells); };
    e.broadcastOutput = [this] { return SoundOutputs(*m_settings).device(SoundOutputs::Broadcast); };
    e.holdBells = [this](const QString &reason) { m_engine->holdBells(reason); };
    e.releaseBells = [this] { m_engine->releaseBells(); };
    e.stopTest = [this] {
        if (m_board->testing())
            m_test->ButtonCheckClick();
    };
    m_test->refusal = [this] { return m_emergency->active() ? EmergencyBroadcast::kTestRefused : QString(); };
    // Written like the bell sounds at the first start, so that the alarm
    // needs nothing from outside when it is wanted.
    e.ensureAlarmTone();
}

void EngineCore::setUpPaging()
{
    m_paging = std::make_unique<PagingService>(*m_ctx.clock);
    PagingService &p = *m_paging;
    p.setHistory(m_history.get());
    p.zones = [this] { return m_zones; };
    p.broadcastOutput = [this] { return SoundOutputs(*m_settings).device(SoundOutputs::Broadcast); };
    p.input = [this] { return m_settings->value(PagingService::kInputSetting); };
    p.chime = [this] { return m_settings->flag(PagingService::kChimeSetting, true); };
    p.emergencyActive = [this] { return m_emergency->active(); };
    p.takeZones = [this](const QList<qint64> &zones, bool everywhere, const QString &reason) {
        m_engine->takeZones(zones, everywhere, reason);
    };
    p.giveBackZones = [this] { m_engine->giveBackZones(); };
    p.power = [this](bool on, const QList<qint64> &zones, bool everywhere) {
        if (on)
            m_relays->plan().soundStarted(QStringLiteral("paging"), zones, everywhere);
        else
            m_relays->plan().soundEnded(QStringLiteral("paging"));
    };
    // The emergency is above it: it cuts the announcement.
    QObject::connect(m_emergency.get(), &EmergencyBroadcast::activeChanged, m_paging.get(), [this](bool on) {
        if (on)
            m_paging->stop(PagingService::kCutByEmergency);
    });
}
