// The live announcement on an engine of fakes (clock, bell players, boxes)
// with a real sound server: a virtual microphone (a null sink's monitor fed
// with a tone) heard through the engine's channel in the paged zones' null
// sinks and in no other, what does not work named and the rest paged, the
// emergency cutting in, and one record per announcement.
#include "audiotestutil.h"
#include "emergencybroadcast.h"
#include "engineapi.h"
#include "enginecore.h"
#include "fakes.h"
#include "onsetrecorder.h"
#include "pagingservice.h"
#include "pagingsound.h"
#include "ringengine.h"
#include "ringhistory.h"
#include "rpcclient.h"
#include "rpcserver.h"
#include "settings.h"
#include "zonestore.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

class PagingEngineTest : public QObject {
    Q_OBJECT
    PrivatePulse m_pulse;
    bool m_sound = false;

    struct Fixture {
        TempHome home;
        QTemporaryDir runtime;
        FakeClock clock{QDateTime(QDate(2026, 12, 7), QTime(8, 0, 0))};
        FakeMessages messages;
        std::unique_ptr<EngineCore> core;
        RpcServer server;
        std::unique_ptr<EngineApi> api;
        RpcClient client;
        QList<std::pair<QString, QJsonObject>> told;

        explicit Fixture(const QString &input = "mic.monitor", const QString &extraZoneOutput = {}, bool chime = false)
        {
            {
                BellStore store;
                QVERIFY(store.open(home.db()).isEmpty());
                ZoneStore zones(store);
                zones.add({0, "教学楼A", "pulse/zoneA", 0});
                zones.add({0, "教学楼B", "pulse/zoneB", 0});
                zones.add({0, "操场", "pulse/zoneC", 0});
                if (!extraZoneOutput.isEmpty())
                    zones.add({0, "实验楼", extraZoneOutput, 0});
                Settings settings(store);
                settings.setValue(PagingService::kInputSetting, input);
                settings.setFlag(PagingService::kChimeSetting, chime);
            }
            EngineContext ctx;
            ctx.paths = AppPaths(home.path());
            ctx.clock = &clock;
            ctx.messages = &messages;
            ctx.makePlayer = [this](const QString &) { return std::make_unique<FakePlayer>(&clock); };
            core = std::make_unique<EngineCore>(ctx);
            QVERIFY(server.listen(runtime.filePath("daling.sock")));
            api = std::make_unique<EngineApi>(server, EngineApi::Options{home.path() + "data/", true, {}});
            api->setCore(core.get());
            QObject::connect(&client, &RpcClient::notification, &client,
                             [this](const QString &m, const QJsonValue &p) { told.append({m, p.toObject()}); });
            client.connectToServer(runtime.filePath("daling.sock"));
            QVERIFY(client.waitForConnected(2000));
        }
        ~Fixture() { api->setCore(nullptr); }

        RpcResult call(const QString &method, const QJsonValue &params = {})
        {
            std::optional<RpcResult> got;
            client.call(method, params, [&got](const RpcResult &r) { got = r; });
            if (!QTest::qWaitFor([&] { return got.has_value(); }, 8000))
                return RpcError::noAnswer();
            return *got;
        }
        QList<QJsonObject> told_(const QString &method)
        {
            QTest::qWait(50);
            QList<QJsonObject> out;
            for (const auto &[m, p] : std::as_const(told))
                if (m == method)
                    out.append(p);
            return out;
        }
        QList<RingRecord> records()
        {
            core->history().flush();
            return core->history().day(clock.now().date());
        }
    };

