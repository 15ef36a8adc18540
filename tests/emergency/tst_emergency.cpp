// The emergency broadcast on the fake clock: bells held back and recorded,
// the day going on after it, its one record (also after a kill), the
// alarm tone as fallback, a stalled zone, and the command line's side.
#include "alarmtone.h"
#include "emergencybroadcast.h"
#include "emergencyclient.h"
#include "emergencycommand.h"
#include "ringfixture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <unistd.h>
#include <map>
#include <memory>

namespace {

// A player whose start fails with something other than an AudioError.
struct ThrowingPlayer : TimedPlayer {
    using TimedPlayer::TimedPlayer;
    void play() override { throw std::runtime_error("decoder crashed"); }
};

struct EmergencyFixture : RingFixture {
    ZoneStore zoneStore{store};
    std::map<QString, TimedPlayer *> players; // by output; owned by the broadcast
    QSet<QString> slow, down, throwing;       // outputs whose players stall, fail or throw
    QString bellsDevice = "pulse/bells", broadcastDevice = "pulse/bcast";
    int paused = 0;
    EmergencyBroadcast e{paths, clock, [this](const QString &device) {
                             auto p = throwing.contains(device) ? std::make_unique<ThrowingPlayer>(&clock)
                                                                : std::make_unique<TimedPlayer>(&clock);
                             p->slowOpen = slow.contains(device);
                             p->outputDown = down.contains(device);
                             players[device] = p.get();
                             return p;
                         }};
    EmergencyFixture()
    {
        e.setHistory(&history);
        e.zones = [this] { return zoneStore.list(); };
        e.bellsOutput = [this] { return bellsDevice; };
        e.broadcastOutput = [this] { return broadcastDevice; };
        e.holdBells = [this](const QString &r) { engine.holdBells(r); };
        e.releaseBells = [this] { engine.releaseBells(); };
        e.pauseBroadcast = [this] { ++paused; };
        e.stopTest = [this] {
            if (board.testing())
                test.ButtonCheckClick();
        };
        test.refusal = [this] { return e.active() ? EmergencyBroadcast::kTestRefused : QString(); };
        e.ensureAlarmTone(); // as at the program's start
    }
    // Starts and lets the players' opens report (their queued signals,
    // and what those post in turn), without running any timer.
    QString start(EmergencyBroadcast::Request r = {}, const QString &by = {})
    {
        const QString refused = e.start(r, by);
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents();
        return refused;
    }
    QString lastReason() { return records().isEmpty() ? QString() : history.day(clock.now().date()).last().reason; }
};

} // namespace

