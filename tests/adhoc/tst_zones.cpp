// The broadcast in zones, with fake players: where it plays and how the
// choice is kept, every zone following the window's commands, zones that
// fail left out (never moved to the default output), step keeping, and which
// players a bell lowers.
#include "adhocfixture.h"
#include "broadcastzones.h"
#include "ducking.h"
#include "settings.h"

#include <QPointer>
#include <QTest>
#include <map>

using Mode = AudioPlayer::Mode;

namespace {
// A zone's player whose seeks while it plays are heard lateMs late, as a
// real output's are.
struct LatePlayer : FakePlayer {
    using FakePlayer::FakePlayer;
    qint64 lateMs = 0;
    std::optional<qint64> asked;
    void setStartPosition(qint64 ms) override
    {
        asked = ms;
        FakePlayer::setStartPosition(ms);
    }
    void play() override
    {
        if (asked && mode() == Mode::Playing)
            FakePlayer::setStartPosition(*asked - lateMs);
        asked.reset();
        FakePlayer::play();
    }
};

// Zones 甲 乙 丙 on outputs a b c, a broadcast player over fake players and
// the ad-hoc logic that drives it.
struct Zoned : AdhocFakes {
    bool ok = store.open(home.db()).isEmpty();
    std::map<QString, LatePlayer *> made; // by output
    QStringList missingOutputs, downOutputs;
    qint64 fileMs = 5000; // how long each file plays
    BroadcastPlayer broadcast{std::make_unique<FakePlayer>(&clock), [this](const Zone &z) {
                                  auto p = std::make_unique<LatePlayer>(&clock);
                                  p->defaultLength = fileMs;
                                  p->missing = missingOutputs.contains(z.output) ? z.output : QString();
                                  p->outputDown = downOutputs.contains(z.output);
                                  made[z.output] = p.get();
                                  return p;
                              }};
    FakePlayer &main = static_cast<FakePlayer &>(broadcast.broadcastOutput());
    AdhocPlaylist list{store, msgs, dialogs};
    AdhocPlayer adhoc{list, broadcast, msgs};
    BroadcastZones choice{store, broadcast};
    qint64 jia = 0, yi = 0, bing = 0;

    Zoned()
    {
        ZoneStore zones(store);
        jia = zones.add({0, "甲", "a", 0});
        yi = zones.add({0, "乙", "b", 0});
        bing = zones.add({0, "丙", "c", 0});
        dialogs.openManyAnswers.push_back({home.touchMusic("one.wav"), home.touchMusic("two.wav")});
        list.addFiles();
        choice.refresh();
    }
    LatePlayer *of(const char *output) { return made.count(output) ? made[output] : nullptr; }
    void tick(qint64 ms)
    {
        clock.advanceMs(ms);
        adhoc.TimerPostionTimer();
        if (adhoc.Timer1.isActive())
            adhoc.Timer1Timer();
    }
};
} // namespace

class TestZones : public QObject {
    Q_OBJECT
private slots:
    void theChoiceIsKeptAndDropsDeletedZones()
    {
        Zoned f;
        QVERIFY(f.ok);
        QVERIFY(f.choice.chosen().isEmpty()); // 广播输出 by default
        f.choice.choose({f.yi, f.jia, 999});
        QCOMPARE(f.choice.chosen(), (QList<qint64>{f.jia, f.yi}));
        QCOMPARE(f.broadcast.zones().size(), 2);
        ZoneStore(f.store).remove(f.yi);
        BroadcastZones again(f.store, f.broadcast);
        again.refresh();
        QCOMPARE(again.chosen(), QList<qint64>{f.jia});
        QCOMPARE(f.broadcast.zones(), (QList<Zone>{{f.jia, "甲", "a", 0}}));
    }