    static std::unique_ptr<OnsetRecorder> listen(const std::string &sink)
    {
        OnsetRecorder::Options o;
        o.device = sink + ".monitor";
        o.threshold = 1500;
        auto r = std::make_unique<OnsetRecorder>(o);
        std::string error;
        if (!r->start(&error))
            qWarning() << "recorder" << sink.c_str() << error.c_str();
        return r;
    }
    static bool heard(const OnsetRecorder &r) { return !r.sounds().empty(); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_pulse.start("mic"));
        for (const char *s : {"zoneA", "zoneB", "zoneC"})
            QVERIFY(loadNullSink(s));
        QProcess::execute("pactl", {"set-default-source", "mic.monitor"});
        QProcess::execute("pactl", {"set-default-sink", "zoneC"});
        m_sound = true;
    }

    void theVoiceIsHeardInThePagedZonesOnly()
    {
        Fixture f;
        auto a = listen("zoneA"), b = listen("zoneB"), c = listen("zoneC");
        MicFeeder mic("mic", MicFeeder::Kind::Tone);
        QVERIFY(mic.start());
        const RpcResult r = f.call("Paging.Start", QJsonObject{{"zones", QJsonArray{"教学楼A", "教学楼B"}}, {"by", "王老师"}});
        QVERIFY2(!r.isError(), qPrintable(r.error().message));
        QCOMPARE(r.value()["active"].toBool(), true);
        QCOMPARE(r.value()["text"].toString(), QString());
        QVERIFY(QTest::qWaitFor([&] { return heard(*a) && heard(*b); }, 8000));
        QTest::qWait(400);
        QVERIFY(!heard(*c)); // not paged: untouched
        const QList<QJsonObject> changed = f.told_("Paging.OnChanged");
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed[0]["zones"].toArray(), (QJsonArray{"教学楼A", "教学楼B"}));
        QCOMPARE(changed[0]["by"].toString(), "王老师");
        QVERIFY(!f.told_("Paging.OnLevel").isEmpty());
        QVERIFY(f.told_("Paging.OnLevel").last()["peak"].toDouble() > 0.1);
        QVERIFY(f.core->engine().zonesTaken());

        f.clock.setTime(QTime(8, 1, 5));
        QCOMPARE(f.call("Paging.Stop").value()["text"].toString(), QString());
        QVERIFY(!f.core->engine().zonesTaken());
        QVERIFY(a->waitQuiet(300, 5000)); // nothing left live
        QCOMPARE(f.told_("Paging.OnChanged").last()["active"].toBool(), false);
        QCOMPARE(f.told_("Paging.OnChanged").last()["zones"].toArray(), QJsonArray{});
        const QList<RingRecord> recs = f.records();
        QCOMPARE(recs.size(), 1);
        QCOMPARE(recs[0].name, PagingService::kName);
        QCOMPARE(recs[0].zones, "教学楼A、教学楼B");
        QCOMPARE(recs[0].result, BellStatus::Done);
        QCOMPARE(recs[0].time, 8 * 3600);
        QCOMPARE(recs[0].reason, "由王老师发起，持续 01:05");
        QVERIFY(!recs[0].sounding);
    }

    void whatDoesNotWorkIsNamedAndTheRestIsPaged()
    {
        Fixture f("usb_mic_gone", "pulse/nosuch");
        auto a = listen("zoneA");
        MicFeeder mic("mic", MicFeeder::Kind::Tone);
        QVERIFY(mic.start());
        const RpcResult r = f.call("Paging.Start", QJsonObject{{"zones", QJsonArray{"教学楼A", "实验楼"}}});
        QVERIFY2(!r.isError(), qPrintable(r.error().message));
        const QString text = r.value()["text"].toString();
        QVERIFY2(text.contains("指定的喊话输入「usb_mic_gone」不存在，已改用系统默认输入。"), qPrintable(text));
        QVERIFY2(text.contains("这些地方听不到：实验楼（找不到这个声音输出）"), qPrintable(text));
        QVERIFY(QTest::qWaitFor([&] { return heard(*a); }, 8000));
        f.call("Paging.Stop");
        QVERIFY(f.records().value(0).reason.contains("实验楼（找不到这个声音输出）"));
    }

    // The chime is heard before the voice, also while nobody speaks yet.
    void theChimeComesFirst()
    {
        Fixture f("mic.monitor", {}, true);
        auto a = listen("zoneA");
        QVERIFY(!f.call("Paging.Start", QJsonObject{{"zones", QJsonArray{"教学楼A"}}}).isError());
        QVERIFY(QTest::qWaitFor([&] { return heard(*a); }, 8000));
        f.call("Paging.Stop");
    }

    void refusals_data()
    {
        QTest::addColumn<QJsonValue>("params");
        QTest::addColumn<bool>("invalid");
        QTest::addColumn<QString>("text");
        QTest::newRow("unknown zone") << QJsonValue(QJsonObject{{"zones", QJsonArray{"教学楼A", "图书馆"}}}) << false
                                      << PagingService::unknownZoneText("图书馆");
        QTest::newRow("zones not a list") << QJsonValue(QJsonObject{{"zones", "教学楼A"}}) << true
                                          << "\"zones\" 需要分区名称的列表";
        QTest::newRow("a zone not a name") << QJsonValue(QJsonObject{{"zones", QJsonArray{1}}}) << true
                                           << "\"zones\" 需要分区名称的列表";
    }
    void refusals()
    {
        QFETCH(QJsonValue, params);
        QFETCH(bool, invalid);
        QFETCH(QString, text);
        Fixture f;
        const RpcResult r = f.call("Paging.Start", params);
        QVERIFY(r.isError());
        QCOMPARE(r.error().code, invalid ? RpcCode::InvalidParams : EngineApi::kRefused);
        QVERIFY2(r.error().message.endsWith(text), qPrintable(r.error().message));
        QVERIFY(!f.core->paging().active());
        QVERIFY(!f.core->engine().zonesTaken());
        QCOMPARE(f.call("Paging.Stop").value()["text"].toString(), PagingService::kNotOn);
    }

    void theEmergencyCutsInAndNoneStartsWhileItLasts()
    {
        Fixture f;
        MicFeeder mic("mic", MicFeeder::Kind::Tone);
        QVERIFY(mic.start());
        QVERIFY(!f.call("Paging.Start", QJsonObject{{"zones", QJsonArray{"操场"}}}).isError());
        QCOMPARE(f.call("Paging.Start").error().message, PagingService::kAlreadyOn);
        f.clock.setTime(QTime(8, 0, 20));
        QVERIFY(!f.call("Emergency.Start", QJsonObject{}).isError());
        QVERIFY(f.core->emergency().active());
        QVERIFY(!f.core->paging().active());
        QCOMPARE(f.told_("Paging.OnChanged").last()["active"].toBool(), false);
        QVERIFY(f.core->engine().held()); // the bells stay with the emergency
        QVERIFY(!f.core->engine().zonesTaken());
        QCOMPARE(f.call("Paging.Start").error().message, PagingService::kEmergencyRefused);
        const QList<RingRecord> recs = f.records();
        QCOMPARE(recs[0].name, PagingService::kName);
        QCOMPARE(recs[0].result, BellStatus::Interrupted);
        QCOMPARE(recs[0].reason, "由操作员发起，持续 00:20，" + PagingService::kCutByEmergency);
        f.core->emergency().stop(EmergencyBroadcast::Origin::Command);
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return runWithRealSound<PagingEngineTest>(argc, argv);
}
#include "tst_pagingengine.moc"
