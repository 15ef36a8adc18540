// The methods of the engine's channel: what each one checks, does and
// answers. The views they answer with are in engineapiviews.cpp, the
// notifications in engineapinotify.cpp.
#include "engineapi.h"
#include "relaylink.h"

#include "emergencybroadcast.h"
#include "emergencycommand.h"
#include "enginecore.h"
#include "logging.h"
#include "pagingapi.h"
#include "ringengine.h"
#include "ringhistory.h"
#include "rpcserver.h"
#include "settings.h"
#include "testplayback.h"

#include <QJsonDocument>
#include <QTimer>

namespace {

RpcError refused(const QString &text)
{
    return RpcError{EngineApi::kRefused, text};
}

} // namespace

EngineApi::EngineApi(RpcServer &server, Options options, QObject *parent)
    : QObject(parent), m_server(server), m_options(std::move(options))
{
    m_options.dataFolder = folderText(m_options.dataFolder);
    m_progress = new QTimer(this);
    m_progress->setInterval(1000);
    connect(m_progress, &QTimer::timeout, this, [this] {
        if (m_core && !playing().isNull())
            tellPlayback();
        else
            m_progress->stop();
    });
    registerMethods();
    m_paging = new PagingApi(server, this);
}

EngineApi::~EngineApi() = default;

void EngineApi::setCore(EngineCore *core)
{
    delete m_link;
    m_link = nullptr;
    m_progress->stop();
    m_core = core;
    m_paging->setCore(core);
    m_sounding.reset();
    m_told.clear();
    if (m_core)
        connectCore();
}

RpcResult EngineApi::needCore() const
{
    return refused(kStarting);
}

namespace {
// A window's own button, tray item or ad-hoc button, named in "origin" so
// that the record says how it started and ended; else the command line.
EmergencyBroadcast::Origin originOf(const QJsonObject &params, EmergencyBroadcast::Origin fallback)
{
    const QString o = params.value(QStringLiteral("origin")).toString();
    if (o == u"button")
        return EmergencyBroadcast::Origin::Button;
    if (o == u"tray")
        return EmergencyBroadcast::Origin::Tray;
    if (o == u"adhoc")
        return EmergencyBroadcast::Origin::AdhocButton;
    return fallback;
}
} // namespace

