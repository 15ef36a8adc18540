#include "application.h"

#include "broadcastplayer.h"
#include "calendarcommands.h"
#include "ducking.h"
#include "emergencybroadcast.h"
#include "firststart.h"
#include "guarded.h"
#include "historyreport.h"
#include "logging.h"
#include "playerpool.h"
#include "ringalerts.h"
#include "ringengine.h"
#include "ringhistory.h"
#include "settings.h"
#include "sheetexport.h"
#include "sheetimport.h"
#include "snapstatus.h"
#include "soundoutputs.h"
#include "storekeeper.h"
#include "testplayback.h"

#include <QCoreApplication>
#include <QDir>
#include <QTimer>
#include <algorithm>
#include <set>

DalingApp::DalingApp(MainContext ctx) : m_ctx(std::move(ctx)), m_core(std::make_unique<EngineCore>(m_ctx))
{
    const SoundOutputs outputs(settings());
    // The editor's playback is a test of the bells' sound: their output.
    m_editorPlayer = m_ctx.makePlayer(outputs.device(SoundOutputs::Bells));
    // The broadcast plays on 广播输出 or in zones, each zone's player made
    // when the broadcast first plays there.
    m_adhocPlayer = std::make_unique<BroadcastPlayer>(
        m_ctx.makePlayer(outputs.device(SoundOutputs::Broadcast)),
        [this](const Zone &zone) { return m_ctx.makePlayer(zone.output); });
    m_calendarCommands = std::make_unique<CalendarCommands>(
        calendar(), *m_ctx.messages, *m_ctx.dialogs, [this] { guarded([this] { board().Refresh(); }); });

    // Bells cut through the ad-hoc broadcast. The engine says when a bell
    // starts and ends, on either of its players; the watch covers what plays
    // outside it (test playback, a double-click).
    m_ducking = std::make_unique<Ducking>(*m_adhocPlayer, &settings());
    m_bellWatch = std::make_unique<BellSoundWatch>(player());
    Ducking *ducking = m_ducking.get();
    // Lowered only in the zones the bell sounds in; a bell on 铃声输出 (no
    // zones) is heard everywhere.
    QObject::connect(&engine(), &RingEngine::rang, ducking,
                     [ducking](int, const QList<qint64> &zones) { ducking->bellStartedIn(zones); });
    QObject::connect(&engine(), &RingEngine::bellEnded, ducking, [ducking] { ducking->bellEnded(); });
    // Test playback lowers the broadcast too, for the whole test.
    QObject::connect(&testPlayback(), &TestPlayback::testing, m_bellWatch.get(), &BellSoundWatch::setTesting);
    QObject::connect(m_bellWatch.get(), &BellSoundWatch::started, ducking, &Ducking::bellStarted);
    QObject::connect(m_bellWatch.get(), &BellSoundWatch::ended, ducking, &Ducking::bellEnded);

    // No event loop between rows: 10,000 rows take tens of milliseconds, and
    // a loop nested there would let the ring tick run inside the command,
    // reading the list while the import's transaction is half written.
    m_export = std::make_unique<SheetExport>(board().day(), *m_ctx.messages, *m_ctx.dialogs,
                                             std::function<void()>{});
    m_export->zones = [this] { return m_core->zones(); };
    m_import = std::make_unique<SheetImport>(store(), m_ctx.paths, *m_ctx.messages, *m_ctx.dialogs,
                                             std::function<void()>{}, [this] { board().Refresh(); });
}

DalingApp::~DalingApp()
{
    for (auto *p : {m_editorPlayer.get(), m_adhocPlayer.get()})
        if (p)
            p->close();
}

void DalingApp::stopClocks()
{
    m_core->stopClocks();
}

HistoryReport &DalingApp::historyReport()
{
    if (!m_historyReport)
        m_historyReport = std::make_unique<HistoryReport>(history(), *m_ctx.messages, *m_ctx.dialogs);
    return *m_historyReport;
}

void DalingApp::guarded(const std::function<void()> &fn)
{
    runGuarded(*m_ctx.messages, fn);
}

void DalingApp::applyOutputs()
{
    m_core->applyOutputs();
    const SoundOutputs outputs(settings());
    m_editorPlayer->setOutputDevice(outputs.device(SoundOutputs::Bells));
    m_adhocPlayer->setOutputDevice(outputs.device(SoundOutputs::Broadcast));
}
