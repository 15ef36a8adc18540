// Sound in zones on one group: the pool's players by zone and output, the
// targets' starts, and what is not heard at the start. Fake players on a
// fake clock; the retry's second is a real one.
#include "fakes.h"
#include "outputgroup.h"
#include "playerpool.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTest>

namespace {

// Remembers whether it was kept to its own output.
class KeptPlayer : public FakePlayer {
public:
    using FakePlayer::FakePlayer;
    bool neverElsewhere = false;
    void setNeverElsewhere(bool on) override { neverElsewhere = on; }
};

struct Fixture {
    FakeClock clock;
    TempHome home;
    QString file = home.touchMusic(QStringLiteral("a.mp3"));
    // Outputs whose players are made down, slow or missing.
    QSet<QString> down, slow, missing;
    QList<QPointer<KeptPlayer>> made;
    PlayerPool pool{[this](const QString &device) -> std::unique_ptr<AudioPlayer> {
        auto p = std::make_unique<KeptPlayer>(&clock);
        p->device = device;
        p->outputDown = down.contains(device);
        p->slowOpen = slow.contains(device);
        if (missing.contains(device))
            p->missing = device;
        made << p.get();
        return p;
    }};
    OutputGroup group{pool};
    KeptPlayer *of(qint64 zone, const QString &device)
    {
        return static_cast<KeptPlayer *>(pool.player(zone, device));
    }
    static void deferredDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
};

SoundTarget zone(qint64 id, const QString &device, int leadMs = 0)
{
    return SoundTarget{id, QStringLiteral("区%1").arg(id), device, leadMs, true};
}

} // namespace

class OutputGroupTest : public QObject {
    Q_OBJECT
private slots:
    void poolLetsAZonesOldPlayerGo_data()
    {
        QTest::addColumn<bool>("sounding");
        QTest::newRow("idle: at once") << false;
        QTest::newRow("sounding: once it has ended") << true;
    }
    void poolLetsAZonesOldPlayerGo()
    {
        QFETCH(bool, sounding);
        Fixture f;
        QPointer<KeptPlayer> old = f.of(1, "pulse/a");
        AudioPlayer *other = f.of(2, "pulse/b");
        if (sounding)
            f.group.play(f.file, {zone(1, "pulse/a")});
        QCOMPARE(old->isPlaying(), sounding);
        // Zone 1 moved to pulse/c; zone 2 stays.
        f.pool.keepOnly({{1, "pulse/c"}, {2, "pulse/b"}});
        f.deferredDeletes();
        QCOMPARE(old.isNull(), !sounding);
        QVERIFY(f.of(1, "pulse/c") != old);
        QCOMPARE(f.of(2, "pulse/b"), other);
        if (sounding) {
            QVERIFY(old->isPlaying()); // the bell plays out where it started
            QSignalSpy ended(&f.group, &OutputGroup::ended);
            f.clock.advanceMs(6000);
            old->advance();
            QCOMPARE(ended.size(), 1); // heard before it goes
            f.deferredDeletes();
            QVERIFY(old.isNull());
        }
        QCOMPARE(f.pool.size(), 2);
    }

    void aZoneNeverSoundsOnTheDefaultOutput()
    {
        Fixture f;
        f.missing = {"pulse/gone"};
        QSignalSpy silent(&f.group, &OutputGroup::silent);
        SoundTarget main{0, QStringLiteral("铃声输出"), "pulse/gone", 0, false};
        f.group.play(f.file, {zone(1, "pulse/gone"), zone(2, "pulse/b"), main});
        // The zone's player is kept to its output; a main output's is not.
        QVERIFY(f.of(1, "pulse/gone")->neverElsewhere);
        QVERIFY(!f.of(0, "pulse/gone")->neverElsewhere);
        QCOMPARE(f.group.state(0), OutputGroup::State::Silent);
        QCOMPARE(f.of(1, "pulse/gone")->playCount, 0);
        QCOMPARE(f.of(1, "pulse/gone")->mode(), AudioPlayer::Mode::NotReady);
        QCOMPARE(f.group.why(0), OutputGroup::missingOutputReason("pulse/gone"));
        QCOMPARE(silent.size(), 1);
        QCOMPARE(silent[0][2].toBool(), true); // retried where a window is given
        // The others sound, 铃声输出 on the default output as ever.
        QCOMPARE(f.group.state(1), OutputGroup::State::Sounding);
        QCOMPARE(f.group.state(2), OutputGroup::State::Sounding);
    }

