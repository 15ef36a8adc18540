#include "application.h"
#include "firststart.h"

#include "broadcastplayer.h"
#include "calendarcommands.h"
#include "clientlog.h"
#include "dayfeed.h"
#include "ducking.h"
#include "enginelink.h"
#include "guarded.h"
#include "historyreport.h"
#include "logging.h"
#include "ringhistory.h"
#include "schoolcalendar.h"
#include "settings.h"
#include "sheetexport.h"
#include "sheetimport.h"
#include "soundoutputs.h"

#include <QFile>
#include <QPointer>
#include <QTimer>
#include <sys/stat.h>
#include <utility>

namespace {
// The blink's beat, as the engine's own list blinks.
constexpr int kBlinkMs = 500;
} // namespace

DalingApp::DalingApp(MainContext ctx) : m_ctx(std::move(ctx))
{
    // A fresh data folder gets the sample timetable before the window opens
    // its store: the child engine starts beside it, and a store the window
    // made first (empty) would be taken as the school's list.
    seedStoreFromSample(m_ctx.paths);
    m_host = m_ctx.makeHost(m_ctx);
    // Told after the handler that noticed it has returned.
    m_host->setOnEnded([this](const QString &text) {
        QTimer::singleShot(0, this, [this, text] { m_ctx.messages->typedOk(Messages::Kind::Error, text); });
    });
    openStore();
    m_settings = std::make_unique<Settings>(m_store);
    m_calendar = std::make_unique<SchoolCalendar>(m_store);
    m_history = std::make_unique<RingHistory>(m_store);
    // The copy's own reads (an edit's, until the engine has read it) keep
    // to the plain week: the timetable's switch by date is the engine's.
    m_board = std::make_unique<BellBoard>(m_store, *m_ctx.clock, m_ctx.paths);
    m_link = std::make_unique<EngineLink>(m_ctx.paths.dataFolder(), m_host->socketPath());
    m_feed = std::make_unique<DayFeed>(*m_link, *m_board);
    readZones();
    QObject::connect(m_link.get(), &EngineLink::ready, this, [this] {
        if (m_reloadPending)
            reloadEngine();
    });
    // A store the window could not open, or one the engine's keeper has
    // replaced since (a good copy put back: the window's connection would
    // write to the file that went), is opened again whenever the list changes.
    QObject::connect(m_feed.get(), &DayFeed::listRead, this, [this] {
        if (m_store.isOpen() && storeFileId() == m_storeFileId)
            return;
        m_store.close();
        if (const QString why = openStore(); why.isEmpty())
            readZones();
    });
    // Said once, for the log and the start-up bench.
    QObject::connect(m_feed.get(), &DayFeed::listRead, this, [this] {
        if (std::exchange(m_attached, true))
            return;
        qCInfo(lcApp).noquote() << "attached to the engine at" << m_host->socketPath() << "; the day's list shown,"
                                << m_board->day().size() << "bells";
    });
    m_blink = new QTimer(this);
    m_blink->setInterval(kBlinkMs);
    QObject::connect(m_blink, &QTimer::timeout, m_feed.get(), &DayFeed::blinkBeat);

    const SoundOutputs outputs(*m_settings);
    // The editor's playback is a test of the bells' sound: their output.
    m_editorPlayer = m_ctx.makePlayer(outputs.device(SoundOutputs::Bells));
    // The broadcast plays on 广播输出 or in zones, each zone's player made
    // when the broadcast first plays there.
    m_adhocPlayer = std::make_unique<BroadcastPlayer>(
        m_ctx.makePlayer(outputs.device(SoundOutputs::Broadcast)),
        [this](const Zone &zone) { return m_ctx.makePlayer(zone.output); });
    m_calendarCommands = std::make_unique<CalendarCommands>(*m_calendar, *m_ctx.messages, *m_ctx.dialogs,
                                                            [this] { reloadEngine(); });
    setUpDucking();

    // No event loop between rows: 10,000 rows take tens of milliseconds.
    m_export = std::make_unique<SheetExport>(m_board->day(), *m_ctx.messages, *m_ctx.dialogs,
                                             std::function<void()>{});
    m_export->zones = [this] { return m_zones; };
    m_import = std::make_unique<SheetImport>(m_store, m_ctx.paths, *m_ctx.messages, *m_ctx.dialogs,
                                             std::function<void()>{}, [this] { reloadEngine(); });
    m_link->start();
}

