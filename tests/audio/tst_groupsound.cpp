// The output group on real players, on a PulseAudio server of the test's
// own whose default sink is "dflt": a zone whose sink is missing stays
// silent (never heard on dflt) and joins in, retried, once its sink is
// loaded; the zone whose sink exists sounds at once.
#include "audiotestutil.h"
#include "fakes.h"
#include "mpvplayer.h"
#include "onsetrecorder.h"
#include "outputgroup.h"
#include "playerpool.h"

#include <QSignalSpy>
#include <QTest>

class GroupSoundTest : public QObject {
    Q_OBJECT
    PrivatePulse m_pulse;
    QString m_server;
    QTemporaryDir m_dir;
    QString m_tone;

    QString pactl(const QStringList &args)
    {
        return QString::fromLatin1(runOutput("pactl", QStringList{"--server=" + m_server} + args).trimmed());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_pulse.start(QStringLiteral("dflt")));
        m_server = QString::fromLocal8Bit(qgetenv("PULSE_SERVER"));
        qunsetenv("PULSE_SINK");
        pactl({"set-default-sink", "dflt"});
        m_tone = makeTone(m_dir.filePath("tone.wav"), 4.0);
        QVERIFY(!m_tone.isEmpty());
    }

    void aMissingZoneIsRetriedAndNeverHeardElsewhere()
    {
        const QString jia = pactl({"load-module", "module-null-sink", "sink_name=jia"});
        QVERIFY(!jia.isEmpty());
        OnsetRecorder::Options o;
        o.device = "dflt.monitor";
        OnsetRecorder dflt(o);
        std::string error;
        QVERIFY2(dflt.start(&error), error.c_str());

        PlayerPool pool([](const QString &device) {
            return std::make_unique<MpvPlayer>(MpvPlayer::Output::System, device);
        });
        OutputGroup group(pool);
        OutputGroup::Options how;
        how.background = true;
        how.retryWindowMs = 20000;
        QSignalSpy silent(&group, &OutputGroup::silent);
        group.play(m_tone, {{1, "甲", "pulse/jia", 0, true}, {2, "乙", "pulse/yi", 0, true}}, how);
        QTRY_COMPARE_WITH_TIMEOUT(group.state(0), OutputGroup::State::Sounding, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!silent.isEmpty(), 10000);
        QCOMPARE(silent.first().at(0).toInt(), 1);
        QCOMPARE(silent.first().at(1).toString(), OutputGroup::missingOutputReason("pulse/yi"));
        QVERIFY(group.retrying());

        const QString yi = pactl({"load-module", "module-null-sink", "sink_name=yi"});
        QVERIFY(!yi.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(group.state(1), OutputGroup::State::Sounding, 10000);
        group.stop(true);
        pool.closeAll();
        QTest::qWait(300); // the recording catches up
        dflt.stop();
        QCOMPARE(dflt.sounds().size(), size_t(0));
        pactl({"unload-module", yi});
        pactl({"unload-module", jia});
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return runWithRealSound<GroupSoundTest>(argc, argv);
}
#include "tst_groupsound.moc"