    void targetsStartTogetherAfterAllHaveOpened()
    {
        Fixture f;
        AudioPlayer *second = f.of(2, "pulse/b");
        QList<AudioPlayer::Mode> secondAtFirstStart;
        connect(&f.group, &OutputGroup::started, &f.group, [&](int i) {
            if (i == 0)
                secondAtFirstStart << second->mode();
        });
        f.group.play(f.file, {zone(1, "pulse/a"), zone(2, "pulse/b")});
        // The second's file was open before the first started: no open
        // stands between their starts.
        QCOMPARE(secondAtFirstStart, QList<AudioPlayer::Mode>{AudioPlayer::Mode::Stopped});
        QVERIFY(second->isPlaying());
    }

    // Asked to start at a moment: each target its 提前 before it.
    void eachTargetStartsItsLeadEarly()
    {
        Fixture f;
        OutputGroup::Options o;
        o.startInMs = 400;
        QList<int> order;
        connect(&f.group, &OutputGroup::started, &f.group, [&](int i) { order << i; });
        f.group.play(f.file, {zone(1, "pulse/a"), zone(2, "pulse/b", 300)}, o);
        QVERIFY(order.isEmpty()); // not before its moment
        QCOMPARE(f.group.state(0), OutputGroup::State::Ready);
        QTRY_COMPARE_WITH_TIMEOUT(order.size(), 2, 5000);
        QCOMPARE(order, (QList<int>{1, 0}));
    }

    void aLateLoadingTargetStartsOnceLoaded()
    {
        Fixture f;
        f.slow = {"pulse/slow"};
        QSignalSpy started(&f.group, &OutputGroup::started);
        f.group.play(f.file, {zone(1, "pulse/a"), zone(2, "pulse/slow")});
        QCOMPARE(f.group.state(1), OutputGroup::State::Loading);
        QVERIFY(f.group.loading());
        QCOMPARE(started.size(), 1);
        f.of(2, "pulse/slow")->finishOpen();
        QCOMPARE(started.size(), 2);
        QCOMPARE(started[1][0].toInt(), 1);
        QVERIFY(f.of(2, "pulse/slow")->isPlaying());
        // A load that ends after stop() starts nothing.
        f.group.stop();
        f.group.play(f.file, {zone(2, "pulse/slow")});
        f.group.stop();
        f.of(2, "pulse/slow")->finishOpen();
        QVERIFY(!f.of(2, "pulse/slow")->isPlaying());
    }

    void aSilentOutputIsRetriedWithinTheWindow_data()
    {
        QTest::addColumn<int>("windowMs");
        QTest::addColumn<bool>("heard");
        QTest::newRow("no window: stays silent") << 0 << false;
        QTest::newRow("within the window: heard") << 5000 << true;
    }
    void aSilentOutputIsRetriedWithinTheWindow()
    {
        QFETCH(int, windowMs);
        QFETCH(bool, heard);
        Fixture f;
        f.down = {"pulse/b"};
        OutputGroup::Options o;
        o.retryWindowMs = windowMs;
        QSignalSpy started(&f.group, &OutputGroup::started);
        f.group.play(f.file, {zone(1, "pulse/a"), zone(2, "pulse/b")}, o);
        QCOMPARE(f.group.state(1), OutputGroup::State::Silent);
        QCOMPARE(f.group.retrying(), heard);
        f.of(2, "pulse/b")->outputDown = false; // back
        if (heard)
            QTRY_COMPARE_WITH_TIMEOUT(f.group.state(1), OutputGroup::State::Sounding, 10000);
        else
            QTest::qWait(OutputGroup::kRetryMs + 300);
        QCOMPARE(f.group.state(1) == OutputGroup::State::Sounding, heard);
        QCOMPARE(started.size(), heard ? 2 : 1);
    }

    // Opened ahead for a cue: only a 提前 starts by itself; a player still
    // sounding the sound before is left to it until the cue.
    void aCuedGroupStartsAtItsCue()
    {
        Fixture f;
        const QString before = f.home.touchMusic(QStringLiteral("before.mp3"));
        KeptPlayer *busy = f.of(3, "pulse/c");
        busy->setFileName(before);
        busy->open();
        busy->play();
        OutputGroup::Options o;
        o.cue = true;
        o.startInMs = 300;
        f.group.play(f.file, {zone(1, "pulse/a"), zone(2, "pulse/b", 200), zone(3, "pulse/c")}, o);
        QCOMPARE(f.of(1, "pulse/a")->mode(), AudioPlayer::Mode::Stopped); // opened
        QTRY_COMPARE_WITH_TIMEOUT(f.of(2, "pulse/b")->playCount, 1, 5000);
        QTest::qWait(300); // past the moment: still waiting for the cue
        QCOMPARE(f.of(1, "pulse/a")->playCount, 0);
        QVERIFY(busy->isPlaying());
        QCOMPARE(busy->fileName(), before);

        busy->stop(); // the sound before ends at the cue
        f.group.cue();
        for (qint64 z : {1, 2, 3})
            QCOMPARE(f.group.state(int(z - 1)), OutputGroup::State::Sounding);
        QCOMPARE(f.of(2, "pulse/b")->playCount, 1); // not started twice
        QCOMPARE(busy->fileName(), f.file);
        QVERIFY(busy->isPlaying());
    }