class EmergencyTest : public QObject {
    Q_OBJECT
private slots:
    void bellsAreHeldBackAndTheDayGoesOnAfterIt()
    {
        EmergencyFixture f;
        f.zoneStore.add({0, "教学楼A", "pulse/a", 0});
        f.zoneStore.add({0, "操场", "pulse/b", 0});
        f.add(f.at(8, 0, 2), "cut");
        f.add(f.at(8, 0, 5), "held1");
        f.add(f.at(8, 0, 6), "held2");
        f.add(f.at(8, 0, 9), "after");
        f.tickRange(f.at(8, 0, 1), f.at(8, 0, 3));
        QVERIFY(f.sounding().isPlaying()); // "cut" sounds

        f.clock.setTime(QTime(8, 0, 3, 500));
        QVERIFY(f.start().isEmpty());
        QVERIFY(f.e.active());
        QVERIFY(!f.sounding().isPlaying()); // the bell is cut at once
        QCOMPARE(f.paused, 1);
        for (const char *out : {"pulse/a", "pulse/b", "pulse/bells", "pulse/bcast"}) {
            QVERIFY(f.players.at(out)->isPlaying());
            QCOMPARE(f.players.at(out)->played, QStringList{alarmtone::kFileName});
            QCOMPARE(f.players.at(out)->volume(), 100);
        }
        // Test playback is refused with a message while it lasts.
        f.engine.ButtonPlayClick(); // stopped mode, where a test may run
        f.test.ButtonCheckClick();
        QVERIFY(!f.board.testing());
        QCOMPARE(f.messages.shown.last().text, EmergencyBroadcast::kTestRefused);
        f.engine.ButtonPlayClick();

        f.tickRange(f.at(8, 0, 4), f.at(8, 0, 7));
        // The alarm loops: its 8 s file starts again at its end.
        f.clock.setTime(QTime(8, 0, 12));
        f.players.at("pulse/a")->advance();
        QCOMPARE(f.players.at("pulse/a")->playCount, 2);
        f.clock.setTime(QTime(8, 0, 7, 500));
        QVERIFY(f.e.stop(EmergencyBroadcast::Origin::Command));
        QVERIFY(!f.players.at("pulse/a")->isPlaying());
        QCOMPARE(f.paused, 1); // the broadcast stays paused

        f.tickRange(f.at(8, 0, 8), f.at(8, 0, 10));
        // The next bell rings at its second; the held ones never ring late.
        QCOMPARE(f.played(), (QStringList{"cut.mp3", "after.mp3"}));
        QCOMPARE(f.player.playTimes.last(), QDateTime(QDate(2026, 12, 7), QTime(8, 0, 9, 2)));
        const QStringList recs = f.records();
        QCOMPARE(recs.size(), 5);
        QCOMPARE(recs[2], "08:00:05 held1 错过 - " + EmergencyBroadcast::kHeldReason);
        QCOMPARE(recs[3], "08:00:06 held2 错过 - " + EmergencyBroadcast::kHeldReason);
        QCOMPARE(f.status(2), QStringLiteral("错过"));
        QCOMPARE(recs[1], QStringLiteral("08:00:03 紧急广播 完成 0 由主窗口按钮开始；分区：操场、教学楼A；"
                                         "铃声输出、广播输出；08:00:07 由命令行结束，持续 00:04"));
    }

    void aStartFromAfarNamesWhoAskedInsteadOfTheOrigin()
    {
        EmergencyFixture f;
        QVERIFY(f.start({QString(), {}, EmergencyBroadcast::Origin::Command}, "远程控制 王老师（10.0.0.7）").isEmpty());
        QCOMPARE(f.lastReason(), QStringLiteral("由远程控制 王老师（10.0.0.7）开始；铃声输出、广播输出；")
                                     + EmergencyBroadcast::kNotEnded);
    }

    void itsRecordSaysNotEndedUntilItEndsAndARestartIsSilent()
    {
        EmergencyFixture f;
        QVERIFY(f.start({QString(), {}, EmergencyBroadcast::Origin::Command}).isEmpty());
        // Read back from the file, as after a kill: written at once.
        {
            BellStore other;
            QVERIFY(other.open(f.home.db()).isEmpty());
            const QList<RingRecord> r = RingHistory(other).day(f.clock.now().date());
            QCOMPARE(r.size(), 1);
            QCOMPARE(r[0].result, BellStatus::Done);
            QCOMPARE(r[0].reason, QStringLiteral("由命令行开始；铃声输出、广播输出；") + EmergencyBroadcast::kNotEnded);
        }
        QCOMPARE(f.players.size(), size_t(2)); // no zones: 铃声输出 and 广播输出
        QVERIFY(f.players.at("pulse/bells")->isPlaying() && f.players.at("pulse/bcast")->isPlaying());
        // A new program on the same store starts nothing by itself.
        EmergencyBroadcast restarted(f.paths, f.clock, [](const QString &) { return nullptr; });
        QVERIFY(!restarted.active());
    }

