// The whole program with real sound: two zones on null sinks of a private
// PulseAudio server, the broadcast and the bells on the default sink (where
// the alarm sounds too, over the paused broadcast; tst_outputs tells the
// outputs apart), and `daling
// --emergency` / `--emergency-stop` run as their own processes, which find
// the program's channel (in a private runtime folder of its own) through the
// process that holds the data folder's lock. Bounds are loose (both
// cores may be busy); the figures belong to bench/emergency.
#include "audiotestutil.h"
#include "emergencybroadcast.h"
#include "engineapi.h"
#include "inprocessengine.h"
#include "enginefinder.h"
#include "fakes.h"
#include "formlinshiguangbo.h"
#include "instance.h"
#include "mpvplayer.h"
#include "onsetrecorder.h"
#include "ringhistory.h"
#include "tformmain.h"

#include <QProcess>
#include <QTest>
#include <unistd.h>

class WholeProgramTest : public QObject {
    Q_OBJECT
    PrivatePulse m_pulse;
    QString m_server;

    static int64_t ns(const QDateTime &t) { return t.toMSecsSinceEpoch() * 1'000'000; }
    static std::optional<int64_t> firstSoundAfter(OnsetRecorder &rec, int64_t t0)
    {
        for (const auto &s : rec.sounds())
            if (s.startNs >= t0)
                return s.startNs;
        return std::nullopt;
    }
    static bool soundBetween(OnsetRecorder &rec, int64_t from, int64_t to)
    {
        for (const auto &s : rec.sounds())
            if (s.endNs > from && s.startNs < to)
                return true;
        return false;
    }
    // Runs the program (placed in the home whose data folder the engine
    // locks) as a command; the event loop serves it meanwhile.
    static int command(const QString &program, const QStringList &args, QString *err)
    {
        QProcess p;
        p.start(program, args);
        if (!QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, 20000))
            return -1;
        *err = QString::fromLocal8Bit(p.readAllStandardError());
        return p.exitCode();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_pulse.start(QStringLiteral("dflt")));
        m_server = QString::fromLocal8Bit(qgetenv("PULSE_SERVER"));
        for (const char *sink : {"zone_a", "zone_b"})
            QVERIFY(!runOutput("pactl", {"--server=" + m_server, "load-module", "module-null-sink",
                                         QStringLiteral("sink_name=") + sink}).isEmpty());
        qunsetenv("PULSE_SINK");
        runOutput("pactl", {"--server=" + m_server, "set-default-sink", "dflt"});
    }

    void theAlarmCutsInEverywhereHoldsTheBellAndTheDayGoesOn()
    {
        TempHome home;
        QTemporaryDir runtime;
        QVERIFY(!makeTone(home.music() + "bcast.wav", 30.0, 440).isEmpty());
        QVERIFY(!makeTone(home.music() + "bell.wav", 1.0).isEmpty());
        // The recorders first: each takes a while to reach a steady pace.
        std::vector<std::unique_ptr<OnsetRecorder>> recs;
        for (const char *sink : {"zone_a", "zone_b", "dflt"}) {
            OnsetRecorder::Options o;
            o.device = std::string(sink) + ".monitor";
            recs.push_back(std::make_unique<OnsetRecorder>(o));
            std::string error;
            QVERIFY2(recs.back()->start(&error), error.c_str());
        }

        // The emergency comes 6 s from now (the set-up takes a while under the
        // sanitizers), a bell 2 s after it, the next 4 s later.
        const QDateTime now = QDateTime::currentDateTime();
        const QDateTime trigger = now.addSecs(6).addMSecs(500 - now.time().msec());
        const QDateTime held(trigger.date(), QTime(trigger.time().hour(), trigger.time().minute(), trigger.time().second()).addSecs(2));
        const QDateTime next = held.addSecs(4);
        {
            BellStore store;
            QVERIFY(store.open(home.db()).isEmpty());
            ZoneStore zones(store);
            const QList<qint64> ids{zones.add({0, "甲", "pulse/zone_a", 0}), zones.add({0, "乙", "pulse/zone_b", 0})};
            for (const auto &[at, name] : {std::pair{held, "held"}, std::pair{next, "next"}})
                store.insert({0, at.time().msecsSinceStartOfDay() / 1000, name, "bell.wav", "日一二三四五六", "1", "", ids});
        }
        SystemClock clock;
        FakeMessages messages;
        FakeFileDialogs dialogs;
        MainContext c;
        c.paths = AppPaths(home.path());
        c.clock = &clock;
        c.messages = &messages;
        c.dialogs = &dialogs;
        c.makePlayer = [](const QString &device) {
            return std::make_unique<MpvPlayer>(MpvPlayer::Output::System, device);
        };
        c.autostartFolder = home.path() + "autostart";
        Instance instance(home.path() + "data", runtime.filePath("daling.sock"));
        QCOMPARE(instance.claim(), Instance::Claim::First);
        // The window's engine in this process, on the channel of the folder's
        // lock, as dalingd serves it; the window is its client.
        c.makeHost = [&instance](const MainContext &ctx) -> std::unique_ptr<EngineHost> {
            return std::make_unique<InProcessEngine>(ctx, instance.server(), instance.socketPath());
        };
        TFormMain form(c);
        form.show();
        const QString daling = home.place(QStringLiteral(DALING_BIN));
        QVERIFY(!daling.isEmpty());
        // The broadcast plays on the default sink.
        dialogs.openManyAnswers = {{home.music() + "bcast.wav"}};
        form.adhoc().playlist().addFiles();
        form.adhoc().playlist().select(0);
        form.adhoc().adhocPlayer().ButtonPlayClick();
        QVERIFY(recs[2]->waitOnset(OnsetRecorder::wallNs() - 2'000'000'000, 5000));

        QVERIFY2(QDateTime::currentDateTime() < trigger, "the set-up took too long");
        QTest::qWait(int(QDateTime::currentDateTime().msecsTo(trigger)));
        const int64_t sent = OnsetRecorder::wallNs();
        QString err;
        QCOMPARE(command(daling, {"--emergency"}, &err), 0);
        const int64_t answered = OnsetRecorder::wallNs();
        for (int zone : {0, 1}) {
            const auto onset = recs[zone]->waitOnset(sent, 3000);
            QVERIFY2(onset, zone ? "zone 乙 silent" : "zone 甲 silent");
            qInfo("zone %d: alarm heard %.1f ms after the command started (answered after %.1f ms)", zone,
                  (*onset - sent) / 1e6, (answered - sent) / 1e6);
            QVERIFY(*onset - sent < 1'500'000'000); // loose: a busy machine starts a process slowly
        }

        QTest::qWait(int(QDateTime::currentDateTime().msecsTo(held.addSecs(2))));
        QCOMPARE(command(daling, {"--emergency-stop"}, &err), 0);
        const int64_t stopped = OnsetRecorder::wallNs();
        QTest::qWait(int(QDateTime::currentDateTime().msecsTo(next.addMSecs(1500))));
        for (auto &r : recs)
            r->waitQuiet(100, 3000);

        // The broadcast was paused under the alarm and stays paused after it.
        QVERIFY(!soundBetween(*recs[2], stopped + 300'000'000, ns(next) - 50'000'000));
        QCOMPARE(form.adhoc().adhocPlayer().pauseCaption(), AdhocPlayer::kContinue);
        for (int zone : {0, 1}) {
            // Quiet from the stop until the next bell, which rings at its second.
            QVERIFY(!soundBetween(*recs[zone], stopped + 300'000'000, ns(next) - 50'000'000));
            const auto bell = firstSoundAfter(*recs[zone], ns(next) - 50'000'000);
            QVERIFY(bell);
            qInfo("zone %d: the next bell heard %.1f ms after its second", zone, (*bell - ns(next)) / 1e6);
            QVERIFY(*bell - ns(next) < 500'000'000);
        }
        form.history().flush();
        QStringList got;
        for (const RingRecord &r : form.history().day(held.date()))
            if (r.time >= trigger.time().msecsSinceStartOfDay() / 1000)
                got << r.name + " " + bellstatus::text(r.result) + " " + r.reason.section(u'；', 0, 0);
        qInfo() << got;
        // The command names its user (its "by") in the record.
        const QString user = QString::fromStdString(enginefinder::userName(::geteuid()));
        QCOMPARE(got, (QStringList{"紧急广播 完成 由命令行（" + user + "）开始", "held 错过 " + EmergencyBroadcast::kHeldReason,
                                   "next 完成 "}));
        QVERIFY(form.history().day(held.date())[0].reason.contains("由命令行结束"));
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    return runWithRealSound<WholeProgramTest>(argc, argv);
}
#include "tst_wholeprogram.moc"