void EngineApi::registerMethods()
{
    m_server.registerMethod(QStringLiteral("Engine.GetStatus"), [this](const QJsonValue &) -> RpcResult {
        return status();
    });
    m_server.registerMethod(QStringLiteral("Day.GetBells"), [this](const QJsonValue &) -> RpcResult {
        if (!m_core)
            return needCore();
        return day();
    });
    registerZones();
    m_server.registerMethod(QStringLiteral("Window.Raise"), [this](const QJsonValue &) -> RpcResult {
        if (!m_options.raise)
            return RpcError{kNoWindow, kServiceNoWindow};
        m_options.raise();
        return QJsonObject{};
    });

    m_server.registerAsyncMethod(QStringLiteral("Emergency.Start"), [this](const QJsonValue &params, RpcReply reply) {
        if (!params.isNull() && !params.isObject())
            return reply.send(RpcError::invalidParams(QStringLiteral("需要一个对象")));
        if (!m_core)
            return reply.send(needCore());
        EmergencyBroadcast &e = m_core->emergency();
        if (e.active())
            return reply.send(QJsonObject{{QStringLiteral("text"), kEmergencyGoingOn}});
        const QJsonObject p = params.toObject();
        QString error;
        auto request = emergencycommand::request(QJsonDocument(p).toJson(QJsonDocument::Compact), &error);
        if (!request)
            return reply.send(refused(error));
        const QString by = p.value(QStringLiteral("by")).toString().trimmed().left(200);
        if (!by.isEmpty())
            qCInfo(lcApp).noquote() << "emergency broadcast asked for by" << by;
        request->origin = originOf(p, request->origin);
        // Answered once every output sounds or has failed, as the window's
        // button learns it.
        const QMetaObject::Connection answer = connect(
            &e, &EmergencyBroadcast::settled, this,
            [reply](bool ok, const QString &text) {
                reply.send(ok ? RpcResult(QJsonObject{{QStringLiteral("text"), text}}) : RpcResult(refused(text)));
            },
            Qt::SingleShotConnection);
        if (error = e.start(*request, by); !error.isEmpty()) {
            disconnect(answer);
            reply.send(refused(error));
        }
    });
    m_server.registerMethod(QStringLiteral("Emergency.Stop"), [this](const QJsonValue &params) -> RpcResult {
        const QJsonObject p = params.toObject();
        const QString by = p.value(QStringLiteral("by")).toString().trimmed().left(200);
        const auto origin = originOf(p, EmergencyBroadcast::Origin::Command);
        const bool ended = m_core && m_core->emergency().stop(origin, by);
        return QJsonObject{{QStringLiteral("text"), ended ? QString() : kNoEmergency}};
    });

    m_server.registerMethod(QStringLiteral("Mode.Set"), [this](const QJsonValue &params) -> RpcResult {
        const QJsonValue running = params.toObject().value(QStringLiteral("running"));
        if (!running.isBool())
            return RpcError::invalidParams(QStringLiteral("需要 \"running\": true 或 false"));
        if (!m_core)
            return needCore();
        BellBoard &board = m_core->board();
        if (board.running() != running.toBool()) {
            if (board.testing())
                return refused(kModeWhileTesting);
            try {
                m_core->engine().ButtonPlayClick();
            } catch (const std::exception &e) {
                // The mode has switched; the list stays as it was, as the
                // window's click leaves it.
                qCWarning(lcApp) << "the list was not read again after the mode switch:" << e.what();
            }
        }
        return QJsonObject{{QStringLiteral("mode"), board.running() ? QStringLiteral("running") : QStringLiteral("stopped")}};
    });
    m_server.registerMethod(QStringLiteral("Bells.Reload"), [this](const QJsonValue &) -> RpcResult {
        if (!m_core)
            return needCore();
        try {
            // Read, not written back: a store open for reading only reloads too.
            m_core->engine().setCatchUpSeconds(m_core->settings().catchUpSeconds());
            m_core->applyZones();
            m_core->applyOutputs();
            m_core->relays().reload();
            m_core->board().Refresh();
        } catch (const std::exception &e) {
            qCWarning(lcApp) << "reload asked on the channel failed:" << e.what();
            return refused(QString::fromUtf8(e.what()));
        }
        // A list that came back the same still tells its clients to read it.
        tellDay();
        return QJsonObject{};
    });
    m_server.registerMethod(QStringLiteral("Test.Play"), [this](const QJsonValue &params) -> RpcResult {
        const QJsonValue id = params.toObject().value(QStringLiteral("id"));
        if (!id.isDouble())
            return RpcError::invalidParams(QStringLiteral("需要铃声的 \"id\""));
        if (!m_core)
            return needCore();
        BellBoard &board = m_core->board();
        TestPlayback &test = m_core->testPlayback();
        if (board.running())
            return refused(kTestWhileRunning);
        if (m_core->emergency().active())
            return refused(EmergencyBroadcast::kTestRefused);
        int index = -1;
        for (int i = 0; i < board.day().size() && index < 0; ++i)
            if (board.day().entry(i).id == id.toInteger())
                index = i;
        if (index < 0)
            return refused(kNoSuchBell);
        // A test going on moves to that bell, as a double-click does.
        if (board.testing())
            test.ButtonCheckClick();
        board.setSelectedRow(index + 1);
        try {
            test.ButtonCheckClick();
        } catch (const std::exception &e) {
            qCWarning(lcApp) << "test playback asked on the channel failed:" << e.what();
            return refused(QString::fromUtf8(e.what()));
        }
        if (!board.testing())
            return refused(kTestNotStarted);
        if (const QString by = params.toObject().value(QStringLiteral("by")).toString().trimmed().left(200);
            !by.isEmpty())
            recordTest(index, by);
        return QJsonObject{};
    });
    m_server.registerMethod(QStringLiteral("Test.Stop"), [this](const QJsonValue &) -> RpcResult {
        if (!m_core)
            return needCore();
        if (m_core->board().testing())
            m_core->testPlayback().ButtonCheckClick();
        return QJsonObject{};
    });
}

void EngineApi::recordTest(int index, const QString &by)
{
    const BellEntry &e = m_core->board().day().entry(index);
    const QDateTime now = m_core->board().clock().now();
    QStringList zones;
    for (const QJsonValue &z : zoneNames(e.zones))
        zones << z.toString();
    // At the second it played, with no entry: it is no outcome of the bell's own.
    RingHistory &history = m_core->history();
    history.record({0, now.date(), now.time().msecsSinceStartOfDay() / 1000, e.name, e.music, BellStatus::Done,
                    std::nullopt, testRecordText(by), zones.join(QStringLiteral("、"))});
    qCInfo(lcApp).noquote() << "test playback of" << e.name << "asked for by" << by;
    // Written at once, as the emergency's record is.
    if (!history.flush())
        qCWarning(lcApp).noquote() << "the test playback's record waits for the store:" << history.lastError();
}