DalingApp::~DalingApp()
{
    stopClocks();
    for (auto *p : {m_editorPlayer.get(), m_adhocPlayer.get()})
        if (p)
            p->close();
    // The link goes before the engine it talks to.
    m_feed.reset();
    m_link.reset();
    m_board.reset();
    m_store.close();
    m_host.reset();
}

quint64 DalingApp::storeFileId() const
{
    struct stat st {};
    return ::stat(QFile::encodeName(m_ctx.paths.databaseFile()).constData(), &st) == 0 ? quint64(st.st_ino) : 0;
}

QString DalingApp::openStore()
{
    m_storeFileId = storeFileId();
    const QString why = m_store.open(m_ctx.paths.databaseFile());
    if (!why.isEmpty())
        // The engine's band says what is wrong with the store; an edit tells its own failure.
        qCWarning(lcStore).noquote() << "the window's store:" << why;
    return why;
}

EngineCore &DalingApp::core()
{
    EngineCore *c = m_host->core();
    Q_ASSERT_X(c, "DalingApp::core", "the engine runs in another process");
    return *c;
}

void DalingApp::setUpDucking()
{
    // Bells cut through the ad-hoc broadcast: lowered while a bell or a test
    // sounds, in the zones the bell sounds in (a bell on 铃声输出, a test or
    // a file played to hear it: everywhere).
    m_ducking = std::make_unique<Ducking>(*m_adhocPlayer, m_settings.get());
    auto ducked = std::make_shared<bool>(false);
    const auto follow = [this, ducked] {
        const EnginePlaying &p = m_feed->playing();
        const bool want = p.active() || m_board->testing();
        if (want == *ducked)
            return;
        *ducked = want;
        if (!want) {
            m_ducking->bellEnded();
            return;
        }
        const DaySchedule &day = m_board->day();
        for (int i = 0; p.id && i < day.size(); ++i) {
            if (day.entry(i).id == *p.id && !day.entry(i).zones.isEmpty()) {
                m_ducking->bellStartedIn(day.entry(i).zones);
                return;
            }
        }
        m_ducking->bellStarted();
    };
    // After the feed has taken each of them in.
    QObject::connect(m_link.get(), &EngineLink::playbackChanged, m_ducking.get(), follow, Qt::QueuedConnection);
    QObject::connect(m_link.get(), &EngineLink::testChanged, m_ducking.get(), follow, Qt::QueuedConnection);
    QObject::connect(m_feed.get(), &DayFeed::listRead, m_ducking.get(), follow);
}

void DalingApp::readZones()
{
    try {
        m_zones = ZoneStore(m_store).list();
    } catch (const std::exception &e) {
        qCWarning(lcStore) << "zones not read:" << e.what();
    }
    QHash<QString, qint64> ids;
    for (const Zone &z : std::as_const(m_zones))
        ids.insert(z.name, z.id);
    m_feed->setKnownZones(ids);
    emit zonesChanged();
}

void DalingApp::reloadEngine()
{
    m_reloadPending = true;
    const QPointer<DalingApp> alive(this);
    m_link->reloadBells([this, alive](const LinkResult<LinkDone> &r) {
        if (!alive)
            return;
        if (r.ok()) {
            m_reloadPending = false;
            return;
        }
        // Kept pending: the engine reads it when it is back.
        qCWarning(lcClient).noquote() << "the engine did not reload the store:" << r.error->text;
        if (r.error->code == EngineLink::kRefusedCode)
            m_ctx.messages->typedOk(Messages::Kind::Warning, r.error->text);
    });
}

void DalingApp::windowShown()
{
    m_host->windowShown();
    if (!m_blink->isActive())
        m_blink->start();
}

void DalingApp::stopClocks()
{
    if (m_blink)
        m_blink->stop();
}

HistoryReport &DalingApp::historyReport()
{
    if (!m_historyReport)
        m_historyReport = std::make_unique<HistoryReport>(*m_history, *m_ctx.messages, *m_ctx.dialogs);
    return *m_historyReport;
}

void DalingApp::guarded(const std::function<void()> &fn)
{
    runGuarded(*m_ctx.messages, fn);
}

void DalingApp::applyOutputs()
{
    const SoundOutputs outputs(*m_settings);
    m_editorPlayer->setOutputDevice(outputs.device(SoundOutputs::Bells));
    m_adhocPlayer->setOutputDevice(outputs.device(SoundOutputs::Broadcast));
    reloadEngine();
}