    void theWindowShowsTheChoiceOnlyWhereZonesExist()
    {
        AdhocFakes plain;
        QVERIFY(plain.store.open(plain.home.db()).isEmpty());
        BroadcastPlayer bp(std::make_unique<FakePlayer>(&plain.clock), nullptr);
        TFormLinShiGuangBo bare(plain.store, bp, plain.msgs, plain.dialogs);
        bare.show();
        QVERIFY(bare.ListFenQu->isHidden());
        QCOMPARE(bare.height(), TFormLinShiGuangBo::kHeight);

        Zoned f;
        TFormLinShiGuangBo form(f.store, f.broadcast, f.msgs, f.dialogs);
        form.show();
        QVERIFY(!form.ListFenQu->isHidden());
        QCOMPARE(form.ListFenQu->count(), 4);
        QCOMPARE(form.ListFenQu->item(0)->checkState(), Qt::Checked); // 广播输出
        form.ListFenQu->item(3)->setCheckState(Qt::Checked);          // 甲 (by name: 丙 乙 甲)
        QCOMPARE(form.zoneChoice()->chosen(), QList<qint64>{f.jia});
        QTRY_COMPARE(form.ListFenQu->item(0)->checkState(), Qt::Unchecked);
        form.ListFenQu->item(0)->setCheckState(Qt::Checked); // back to 广播输出
        QVERIFY(form.zoneChoice()->chosen().isEmpty());
        QTRY_COMPARE(form.ListFenQu->item(3)->checkState(), Qt::Unchecked);
        QCOMPARE(Settings(f.store).value(BroadcastZones::kSetting), QString());
    }

    // A zone moved to another output plays there from the next file on;
    // its old player finishes the file it plays and then goes.
    void aZoneMovedToAnotherOutputLetsItsOldPlayerGo()
    {
        Zoned f;
        f.choice.choose({f.jia});
        f.adhoc.FormShow();
        f.adhoc.ButtonPlayClick();
        QPointer<LatePlayer> old = f.of("a");
        QVERIFY(old && old->isPlaying());
        ZoneStore(f.store).update({f.jia, "甲", "a2", 0});
        f.choice.refresh(); // as the window does when it opens
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(old && old->isPlaying());
        f.tick(6000); // one.wav ends: two.wav opens on the zone's new output
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(old.isNull());
        QCOMPARE(f.of("a2")->played, QStringList{"two.wav"});
    }

    void everyZoneFollowsTheCommandsAndAFailedOneIsLeftOut()
    {
        Zoned f;
        f.missingOutputs = {"b"};
        f.downOutputs = {"c"};
        f.choice.choose({f.jia, f.yi, f.bing});
        f.adhoc.FormShow();
        f.adhoc.ButtonPlayClick();
        QCOMPARE(f.of("a")->played, QStringList{"one.wav"});
        // 乙's output is missing: closed, never heard on the default output.
        QVERIFY(f.of("b")->played.isEmpty());
        QCOMPARE(f.of("b")->mode(), Mode::NotReady);
        QVERIFY(f.main.played.isEmpty());
        const QString note = BroadcastPlayer::noteText(f.broadcast.skipped());
        QVERIFY2(note.contains("乙（声音输出「b」不存在）") && note.contains("丙（no output）"), qPrintable(note));
        QVERIFY(f.msgs.shown.isEmpty()); // one zone plays: no box

        f.downOutputs.clear();
        f.of("c")->outputDown = false;
        f.adhoc.ButtonPlayClick(); // stop
        f.adhoc.ButtonPlayClick(); // start again: 丙 is back
        QCOMPARE(f.of("c")->played, QStringList{"one.wav"});
        f.tick(2000);
        f.adhoc.ButtonPausedClick();
        QCOMPARE(f.of("a")->mode(), Mode::Paused);
        QCOMPARE(f.of("c")->mode(), Mode::Paused);
        f.adhoc.ButtonPausedClick();
        f.tick(4000); // one.wav (5 s) ends in the first zone: both move on
        QCOMPARE(f.of("a")->played, (QStringList{"one.wav", "one.wav", "two.wav"}));
        QCOMPARE(f.of("c")->played, (QStringList{"one.wav", "two.wav"}));

        // An output dying under one zone silences it alone.
        f.of("c")->interruptNow();
        QCOMPARE(f.broadcast.outputs().size(), 1);
        QVERIFY(f.broadcast.skipped().join("").contains(BroadcastPlayer::kInterruptedReason));
        QCOMPARE(f.broadcast.mode(), Mode::Playing);

        // No zone can play: the window says so as it does for one output.
        f.adhoc.ButtonPlayClick();
        f.of("a")->outputDown = true;
        f.of("c")->outputDown = true;
        f.adhoc.ButtonPlayClick();
        QCOMPARE(f.msgs.texts(), QStringList{AdhocPlayer::kNoOutput});
        QVERIFY(f.main.played.isEmpty());
    }