    void whatCannotStartIsRefusedAndABrokenFileFallsBackToTheTone_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("zones");
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<QString>("note");
        QTest::newRow("missing file") << "/nonexistent/疏散.mp3" << QStringList{}
                                      << "找不到紧急广播的声音文件：/nonexistent/疏散.mp3" << "";
        QTest::newRow("unknown zone") << "" << QStringList{"教学楼A", "宿舍"}
                                      << "没有名为「宿舍」的分区。现有分区：教学楼A。" << "";
        QTest::newRow("not a sound") << "notes.txt" << QStringList{} << ""
                                     << "紧急广播改放内置警报声。原因：不是可以播放的音频文件";
        QTest::newRow("broken tone") << "BROKEN" << QStringList{} << ""
                                     << "警报声文件缺失或损坏，已重新生成内置警报声";
    }
    void whatCannotStartIsRefusedAndABrokenFileFallsBackToTheTone()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, zones);
        QFETCH(QString, refusal);
        QFETCH(QString, note);
        EmergencyFixture f;
        f.zoneStore.add({0, "教学楼A", "pulse/a", 0});
        f.home.touchMusic("notes.txt", "just text, no sound");
        if (file == "BROKEN") {
            QVERIFY(f.e.ensureAlarmTone());
            f.home.touchMusic(alarmtone::kFileName, "RIFF but nothing more");
            file.clear();
        }
        QSignalSpy settled(&f.e, &EmergencyBroadcast::settled);
        QCOMPARE(f.start({file, zones, EmergencyBroadcast::Origin::Command}), refusal);
        QCOMPARE(f.e.active(), refusal.isEmpty());
        if (!refusal.isEmpty()) {
            QVERIFY(f.records().isEmpty());
            return;
        }
        QVERIFY(alarmtone::usable(f.e.alarmTonePath()));
        QCOMPARE(f.players.at("pulse/a")->played, QStringList{alarmtone::kFileName});
        QVERIFY2(f.lastReason().contains(note), qPrintable(f.lastReason()));
        // Whoever started it is told when the file asked for did not play
        // and why (the command prints it); a rewritten tone is only recorded.
        QCOMPARE(settled.size(), 1);
        const QString told = settled.first().at(1).toString();
        QVERIFY2(file.isEmpty() ? told.isEmpty() : told.contains(note) && told.contains("notes.txt"), qPrintable(told));
    }

    void aMusicFolderThatCannotBeWrittenStillGivesTheTone()
    {
        EmergencyFixture f;
        QVERIFY(QDir(f.home.music()).removeRecursively());
        QFile blocker(f.home.path() + "音乐"); // a file where the folder belongs
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QVERIFY(f.start().isEmpty());
        QVERIFY(f.players.at("pulse/bells")->isPlaying());
        QVERIFY(!f.e.alarmTonePath().startsWith(f.home.path()));
        QVERIFY(alarmtone::usable(f.e.alarmTonePath()));
    }

    void aStalledZoneDoesNotHoldTheOthersAndNoneHeardIsAFailure()
    {
        EmergencyFixture f;
        f.zoneStore.add({0, "甲", "pulse/jia", 0});
        f.zoneStore.add({0, "乙", "pulse/yi", 0});
        f.slow << "pulse/yi";
        QSignalSpy settled(&f.e, &EmergencyBroadcast::settled);
        QVERIFY(f.start().isEmpty());
        QVERIFY(f.players.at("pulse/jia")->isPlaying());
        QCOMPARE(f.e.sounding(), (QStringList{"甲", "铃声输出", "广播输出"}));
        QVERIFY(settled.isEmpty()); // 乙 is given its time
        QVERIFY(settled.wait(EmergencyBroadcast::kSettleMs + 2000));
        QCOMPARE(settled.first().at(0).toBool(), true);
        QCOMPARE(settled.first().at(1).toString(), QStringLiteral("以下分区没有播出：乙（声音输出没有响应）"));
        QCOMPARE(f.history.day(f.clock.now().date()).last().result, BellStatus::PartlyRung);
        // 乙 comes back late: it joins in.
        f.players.at("pulse/yi")->slowOpen = false;
        f.players.at("pulse/yi")->finishOpen();
        QVERIFY(f.players.at("pulse/yi")->isPlaying());
        f.e.stop(EmergencyBroadcast::Origin::Button);

        // Heard nowhere: it fails, says why, and the bells are free again.
        f.slow.clear();
        f.players.clear();
        f.down << "pulse/jia" << "pulse/yi";
        EmergencyFixture g;
        g.zoneStore.add({0, "甲", "pulse/jia", 0});
        g.down << "pulse/jia" << "pulse/bells" << "pulse/bcast";
        QSignalSpy failed(&g.e, &EmergencyBroadcast::settled);
        QVERIFY(g.start().isEmpty());
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.first().at(0).toBool(), false);
        QVERIFY(failed.first().at(1).toString().startsWith(QStringLiteral("紧急广播没有播出：甲（")));
        QVERIFY(!g.e.active());
        QVERIFY(!g.engine.held());
        QCOMPARE(g.history.day(g.clock.now().date()).last().result, BellStatus::Failed);
    }

    // Unless zones are named it sounds in every zone and on 铃声输出 and
    // 广播输出, each output once, whoever shares it; named zones narrow it.
    void eachOutputSoundsOnce_data()
    {
        QTest::addColumn<QStringList>("zones");   // "name=output"
        QTest::addColumn<QString>("bells");
        QTest::addColumn<QString>("broadcast");
        QTest::addColumn<QStringList>("named");
        QTest::addColumn<QStringList>("sounding");
        QTest::addColumn<QString>("where");       // as the record says it
        QTest::newRow("no zones") << QStringList{} << "pulse/bells" << "pulse/bcast" << QStringList{}
                                  << QStringList{"铃声输出", "广播输出"} << "铃声输出、广播输出";
        QTest::newRow("both on the default output")
            << QStringList{} << "" << "" << QStringList{} << QStringList{"铃声输出、广播输出"} << "铃声输出、广播输出";
        QTest::newRow("zones, bells and broadcast apart")
            << QStringList{"甲=pulse/a", "乙=pulse/b"} << "pulse/bells" << "pulse/bcast" << QStringList{}
            << QStringList{"乙", "甲", "铃声输出", "广播输出"} << "分区：乙、甲；铃声输出、广播输出";
        QTest::newRow("zones and the bells share a hall")
            << QStringList{"甲=pulse/hall", "乙=pulse/hall"} << "pulse/hall" << "pulse/bcast" << QStringList{}
            << QStringList{"乙、甲、铃声输出", "广播输出"} << "分区：乙、甲；铃声输出、广播输出";
        QTest::newRow("a zone on the broadcast's output")
            << QStringList{"甲=pulse/a", "乙=pulse/bcast"} << "pulse/bells" << "pulse/bcast" << QStringList{}
            << QStringList{"乙、广播输出", "甲", "铃声输出"} << "分区：乙、甲；铃声输出、广播输出";
        QTest::newRow("named zones only")
            << QStringList{"甲=pulse/a", "乙=pulse/b"} << "pulse/bells" << "pulse/bcast" << QStringList{"甲"}
            << QStringList{"甲"} << "分区：甲";
        QTest::newRow("named zones sharing one output")
            << QStringList{"甲=pulse/hall", "乙=pulse/hall", "丙=pulse/c"} << "pulse/hall" << "" << QStringList{"甲", "乙"}
            << QStringList{"甲、乙"} << "分区：甲、乙";
    }
    void eachOutputSoundsOnce()
    {
        QFETCH(QStringList, zones);
        QFETCH(QString, bells);
        QFETCH(QString, broadcast);
        QFETCH(QStringList, named);
        QFETCH(QStringList, sounding);
        QFETCH(QString, where);
        EmergencyFixture f;
        for (const QString &z : zones)
            f.zoneStore.add({0, z.section(u'=', 0, 0), z.section(u'=', 1), 0});
        f.bellsDevice = bells;
        f.broadcastDevice = broadcast;
        QSignalSpy settled(&f.e, &EmergencyBroadcast::settled);
        QVERIFY(f.start({QString(), named, EmergencyBroadcast::Origin::Command}).isEmpty());
        QCOMPARE(f.players.size(), size_t(sounding.size())); // one player per output
        for (const auto &[device, p] : f.players) {
            QVERIFY2(p->isPlaying(), qPrintable(device));
            QCOMPARE(p->playCount, 1);
        }
        QCOMPARE(f.e.sounding(), sounding);
        QCOMPARE(settled.size(), 1);
        QCOMPARE(settled.first().at(1).toString(), QString()); // nothing silent
        QCOMPARE(f.lastReason(), "由命令行开始；" + where + "；" + EmergencyBroadcast::kNotEnded);
    }

    // Whatever a player throws from its signal stays here: that output is
    // silent, logged, and the others sound.
    void aPlayerThatThrowsSilencesOnlyItsOutput()
    {
        EmergencyFixture f;
        f.throwing << "pulse/bcast";
        QSignalSpy settled(&f.e, &EmergencyBroadcast::settled);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("广播输出.*start failed.*decoder crashed"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("alarm silent in 广播输出"));
        QVERIFY(f.start().isEmpty());
        QCOMPARE(f.e.sounding(), QStringList{"铃声输出"});
        QCOMPARE(settled.size(), 1);
        QVERIFY(settled.first().at(1).toString().contains("广播输出（decoder crashed）"));
    }

    // A silent 铃声输出 is named as what it is: no zone.
    void aSilentOutputIsNamed()
    {
        EmergencyFixture f;
        f.zoneStore.add({0, "甲", "pulse/a", 0});
        f.down << "pulse/bells";
        QSignalSpy settled(&f.e, &EmergencyBroadcast::settled);
        QVERIFY(f.start().isEmpty());
        QCOMPARE(settled.size(), 1);
        QCOMPARE(settled.first().at(0).toBool(), true);
        QVERIFY2(settled.first().at(1).toString().startsWith(QStringLiteral("以下分区或声音输出没有播出：铃声输出（")),
                 qPrintable(settled.first().at(1).toString()));
        QCOMPARE(f.e.sounding(), (QStringList{"甲", "广播输出"}));
        f.e.stop(EmergencyBroadcast::Origin::Command);
    }

    void theCommandLineSaysWhatHappenedByItsExitCode_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("standalone"); // daling-emergency
        QTest::addColumn<QString>("method");  // what reaches the program
        QTest::addColumn<QString>("params");  // its params without "by", compact JSON
        QTest::addColumn<QString>("answer");  // "-": no program answers, "-…": not reached, and why
        QTest::addColumn<int>("rc");
        QTest::addColumn<QString>("stderrText");
        const auto result = [](const char *text) {
            return QStringLiteral("{\"jsonrpc\":\"2.0\",\"id\":1,\"result\":{\"text\":\"%1\"}}").arg(QString::fromUtf8(text));
        };
        const auto error = [](int code, const char *message) {
            return QStringLiteral("{\"jsonrpc\":\"2.0\",\"id\":1,\"error\":{\"code\":%1,\"message\":\"%2\"}}")
                .arg(code).arg(QString::fromUtf8(message));
        };
        QTest::newRow("started") << QStringList{"--emergency"} << false << "Emergency.Start" << "{}" << result("")
                                 << 0 << "";
        QTest::newRow("file and zones")
            << QStringList{"--emergency", "/srv/疏散 \"通知\".mp3", "--zones", "教学楼A, 操场"} << false
            << "Emergency.Start" << "{\"file\":\"/srv/疏散 \\\"通知\\\".mp3\",\"zones\":[\"教学楼A\",\"操场\"]}"
            << error(1, "没有名为「操场」的分区。") << 1 << "没有名为「操场」的分区。";
        QTest::newRow("bare name of the music folder")
            << QStringList{"--emergency", "疏散.mp3"} << false << "Emergency.Start" << "{\"file\":\"疏散.mp3\"}"
            << result("以下分区没有播出：乙") << 0 << "以下分区没有播出：乙";
        QTest::newRow("not running") << QStringList{"--emergency"} << false << "Emergency.Start" << "{}" << "-" << 1
                                     << "铃声系统没有运行（或没有回答），紧急广播没有开始。";
        QTest::newRow("not believed") << QStringList{"--emergency"} << false << "Emergency.Start" << "{}"
                                      << "-命令通道 /tmp/x 不对" << 1 << "命令通道 /tmp/x 不对，紧急广播没有开始。";
        QTest::newRow("stop not believed") << QStringList{"--emergency-stop"} << false << "Emergency.Stop" << ""
                                           << "-命令通道 /tmp/x 不对" << 1 << "命令通道 /tmp/x 不对，紧急广播没有结束。";
        QTest::newRow("stop") << QStringList{"--emergency-stop"} << false << "Emergency.Stop" << "" << result("")
                              << 0 << "";
        QTest::newRow("stop, none ran") << QStringList{"--emergency-stop"} << false << "Emergency.Stop" << ""
                                        << result("现在没有紧急广播。") << 0 << "现在没有紧急广播。";
        QTest::newRow("engine without the method") << QStringList{"--emergency"} << false << "Emergency.Start" << "{}"
                                                   << error(-32601, "没有这个命令：Emergency.Start") << 1
                                                   << "运行中的铃声系统不支持紧急广播命令，请先更新它。";
        QTest::newRow("engine of the line protocol") << QStringList{"--emergency"} << false << "Emergency.Start"
                                                     << "{}" << "error unknown command" << 1
                                                     << "运行中的铃声系统不支持紧急广播命令，请先更新它。";
        QTest::newRow("unreadable answer") << QStringList{"--emergency"} << false << "Emergency.Start" << "{}"
                                           << "{\"jsonrpc\":\"2.0\",\"id\":1}" << 1
                                           << "铃声系统的回答看不懂：{\"jsonrpc\":\"2.0\",\"id\":1}";
        QTest::newRow("bad argument") << QStringList{"--emergency", "--loud"} << false << "" << "" << "-" << 1
                                      << "不认识的参数「--loud」。";
        QTest::newRow("alone, zones") << QStringList{"--zones=操场"} << true << "Emergency.Start" << "{\"zones\":[\"操场\"]}"
                                      << result("") << 0 << "";
        QTest::newRow("alone, stop") << QStringList{"--stop"} << true << "Emergency.Stop" << "" << result("") << 0 << "";
    }
    void theCommandLineSaysWhatHappenedByItsExitCode()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, standalone);
        QFETCH(QString, method);
        QFETCH(QString, params);
        QFETCH(QString, answer);
        QFETCH(int, rc);
        QFETCH(QString, stderrText);
        std::vector<std::string> argv;
        for (const QString &a : args)
            argv.push_back(a.toStdString());
        const auto parsed = emergencyclient::parse(argv, "/nonexistent-cwd", standalone);
        QVERIFY(parsed.wanted);
        std::string sent, err;
        QCOMPARE(emergencyclient::run(parsed, [&](const std::string &l, std::string *why) -> std::optional<std::string> {
                     sent = l;
                     if (!answer.startsWith('-'))
                         return answer.toStdString();
                     *why = answer.mid(1).toStdString();
                     return std::nullopt;
                 }, &err), rc);
        QCOMPARE(QString::fromStdString(err).section(u'\n', 0, 0), stderrText);
        if (method.isEmpty()) {
            QVERIFY(sent.empty());
            return;
        }
        // One JSON-RPC request on one line, saying who asked.
        QVERIFY(sent.find('\n') == std::string::npos);
        const QJsonObject request = QJsonDocument::fromJson(QByteArray::fromStdString(sent)).object();
        QCOMPARE(request.value("jsonrpc").toString(), QStringLiteral("2.0"));
        QCOMPARE(request.value("id").toInt(), emergencyclient::kRequestId);
        QCOMPARE(request.value("method").toString(), method);
        QJsonObject p = request.value("params").toObject();
        if (method == "Emergency.Start") {
            QCOMPARE(p.take("by").toString(), QString::fromStdString(emergencyclient::by()));
            QCOMPARE(QString::fromUtf8(QJsonDocument(p).toJson(QJsonDocument::Compact)), params);
            // What the program reads back is what was asked.
            QString error;
            const auto r = emergencycommand::request(QJsonDocument(p).toJson(), &error);
            QVERIFY(r);
            QCOMPARE(r->file, QString::fromStdString(parsed.file));
            QCOMPARE(r->zones.size(), qsizetype(parsed.zones.size()));
        } else {
            QVERIFY(!request.contains("params"));
        }
    }
};

QTEST_GUILESS_MAIN(EmergencyTest)
#include "tst_emergency.moc"
