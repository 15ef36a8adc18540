// Where the alarm sounds, heard at real outputs: a PulseAudio server of the
// test's own with a null sink for each zone, for 铃声输出 and for 广播输出
// (and the default sink, where nothing may sound). Unless zones are named
// it sounds in every zone and on both outputs, one stream on each sink even
// where a zone shares the bells' sink; named zones narrow it to theirs.
// Exits 77 (skipped) where no PulseAudio server can run.
#include "audiotestutil.h"
#include "bellstore.h"
#include "emergencybroadcast.h"
#include "fakes.h"
#include "mpvplayer.h"
#include "onsetrecorder.h"

#include <QCoreApplication>
#include <QTest>
#include <map>

class EmergencyOutputsTest : public QObject {
    Q_OBJECT
    PrivatePulse m_pulse;
    QString m_server;
    const QStringList m_sinks{"zone_a", "zone_b", "bells", "bcast", "dflt"};

    // How many streams play into each sink now.
    std::map<QString, int> streams()
    {
        std::map<QString, QString> names; // sink index → name
        for (const QByteArray &line : runOutput("pactl", {"--server=" + m_server, "list", "short", "sinks"}).split('\n'))
            if (const QList<QByteArray> f = line.split('\t'); f.size() > 1)
                names[QString::fromUtf8(f[0])] = QString::fromUtf8(f[1]);
        std::map<QString, int> out;
        for (const QString &s : m_sinks)
            out[s] = 0;
        for (const QByteArray &line :
             runOutput("pactl", {"--server=" + m_server, "list", "short", "sink-inputs"}).split('\n'))
            if (const QList<QByteArray> f = line.split('\t'); f.size() > 1)
                ++out[names[QString::fromUtf8(f[1])]];
        return out;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_pulse.start(QStringLiteral("dflt")));
        m_server = QString::fromLocal8Bit(qgetenv("PULSE_SERVER"));
        for (const QString &sink : m_sinks.mid(0, 4))
            QVERIFY(!runOutput("pactl", {"--server=" + m_server, "load-module", "module-null-sink",
                                         "sink_name=" + sink})
                         .isEmpty());
        qunsetenv("PULSE_SINK");
        runOutput("pactl", {"--server=" + m_server, "set-default-sink", "dflt"});
    }

    void everyOutputOnceUnlessZonesAreNamed_data()
    {
        QTest::addColumn<QStringList>("named");
        QTest::addColumn<QStringList>("heard"); // sinks with one stream each; the others silent
        QTest::newRow("every zone and both outputs") << QStringList{}
                                                     << QStringList{"zone_a", "zone_b", "bells", "bcast"};
        QTest::newRow("the zones named") << QStringList{"甲"} << QStringList{"zone_a"};
    }
    void everyOutputOnceUnlessZonesAreNamed()
    {
        QFETCH(QStringList, named);
        QFETCH(QStringList, heard);
        TempHome home;
        BellStore store;
        QVERIFY(store.open(home.db()).isEmpty());
        ZoneStore zones(store);
        zones.add({0, "甲", "pulse/zone_a", 0});
        zones.add({0, "乙", "pulse/zone_b", 0});
        zones.add({0, "丙", "pulse/bells", 0}); // a zone on the bells' own sink
        SystemClock clock;
        EmergencyBroadcast e(AppPaths(home.path()), clock, [](const QString &device) {
            return std::make_unique<MpvPlayer>(MpvPlayer::Output::System, device);
        });
        e.zones = [&zones] { return zones.list(); };
        e.bellsOutput = [] { return QStringLiteral("pulse/bells"); };
        e.broadcastOutput = [] { return QStringLiteral("pulse/bcast"); };
        QVERIFY(e.ensureAlarmTone());

        std::map<QString, std::unique_ptr<OnsetRecorder>> rec;
        for (const QString &sink : m_sinks) {
            OnsetRecorder::Options o;
            o.device = (sink + ".monitor").toStdString();
            auto &r = rec[sink];
            r = std::make_unique<OnsetRecorder>(o);
            std::string error;
            QVERIFY2(r->start(&error), error.c_str());
        }
        const int64_t t0 = OnsetRecorder::wallNs();
        QSignalSpy settled(&e, &EmergencyBroadcast::settled);
        QVERIFY(e.start({QString(), named, EmergencyBroadcast::Origin::Command}).isEmpty());
        QVERIFY(settled.wait(15000));
        QCOMPARE(settled.first().at(0).toBool(), true);
        QCOMPARE(settled.first().at(1).toString(), QString());
        for (const QString &sink : heard)
            QVERIFY2(rec[sink]->waitOnset(t0, 5000), qPrintable(sink + " is silent"));
        std::map<QString, int> expected;
        for (const QString &s : m_sinks)
            expected[s] = heard.contains(s) ? 1 : 0;
        QCOMPARE(streams(), expected);
        for (const QString &sink : m_sinks)
            if (!heard.contains(sink))
                QVERIFY2(!rec[sink]->waitOnset(t0, 300), qPrintable(sink + " should be silent"));
        e.stop(EmergencyBroadcast::Origin::Command);
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return runWithRealSound<EmergencyOutputsTest>(argc, argv);
}
#include "tst_outputs.moc"