    void aCutInPausesEveryZoneOnlyWhenItPlays()
    {
        Zoned f;
        f.choice.choose({f.jia, f.yi});
        f.adhoc.FormShow();
        QVERIFY(!f.adhoc.pauseIfPlaying()); // idle
        f.adhoc.ButtonPlayClick();
        QVERIFY(f.adhoc.pauseIfPlaying());
        QCOMPARE(f.of("a")->mode(), Mode::Paused);
        QCOMPARE(f.of("b")->mode(), Mode::Paused);
        QVERIFY(!f.adhoc.pauseIfPlaying()); // paused already: left to whoever paused it
        f.adhoc.continueIfPaused();
        QCOMPARE(f.of("a")->mode(), Mode::Playing);
        QCOMPARE(f.of("b")->mode(), Mode::Playing);
        f.adhoc.continueIfPaused(); // playing: nothing
        QCOMPARE(f.adhoc.pauseCaption(), AdhocPlayer::kPause);

        // While the cut-in lasts, neither 继续, 播放 nor a double-click starts
        // the broadcast again; each tells the operator why.
        QVERIFY(f.adhoc.pauseIfPlaying());
        f.adhoc.refusal = [] { return QStringLiteral("refused"); };
        f.adhoc.ButtonPausedClick();
        QCOMPARE(f.of("a")->mode(), Mode::Paused);
        f.adhoc.ButtonPlayClick(); // stops: stopping is never refused
        f.adhoc.ButtonPlayClick();
        f.adhoc.ListBox1DblClick();
        QCOMPARE(f.msgs.texts(), (QStringList{"refused", "refused", "refused"}));
        QVERIFY(!f.adhoc.playMode());
    }

    void aSlowZoneHoldsTheStartUntilItIsOpen()
    {
        Zoned f;
        f.choice.choose({f.jia, f.yi});
        f.adhoc.FormShow(); // makes the players
        f.of("a")->slowOpen = true;
        f.adhoc.ButtonPlayClick();
        QVERIFY(f.of("a")->played.isEmpty() && f.of("b")->played.isEmpty()); // started together
        QCOMPARE(f.broadcast.mode(), Mode::NotReady);
        f.of("a")->slowOpen = false;
        f.of("a")->finishOpen();
        QCOMPARE(f.of("a")->played, QStringList{"one.wav"});
        QCOMPARE(f.of("b")->played, QStringList{"one.wav"});
        // A slow zone that fails leaves the other playing, and says why.
        f.adhoc.ButtonPlayClick();
        f.of("a")->slowOpen = true;
        f.adhoc.ButtonPlayClick();
        f.of("a")->outputDown = true;
        f.of("a")->finishOpen();
        QCOMPARE(f.of("b")->played, (QStringList{"one.wav", "one.wav"}));
        QCOMPARE(f.broadcast.skipped(), QStringList{"甲（no output）"});
        QVERIFY(f.msgs.shown.isEmpty());
    }

    void aZoneOutOfStepIsSoughtBack()
    {
        Zoned f;
        f.fileMs = 60'000;
        f.choice.choose({f.jia, f.yi});
        f.adhoc.FormShow();
        f.adhoc.ButtonPlayClick();
        // Zones are shown by name: 乙 comes first, and 甲 follows it.
        FakePlayer &first = *f.of("b");
        LatePlayer &zone = *f.of("a");
        const auto off = [&] { return zone.position() - first.position(); };
        const auto checks = [&](int n) {
            for (int i = 0; i < n; ++i)
                f.tick(100);
        };
        zone.setStartPosition(zone.position() + BroadcastPlayer::kStepMs); // at the bound: left alone
        zone.play();
        checks(BroadcastPlayer::kStepSamples + 1);
        QCOMPARE(off(), BroadcastPlayer::kStepMs);
        zone.setStartPosition(zone.position() + 200);
        zone.play();
        zone.lateMs = 150;
        const int plays = zone.playCount;
        checks(BroadcastPlayer::kStepSamples / 2); // a jump or two is no drift yet
        QCOMPARE(zone.playCount, plays);
        checks(1); // most checks agree: sought back, and heard 150 ms late
        QCOMPARE(off(), -150);
        checks(BroadcastPlayer::kStepSettleChecks + BroadcastPlayer::kStepSamples);
        QCOMPARE(off(), 0); // the second seek asks for 150 ms more
        checks(100);
        QCOMPARE(zone.playCount, plays + 2);
    }

