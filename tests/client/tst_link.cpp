// EngineLink against a real RpcServer on a private socket that plays the
// engine: it is used only when it serves this data folder, its calls map to
// the API's methods and back, and a lost engine is found again by itself.
#include "enginelink.h"
#include "fakeengine.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

namespace {
template <typename T> struct Answer {
    bool done = false;
    LinkResult<T> result;
    typename EngineLink::Done<T> callback()
    {
        return [this](const LinkResult<T> &r) {
            done = true;
            result = r;
        };
    }
};
} // namespace

class TestLink : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString socket() const { return m_dir.filePath("daling.sock"); }
    QString data() const { return m_dir.filePath("data"); }

private slots:
    void init() { QDir().mkpath(data()); }

    void sameFolder_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("same");
        QTest::newRow("final slash") << "data/" << "data" << true;
        QTest::newRow("dot segments") << "x/../data" << "data" << true;
        QTest::newRow("link") << "link" << "data" << true;
        QTest::newRow("other") << "other" << "data" << false;
        QTest::newRow("prefix only") << "data2" << "data" << false;
    }
    void sameFolder()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, same);
        QDir().mkpath(m_dir.filePath("x"));
        QDir().mkpath(m_dir.filePath("other"));
        QFile::link(data(), m_dir.filePath("link"));
        QCOMPARE(EngineLink::sameFolder(m_dir.filePath(a), m_dir.filePath(b)), same);
    }

    void readyWithTheEngineOfThisFolder()
    {
        FakeEngine engine(socket(), data()); // no final '/', as the API sends it
        QVERIFY(engine.start());
        EngineLink link(data() + "/", socket());
        QSignalSpy ready(&link, &EngineLink::ready);
        link.start();
        QTRY_COMPARE(ready.count(), 1);
        QVERIFY(link.isReady());
        QCOMPARE(link.status().pid, 4242);
        QCOMPARE(link.status().nowSeconds, 8 * 3600 + 5);
        QCOMPARE(link.status().dateText, " 12月7日 周一");
        QVERIFY(link.status().running);
    }

    void anotherFolderIsRefusedAndNamed()
    {
        FakeEngine engine(socket(), "/srv/另一所学校/data");
        QVERIFY(engine.start());
        EngineLink link(data(), socket());
        QSignalSpy refused(&link, &EngineLink::refused);
        QSignalSpy ready(&link, &EngineLink::ready);
        link.start();
        QTRY_COMPARE(refused.count(), 1);
        const QString text = refused.at(0).at(0).toString();
        QCOMPARE(text, "这个铃声引擎服务的是另一个数据文件夹：/srv/另一所学校/data");
        QCOMPARE(link.state(), EngineLink::State::Refused);
        QCOMPARE(link.retryDelayMs(), EngineLink::kMaxRetryMs);
        // A call is not sent to it; it is answered with the same text.
        Answer<LinkDone> reload;
        link.reloadBells(reload.callback());
        QTRY_VERIFY(reload.done);
        QCOMPARE(reload.result.error->text, text);
        QCOMPARE(engine.count("Bells.Reload"), 0);
        // Asked again later, and told once only while nothing changes.
        QTRY_VERIFY_WITH_TIMEOUT(engine.count("Engine.GetStatus") >= 2, 5000);
        QCOMPARE(refused.count(), 1);
        QCOMPARE(ready.count(), 0);
        // Ours takes its place: used at the next try.
        engine.dataFolder = data();
        QTRY_COMPARE_WITH_TIMEOUT(ready.count(), 1, 5000);
    }

    void noEngineYetThenItStarts()
    {
        EngineLink link(data(), socket());
        QSignalSpy ready(&link, &EngineLink::ready);
        QSignalSpy lost(&link, &EngineLink::lost);
        link.start();
        QTRY_COMPARE(link.state(), EngineLink::State::Waiting);
        Answer<EngineDay> bells;
        link.getBells(bells.callback());
        QVERIFY(!bells.done); // never inside the call
        QTRY_VERIFY(bells.done);
        QCOMPARE(bells.result.error->text, EngineLink::kNotReady);
        FakeEngine engine(socket(), data());
        QVERIFY(engine.start());
        QTRY_COMPARE_WITH_TIMEOUT(ready.count(), 1, 5000);
        QCOMPARE(lost.count(), 0); // it was never there
    }

    void lostEngineIsToldOnceAndFoundAgain()
    {
        auto engine = std::make_unique<FakeEngine>(socket(), data());
        QVERIFY(engine->start());
        EngineLink link(data(), socket());
        QSignalSpy ready(&link, &EngineLink::ready);
        QSignalSpy lost(&link, &EngineLink::lost);
        link.start();
        QTRY_COMPARE(ready.count(), 1);
        // A call in flight when the engine goes is answered, not forgotten.
        engine->hold << "Day.GetBells";
        Answer<EngineDay> bells;
        link.getBells(bells.callback());
        QTRY_COMPARE(engine->count("Day.GetBells"), 1);
        engine->stop();
        QTRY_COMPARE(lost.count(), 1);
        QCOMPARE(lost.at(0).at(0).toString(), EngineLink::kLostText);
        QTRY_VERIFY(bells.done);
        QCOMPARE(bells.result.error->text, EngineLink::kLostText);
        // Calls meanwhile say the link is lost.
        Answer<QString> stop;
        link.stopEmergency(stop.callback());
        QTRY_VERIFY(stop.done);
        QCOMPARE(stop.result.error->text, EngineLink::kLostText);
        // Tries keep coming, slower each time, and find the new engine.
        QTRY_VERIFY_WITH_TIMEOUT(link.retryDelayMs() >= 800, 5000);
        QCOMPARE(lost.count(), 1);
        engine = std::make_unique<FakeEngine>(socket(), data());
        QVERIFY(engine->start());
        QTRY_COMPARE_WITH_TIMEOUT(ready.count(), 2, 5000);
        QCOMPARE(link.retryDelayMs(), EngineLink::kFirstRetryMs);
        Answer<EngineDay> again;
        link.getBells(again.callback());
        QTRY_VERIFY(again.done);
        QVERIFY(again.result.ok());
    }

    // Each typed call: the method and params it sends, and what it makes of
    // the answer.
    void typedCalls()
    {
        FakeEngine engine(socket(), data());
        engine.answers["Mode.Set"] = QJsonObject{{"mode", "stopped"}};
        engine.answers["Emergency.Start"] = QJsonObject{{"text", "分区「操场」没有声音。"}};
        engine.answers["Emergency.Stop"] = QJsonObject{{"text", "现在没有紧急广播。"}};
        engine.answers["Day.GetBells"] = QJsonObject{
            {"date", "2026-12-07"}, {"mode", "running"}, {"next", 7},
            {"bells", QJsonArray{QJsonObject{{"id", 7}, {"time", "08:05:00"}, {"name", "上课"}, {"music", "a.mp3"},
                                             {"days", "一二三四五"}, {"duration", "5"}, {"remark", "r"},
                                             {"zones", QJsonArray{"教学楼", "操场"}}, {"status", "等待"},
                                             {"delayMs", QJsonValue()}},
                                 QJsonObject{{"id", 8}, {"time", "25:00:00"}, {"status", "时间无效"},
                                             {"delayMs", 12}}}}};
        QVERIFY(engine.start());
        EngineLink link(data(), socket());
        link.start();
        QTRY_VERIFY(link.isReady());

        Answer<bool> mode;
        link.setMode(false, mode.callback());
        Answer<LinkDone> play, testStop, reload, raise;
        link.testPlay(7, play.callback());
        link.testStop(testStop.callback());
        link.reloadBells(reload.callback());
        link.raiseWindow(raise.callback());
        Answer<QString> em, emStop;
        link.startEmergency({"fire.mp3", {"操场"}, "门卫"}, em.callback());
        link.stopEmergency(emStop.callback());
        Answer<EngineDay> day;
        link.getBells(day.callback());
        Answer<QJsonObject> version;
        link.rpcVersion(version.callback());
        QTRY_VERIFY(version.done);
        QCOMPARE(version.result.value, RpcServer::rpcVersion());
        QTRY_VERIFY(mode.done && play.done && testStop.done && reload.done && raise.done && em.done
                    && emStop.done && day.done);

        QCOMPARE(engine.lastParams("Mode.Set"), QJsonValue(QJsonObject{{"running", false}}));
        QCOMPARE(mode.result.value, false);
        QCOMPARE(engine.lastParams("Test.Play"), QJsonValue(QJsonObject{{"id", 7}}));
        QCOMPARE(engine.lastParams("Emergency.Start"),
                 QJsonValue(QJsonObject{{"file", "fire.mp3"}, {"zones", QJsonArray{"操场"}}, {"by", "门卫"}}));
        QCOMPARE(em.result.value, "分区「操场」没有声音。");
        QCOMPARE(emStop.result.value, "现在没有紧急广播。");
        for (const char *m : {"Test.Stop", "Bells.Reload", "Window.Raise"})
            QCOMPARE(engine.count(m), 1);

        const EngineDay &d = day.result.value;
        QCOMPARE(d.date, QDate(2026, 12, 7));
        QVERIFY(d.running);
        QCOMPARE(d.next.value_or(-1), 7);
        QCOMPARE(d.bells.size(), 2);
        QCOMPARE(d.bells[0].seconds, 8 * 3600 + 5 * 60);
        QCOMPARE(d.bells[0].zones, QStringList({"教学楼", "操场"}));
        QCOMPARE(d.bells[0].status, "等待");
        QVERIFY(!d.bells[0].delayMs);
        QCOMPARE(d.bells[1].seconds, -1);
        QCOMPARE(d.bells[1].delayMs.value_or(-1), 12);

        // An emergency with nothing given sends no empty fields.
        Answer<QString> bare;
        link.startEmergency({}, bare.callback());
        QTRY_VERIFY(bare.done);
        QCOMPARE(engine.lastParams("Emergency.Start"), QJsonValue(QJsonObject{}));
    }

    void errorsCarryTheEnginesText_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("refused") << 1 << "正在测试铃声，不能切换打铃状态。请先按“停止测试”。";
        QTest::newRow("no window") << 2 << "铃声系统以服务运行，没有窗口。";
        QTest::newRow("bad params") << int(RpcCode::InvalidParams) << "命令的参数不对：id";
    }
    void errorsCarryTheEnginesText()
    {
        QFETCH(int, code);
        QFETCH(QString, message);
        FakeEngine engine(socket(), data());
        engine.answers["Mode.Set"] = RpcError{code, message};
        QVERIFY(engine.start());
        EngineLink link(data(), socket());
        link.start();
        QTRY_VERIFY(link.isReady());
        Answer<bool> mode;
        link.setMode(true, mode.callback());
        QTRY_VERIFY(mode.done);
        QVERIFY(!mode.result.ok());
        QCOMPARE(mode.result.error->code, code);
        QCOMPARE(mode.result.error->text, message);
    }

    // An engine that does not answer is told like a lost one, and asked
    // again on a new connection.
    void callWithoutAnswerEndsTheConnection()
    {
        FakeEngine engine(socket(), data());
        engine.hold << "X.Slow";
        QVERIFY(engine.start());
        EngineLink link(data(), socket());
        QSignalSpy ready(&link, &EngineLink::ready);
        QSignalSpy lost(&link, &EngineLink::lost);
        link.start();
        QTRY_COMPARE(ready.count(), 1);
        Answer<QJsonValue> slow;
        link.call("X.Slow", QJsonValue(), slow.callback(), 200);
        QTRY_VERIFY(slow.done);
        QCOMPARE(slow.result.error->code, RpcCode::NoAnswer);
        QTRY_COMPARE(lost.count(), 1);
        QCOMPARE(link.stateText(), EngineLink::kLostText);
        QTRY_COMPARE_WITH_TIMEOUT(ready.count(), 2, 5000);
        QCOMPARE(link.stateText(), QString());
        // The late answer goes nowhere: the callback ran once.
        slow.done = false;
        engine.held["X.Slow"].first().send(QJsonObject{});
        QTest::qWait(50);
        QVERIFY(!slow.done);
    }

    void notificationsAsSignals()
    {
        FakeEngine engine(socket(), data());
        QVERIFY(engine.start());
        EngineLink link(data(), socket());
        link.start();
        QTRY_VERIFY(link.isReady());
        QSignalSpy bell(&link, &EngineLink::bellStatus);
        QSignalSpy day(&link, &EngineLink::dayChanged);
        QSignalSpy mode(&link, &EngineLink::modeChanged);
        QSignalSpy emergency(&link, &EngineLink::emergencyChanged);
        QSignalSpy bands(&link, &EngineLink::bandsChanged);
        QSignalSpy test(&link, &EngineLink::testChanged);
        QSignalSpy playback(&link, &EngineLink::playbackChanged);
        engine.server->notify("Bell.OnStatus", QJsonObject{{"id", 3}, {"time", "08:05:00"}, {"status", "播放"},
                                                           {"delayMs", 40}, {"zones", QJsonArray{"操场"}}});
        engine.server->notify("Day.OnChanged", QJsonObject{{"date", "2026-12-08"}, {"mode", "stopped"}});
        engine.server->notify("Mode.OnChanged", QJsonObject{{"mode", "running"}});
        engine.server->notify("Emergency.OnChanged", QJsonObject{{"active", true}});
        engine.server->notify("Bands.OnChanged",
                              QJsonObject{{"bands", QJsonArray{QJsonObject{{"kind", "store"}, {"text", "库坏了"}},
                                                               QJsonObject{{"kind", "x"}, {"text", ""}}}}});
        engine.server->notify("Test.OnChanged", QJsonObject{{"testing", true}});
        engine.server->notify("Playback.OnChanged", QJsonObject{{"id", QJsonValue()}, {"music", ""}});
        engine.server->notify("Something.New", QJsonObject{});
        QTRY_COMPARE(playback.count(), 1);

        const auto b = bell.at(0).at(0).value<EngineBellStatus>();
        QCOMPARE(b.id, 3);
        QCOMPARE(b.seconds, 8 * 3600 + 5 * 60);
        QCOMPARE(b.status, "播放");
        QCOMPARE(b.delayMs.value_or(-1), 40);
        QCOMPARE(b.zones, QStringList{"操场"});
        QCOMPARE(day.at(0).at(0).toDate(), QDate(2026, 12, 8));
        QCOMPARE(day.at(0).at(1).toBool(), false);
        QCOMPARE(mode.at(0).at(0).toBool(), true);
        QCOMPARE(emergency.at(0).at(0).toBool(), true);
        QCOMPARE(bands.at(0).at(0).value<QList<EngineBand>>(), (QList<EngineBand>{{"store", "库坏了"}}));
        QCOMPARE(test.at(0).at(0).toBool(), true);
        QVERIFY(!playback.at(0).at(0).value<EnginePlaying>().active());
        // The link's status follows them.
        QVERIFY(link.status().emergency);
        QVERIFY(link.status().testing);
        QCOMPARE(link.status().bands.size(), 1);
    }

    void stopEndsTriesAndAnswersCalls()
    {
        FakeEngine engine(socket(), data());
        engine.hold << "Day.GetBells";
        QVERIFY(engine.start());
        EngineLink link(data(), socket());
        link.start();
        QTRY_VERIFY(link.isReady());
        Answer<EngineDay> bells;
        link.getBells(bells.callback());
        QTRY_COMPARE(engine.count("Day.GetBells"), 1);
        link.stop();
        QTRY_VERIFY(bells.done);
        QVERIFY(!bells.result.ok());
        QCOMPARE(link.state(), EngineLink::State::Idle);
        const int asked = engine.count("Engine.GetStatus");
        QTest::qWait(300);
        QCOMPARE(engine.count("Engine.GetStatus"), asked);
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