    // The caller's clock paces the tries: none by the group's own timer, one
    // per retry(), none after endRetries(), which also gives up a file
    // still loading.
    void silentOutputsAreTriedWhenTheCallerSays()
    {
        Fixture f;
        f.down = {"pulse/b"};
        f.slow = {"pulse/slow"};
        OutputGroup::Options o;
        o.retryOnCall = true;
        f.group.play(f.file, {zone(1, "pulse/a"), zone(2, "pulse/b"), zone(3, "pulse/slow")}, o);
        QCOMPARE(f.group.state(1), OutputGroup::State::Silent);
        QVERIFY(f.group.error(1) && f.group.error(1)->isOutputFailure());
        QVERIFY(f.group.retrying());
        f.of(2, "pulse/b")->outputDown = false;
        QTest::qWait(OutputGroup::kRetryMs + 300);
        QCOMPARE(f.group.state(1), OutputGroup::State::Silent);
        f.group.retry(1);
        QCOMPARE(f.group.state(1), OutputGroup::State::Sounding);
        QVERIFY(!f.group.error(1));

        f.group.endRetries();
        QCOMPARE(f.group.state(2), OutputGroup::State::Silent);
        QCOMPARE(f.group.why(2), OutputGroup::kLoadingReason);
        QVERIFY(!f.group.retrying() && !f.group.loading());
        f.of(3, "pulse/slow")->finishOpen();
        QVERIFY(!f.of(3, "pulse/slow")->isPlaying());
    }

    // A target that ended leaves its player to whoever has it now: stopping
    // its group does not cut the next sound there.
    void stoppingSparesThePlayerOfAnEndedTarget()
    {
        Fixture f;
        OutputGroup next(f.pool);
        f.group.play(f.file, {zone(1, "pulse/a")});
        f.clock.advanceMs(6000);
        f.of(1, "pulse/a")->advance();
        QCOMPARE(f.group.state(0), OutputGroup::State::Ended);
        next.play(f.file, {zone(1, "pulse/a")});
        f.group.stop();
        QVERIFY(f.of(1, "pulse/a")->isPlaying());
        QCOMPARE(next.state(0), OutputGroup::State::Sounding);
    }

    void aTargetCutOffIsToldAndTheGroupEndsWithTheLast()
    {
        Fixture f;
        QSignalSpy cut(&f.group, &OutputGroup::cut), ended(&f.group, &OutputGroup::ended);
        f.group.play(f.file, {zone(1, "pulse/a"), zone(2, "pulse/b")});
        f.of(1, "pulse/a")->interruptNow();
        QCOMPARE(cut.size(), 1);
        QCOMPARE(ended.size(), 0); // zone 2 plays on
        f.clock.advanceMs(6000);
        f.of(2, "pulse/b")->advance();
        QCOMPARE(ended.size(), 1);
    }

    void aLoopStartsAgainAtItsEnd()
    {
        Fixture f;
        OutputGroup::Options o;
        o.loop = true;
        QSignalSpy ended(&f.group, &OutputGroup::ended);
        f.group.play(f.file, {zone(1, "pulse/a")}, o);
        f.clock.advanceMs(6000);
        f.of(1, "pulse/a")->advance();
        QVERIFY(f.of(1, "pulse/a")->isPlaying());
        QCOMPARE(f.of(1, "pulse/a")->playCount, 2);
        QCOMPARE(ended.size(), 0);
    }

    void oneTextForASilentZone()
    {
        QCOMPARE(OutputGroup::silentZonesText({OutputGroup::silentText("甲", "x"), OutputGroup::silentText("乙", "y")}),
                 QStringLiteral("以下分区没有播出：甲（x）；乙（y）"));
    }
};

QTEST_GUILESS_MAIN(OutputGroupTest)
#include "tst_outputgroup.moc"
