// The bells' chosen output, on a PulseAudio server of the test's own with
// two null sinks "hall_a" and "hall_b", a combined sink "halls" over both,
// and the default sink "dflt". The real engine rings a real bell through
// the real player; each sink's monitor is recorded.
#include "audiotestutil.h"
#include "bellboard.h"
#include "fakes.h"
#include "mpvplayer.h"
#include "onsetrecorder.h"
#include "ringengine.h"
#include "ringhistory.h"

#include <QStandardPaths>
#include <QTest>
#include <memory>

class RingOutputTest : public QObject {
    Q_OBJECT

    PrivatePulse m_pulse;
    QString m_server;

    // Loudest sound heard on `sink` since `t0`, -1 for none.
    static int peakSince(OnsetRecorder &rec, int64_t t0)
    {
        int peak = -1;
        for (const auto &s : rec.sounds())
            if (s.endNs > t0)
                peak = std::max(peak, s.peak);
        return peak;
    }

    // Rings `bells` bells two seconds apart, the first at the next second but
    // two, with the bells' output set to `device`; returns the peaks heard on
    // hall_a, hall_b and dflt.
    struct Heard {
        int a = -1, b = -1, dflt = -1;
        QStringList shown;
        QList<RingRecord> records;
        QString status;
    };
    Heard ringWith(const QString &device, int bells = 1)
    {
        Heard h;
        TempHome home;
        BellStore store;
        if (!store.open(home.db()).isEmpty())
            return h;
        if (makeTone(home.music() + QStringLiteral("tone.wav"), 1.0).isEmpty())
            return h;
        std::vector<std::unique_ptr<OnsetRecorder>> recs;
        for (const char *sink : {"hall_a", "hall_b", "dflt"}) {
            OnsetRecorder::Options o;
            o.device = std::string(sink) + ".monitor";
            recs.push_back(std::make_unique<OnsetRecorder>(o));
            std::string error;
            if (!recs.back()->start(&error))
                qFatal("recorder: %s", error.c_str());
        }
        MpvPlayer player(MpvPlayer::Output::System, device);
        SystemClock clock;
        const qint64 due = clock.now().time().msecsSinceStartOfDay() / 1000 + 3;
        for (int i = 0; i < bells; ++i)
            store.insert({0, due + 2 * i, "bell", "tone.wav", "日一二三四五六", "2", ""});
        AppPaths paths(home.path());
        BellBoard board(store, clock, paths);
        FakeMessages messages;
        RingHistory history(store);
        RingEngine engine(board, player, messages, clock);
        engine.setHistory(&history);
        const int64_t t0 = OnsetRecorder::wallNs();
        engine.start();
        if (!QTest::qWaitFor([&] { return board.statusText(bells) == QStringLiteral("完成"); },
                             12000 + 2000 * bells))
            qWarning("the bell did not end: %s", qPrintable(board.statusText(bells)));
        for (auto &r : recs)
            r->waitQuiet(150, 3000);
        h.a = peakSince(*recs[0], t0);
        h.b = peakSince(*recs[1], t0);
        h.dflt = peakSince(*recs[2], t0);
        h.shown = messages.texts();
        h.status = board.statusText(1);
        history.flush();
        h.records = history.day(clock.now().date());
        return h;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_pulse.start(QStringLiteral("dflt")));
        m_server = QString::fromLocal8Bit(qgetenv("PULSE_SERVER"));
        for (const QStringList &args : {QStringList{"module-null-sink", "sink_name=hall_a"},
                                         QStringList{"module-null-sink", "sink_name=hall_b"},
                                         QStringList{"module-combine-sink", "sink_name=halls",
                                                     "slaves=hall_a,hall_b"}})
            QVERIFY2(!runOutput("pactl", QStringList{"--server=" + m_server, "load-module"} + args).isEmpty(),
                     qPrintable(args.join(' ')));
        // The player's default is the server's default, not PULSE_SINK.
        qunsetenv("PULSE_SINK");
        runOutput("pactl", {"--server=" + m_server, "set-default-sink", "dflt"});
    }

    void theListOffersTheCombinedSink()
    {
        MpvPlayer player;
        QList<AudioOutputDevice> list;
        // The first call also starts the core: allow a retry on a slow start.
        QVERIFY(pollUntil([&] {
            try { list = player.outputDevices(); } catch (const AudioError &) {}
            return !list.isEmpty();
        }, 5000));
        QStringList names;
        for (const auto &d : list)
            names << d.name;
        QVERIFY2(names.contains("pulse/halls") && names.contains("pulse/hall_a"), qPrintable(names.join(' ')));
    }

    void aBellOnTheCombinedSinkIsHeardInBothHalls()
    {
        const Heard h = ringWith(QStringLiteral("pulse/halls"));
        QCOMPARE(h.status, QStringLiteral("完成"));
        QVERIFY2(h.a > 3000 && h.b > 3000, qPrintable(QString("a %1 b %2").arg(h.a).arg(h.b)));
        QCOMPARE(h.dflt, -1);
        QVERIFY(h.shown.isEmpty());
        QCOMPARE(h.records.size(), 1);
        QCOMPARE(h.records[0].result, BellStatus::Done);
        QVERIFY(h.records[0].reason.isEmpty());
    }

    // Two bells: both ring on the default output, one warning in all.
    void aMissingOutputFallsBackToTheDefaultWithOneWarning()
    {
        const Heard h = ringWith(QStringLiteral("pulse/gone_usb"), 2);
        QCOMPARE(h.status, QStringLiteral("完成"));
        QVERIFY2(h.dflt > 3000, qPrintable(QString::number(h.dflt)));
        QCOMPARE(h.a, -1);
        const QString text = QStringLiteral("指定的声音输出「pulse/gone_usb」不存在，铃声已改用系统默认输出。");
        QCOMPARE(h.shown, QStringList{text});
        QCOMPARE(h.records.size(), 2);
        for (const RingRecord &r : h.records) {
            QCOMPARE(r.result, BellStatus::Done);
            QCOMPARE(r.reason, text);
        }
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return runWithRealSound<RingOutputTest>(argc, argv);
}
#include "tst_ringoutput.moc"