    // A zone that has lost its place is restarted at the first's position
    // however many seeks it had: one that went quiet mid-file, and one a
    // second or more off after its seeks had run out.
    void aZoneThatLostItsPlaceIsRestartedWithTheFirst_data()
    {
        QTest::addColumn<bool>("quiet"); // else far behind
        QTest::newRow("quiet") << true;
        QTest::newRow("far behind") << false;
    }
    void aZoneThatLostItsPlaceIsRestartedWithTheFirst()
    {
        QFETCH(bool, quiet);
        Zoned f;
        f.fileMs = 60'000;
        f.choice.choose({f.jia, f.yi});
        f.adhoc.FormShow();
        f.adhoc.ButtonPlayClick();
        FakePlayer &first = *f.of("b");
        LatePlayer &zone = *f.of("a");
        const auto checks = [&](int n) {
            for (int i = 0; i < n; ++i)
                f.tick(100);
        };
        const int cycle = BroadcastPlayer::kStepSettleChecks + BroadcastPlayer::kStepSamples + 1;
        // Small drifts use up its seeks for this file.
        for (int i = 0; i <= BroadcastPlayer::kStepMaxSeeks; ++i) {
            zone.setStartPosition(zone.position() + 200);
            zone.play();
            checks(cycle);
        }
        checks(5);
        if (quiet) {
            zone.stop();
        } else {
            zone.setStartPosition(zone.position() - 5000);
            zone.play();
        }
        checks(cycle);
        QCOMPARE(zone.mode(), Mode::Playing);
        QCOMPARE(zone.position(), first.position());
    }

    // Which players a bell lowers: the bell's zones against the broadcast's.
    void aBellLowersTheBroadcastOnlyWhereItRings_data()
    {
        QTest::addColumn<QStringList>("bell");      // zones by name; none: 铃声输出
        QTest::addColumn<QStringList>("broadcast"); // none: 广播输出
        QTest::addColumn<QStringList>("lowered");   // by name; "main" for 广播输出
        QTest::newRow("bell everywhere, broadcast in zones") << QStringList{} << QStringList{"甲", "乙"} << QStringList{"乙", "甲"};
        QTest::newRow("bell in one of them") << QStringList{"甲"} << QStringList{"甲", "乙"} << QStringList{"甲"};
        QTest::newRow("bell elsewhere") << QStringList{"丙"} << QStringList{"甲", "乙"} << QStringList{};
        QTest::newRow("bell over both and more") << QStringList{"乙", "丙"} << QStringList{"乙"} << QStringList{"乙"};
        QTest::newRow("broadcast on its output") << QStringList{"丙"} << QStringList{} << QStringList{"main"};
        QTest::newRow("both everywhere") << QStringList{} << QStringList{} << QStringList{"main"};
    }
    void aBellLowersTheBroadcastOnlyWhereItRings()
    {
        QFETCH(QStringList, bell);
        QFETCH(QStringList, broadcast);
        QFETCH(QStringList, lowered);
        Zoned f;
        const QHash<QString, qint64> id{{"甲", f.jia}, {"乙", f.yi}, {"丙", f.bing}};
        QList<qint64> chosen, bellZones;
        for (const QString &z : broadcast)
            chosen << id[z];
        for (const QString &z : bell)
            bellZones << id[z];
        f.choice.choose(chosen);
        Ducking ducking(f.broadcast, nullptr);
        f.adhoc.FormShow();
        f.adhoc.ButtonPlayClick();
        ducking.bellStartedIn(bellZones);
        for (int i = 0; i < Ducking::kRampSteps; ++i)
            ducking.rampStep();
        QStringList low;
        for (const BroadcastPlayer::Output &o : f.broadcast.outputs())
            if (o.player->volume() == 20 && ducking.lowered(o.player))
                low << (o.zone ? id.key(o.zone) : QStringLiteral("main"));
            else
                QCOMPARE(o.player->volume(), 100);
        QCOMPARE(low, lowered);
        QCOMPARE(ducking.ducked(), !lowered.isEmpty());
        // The broadcast moves on to 甲 alone while the bell sounds: it goes
        // down there only if the bell rings there.
        f.adhoc.ButtonPlayClick();
        f.choice.choose({f.jia});
        f.adhoc.ButtonPlayClick();
        for (int i = 0; i < Ducking::kRampSteps; ++i)
            ducking.rampStep();
        const bool inJia = bell.isEmpty() || bell.contains("甲");
        QCOMPARE(f.of("a")->volume(), inJia ? 20 : 100);
        QCOMPARE(ducking.ducked(), inJia);
        if (f.of("b"))
            QCOMPARE(f.of("b")->volume(), 100); // left lowered nowhere
        QCOMPARE(f.main.volume(), 100);
        ducking.bellEnded();
        for (int i = 0; i < Ducking::kRampSteps; ++i)
            ducking.rampStep();
        QCOMPARE(f.of("a")->volume(), 100);
        QVERIFY(!ducking.ducked());
    }
};

QTEST_MAIN(TestZones)
#include "tst_zones.moc"
