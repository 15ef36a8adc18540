// Bells with zones on the fake clock: one fake player per zone, made when
// first needed; each zone heard or named silent in the bell's record.
#include "outputgroup.h"
#include "ringfixture.h"

#include <QSet>
#include <memory>

namespace {

struct ZoneFixture : RingFixture {
    ZoneStore zoneStore{store};
    std::map<QString, std::unique_ptr<TimedPlayer>> players; // by output
    qint64 jia = 0, yi = 0;
    ZoneFixture()
    {
        jia = zoneStore.add({0, "甲", "pulse/jia", 0});
        yi = zoneStore.add({0, "乙", "pulse/yi", 0});
        engine.setZones(zoneStore.list());
        engine.zonePlayer = [this](const Zone &z) -> AudioPlayer * {
            auto &p = players[z.output];
            p = std::make_unique<TimedPlayer>(&clock);
            p->device = z.output;
            p->outputDown = down.contains(z.output);
            p->slowOpen = slow.contains(z.output);
            return p.get();
        };
        beforeTick = [this] {
            for (auto &[out, p] : players)
                p->advance();
        };
    }
    QSet<QString> down; // outputs whose players are made with their output down
    QSet<QString> slow; // … and whose files load slowly
    TimedPlayer *of(const QString &output)
    {
        const auto it = players.find(output);
        return it == players.end() ? nullptr : it->second.get();
    }
    qint64 addIn(qint64 t, const QString &name, const QList<qint64> &zones)
    {
        home.touchMusic(name + ".mp3");
        return store.insert({0, t, name, name + ".mp3", allDays(), "5", "", zones});
    }
};

} // namespace

class RingZonesTest : public QObject {
    Q_OBJECT
private slots:
    void eachZoneRingsOnItsOwnPlayerAtTheSecond()
    {
        ZoneFixture f;
        f.add(f.at(8, 0, 3), "plain");
        f.addIn(f.at(8, 0, 5), "jia only", {f.jia});
        f.addIn(f.at(8, 0, 8), "both", {f.jia, f.yi});
        f.tickRange(f.at(8, 0, 1), f.at(8, 0, 2));
        QVERIFY(f.players.empty()); // made when first needed: to open a bell ahead
        f.tickRange(f.at(8, 0, 3), f.at(8, 0, 4));
        // A list's bells without zones ring as ever.
        QCOMPARE(f.played(), QStringList{"plain.mp3"});

        f.tickRange(f.at(8, 0, 5), f.at(8, 0, 7));
        QCOMPARE(f.of("pulse/jia")->played, QStringList{"jia only.mp3"});
        QVERIFY(f.of("pulse/yi")->played.isEmpty()); // opened ahead for the next bell only
        QCOMPARE(f.played(), QStringList{"plain.mp3"});

        f.tickRange(f.at(8, 0, 8), f.at(8, 0, 9));
        const QDateTime second(QDate(2026, 12, 7), QTime(8, 0, 8, 2));
        for (const char *out : {"pulse/jia", "pulse/yi"}) {
            QCOMPARE(f.of(out)->played.last(), QStringLiteral("both.mp3"));
            QCOMPARE(f.of(out)->playTimes.last(), second);
        }
        QCOMPARE(f.records(), (QStringList{"08:00:03 plain 完成 2", "08:00:05 jia only 完成 2",
                                           "08:00:08 both 完成 2"}));
        QStringList zones; // each record names where its bell rang
        for (const RingRecord &r : f.history.day(QDate(2026, 12, 7)))
            zones << r.zones;
        QCOMPARE(zones, (QStringList{"", "甲", "甲、乙"}));
    }

    void zonesAreOpenedAheadAndStartedByTheirLead()
    {
        ZoneFixture f;
        f.zoneStore.update({f.yi, "乙", "pulse/yi", 400});
        f.engine.setZones(f.zoneStore.list());
        f.addIn(f.at(8, 0, 5), "both", {f.jia, f.yi});
        f.tickRange(f.at(8, 0, 1), f.at(8, 0, 4)); // opened ahead at 08:00:04
        TimedPlayer *jia = f.of("pulse/jia"), *yi = f.of("pulse/yi");
        QVERIFY(jia && yi);
        QCOMPARE(jia->log, QStringList{"open both.mp3"});
        // 乙 starts on its own timer, before the second's tick.
        QTRY_COMPARE_WITH_TIMEOUT(yi->playCount, 1, 5000);
        QCOMPARE(jia->playCount, 0);
        f.tickAt(8, 0, 5);
        QCOMPARE(jia->log, (QStringList{"open both.mp3", "play"}));
        QCOMPARE(yi->playCount, 1); // not cut, not started twice
        QVERIFY(yi->isPlaying());
        QCOMPARE(f.records(), QStringList{"08:00:05 both 完成 2"});
    }

    void aSilentZoneIsNamedAndTheOthersRing()
    {
        ZoneFixture g;
        g.addIn(g.at(8, 0, 5), "both", {g.jia, g.yi});
        g.engine.zonePlayer = [&g, down = QStringLiteral("pulse/yi")](const Zone &z) -> AudioPlayer * {
            auto &p = g.players[z.output];
            p = std::make_unique<TimedPlayer>(&g.clock);
            p->outputDown = z.output == down;
            return p.get();
        };
        g.tickRange(g.at(8, 0, 1), g.at(8, 0, 6));
        QCOMPARE(g.of("pulse/jia")->played, QStringList{"both.mp3"});
        QVERIFY(g.of("pulse/yi")->played.isEmpty());
        QCOMPARE(g.status(1), QStringLiteral("部分播出"));
        g.tickRange(g.at(8, 0, 7), g.at(8, 0, 31)); // its end and a reload keep the mark
        QCOMPARE(g.status(1), QStringLiteral("部分播出"));
        const QStringList r = g.records();
        QCOMPARE(r.size(), 1);
        QVERIFY2(r[0].startsWith("08:00:05 both 部分播出 2 以下分区没有播出：乙（"), qPrintable(r[0]));
        QCOMPARE(g.messages.shown.size(), 1);
        QVERIFY(g.messages.shown[0].text.contains("只在部分分区播出"));
    }

    void heardNowhereIsRetriedThenFails()
    {
        ZoneFixture f;
        f.addIn(f.at(8, 0, 5), "both", {f.jia, f.yi});
        f.addIn(f.at(8, 2, 0), "later", {f.jia});
        bool down = true;
        f.engine.zonePlayer = [&f, &down](const Zone &z) -> AudioPlayer * {
            auto &p = f.players[z.output];
            p = std::make_unique<TimedPlayer>(&f.clock);
            p->outputDown = down;
            return p.get();
        };
        f.tickRange(f.at(8, 0, 4), f.at(8, 0, 6));
        QVERIFY(f.of("pulse/jia")->played.isEmpty());
        QVERIFY(f.records().isEmpty()); // still retried within the window
        f.of("pulse/jia")->outputDown = false;
        f.tickAt(8, 0, 7);
        QCOMPARE(f.of("pulse/jia")->played, QStringList{"both.mp3"});
        QVERIFY(f.records().first().startsWith("08:00:05 both 部分播出"));

        f.of("pulse/jia")->outputDown = true;
        f.tickRange(f.at(8, 2, 0), f.at(8, 3, 2));
        QCOMPARE(f.records().last().section(' ', 0, 2), QStringLiteral("08:02:00 later 失败"));
        QVERIFY(f.records().last().contains("甲"));
    }

    // A zone silent at the second is tried again each second of the window:
    // back in time, it rings late and the record says so; never back, the
    // bell stays 部分播出 and the tries stop with the window.
    void aSilentZoneIsRetriedWithinTheWindow_data()
    {
        QTest::addColumn<bool>("slowFile"); // else its output is down
        QTest::addColumn<int>("backAfter");  // seconds after the bell; -1: never
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("delay"); // the latest zone's
        const QString late = "以下分区的声音输出恢复后补播，晚于铃声时刻：乙（3002 毫秒）";
        QTest::newRow("output back") << false << 3 << "完成" << late << "3002";
        QTest::newRow("output never back") << false << -1 << "部分播出" << "以下分区没有播出：乙（" << "";
        // Loaded just after the tick of 08:00:07: it starts then, not a tick later.
        QTest::newRow("file loaded late") << true << 3 << "完成"
                                          << "以下分区的声音输出恢复后补播，晚于铃声时刻：乙（2002 毫秒）" << "2002";
    }
    void aSilentZoneIsRetriedWithinTheWindow()
    {
        QFETCH(bool, slowFile);
        QFETCH(int, backAfter);
        QFETCH(QString, status);
        QFETCH(QString, reason);
        QFETCH(QString, delay);
        ZoneFixture f;
        f.engine.setCatchUpSeconds(10);
        (slowFile ? f.slow : f.down) << "pulse/yi";
        f.addIn(f.at(8, 0, 5), "both", {f.jia, f.yi});
        f.tickRange(f.at(8, 0, 3), f.at(8, 0, 5));
        TimedPlayer *yi = f.of("pulse/yi");
        QCOMPARE(f.status(1), QStringLiteral("部分播出"));
        for (int s = 6; s <= 20; ++s) {
            if (backAfter >= 0 && s == 5 + backAfter) {
                yi->outputDown = yi->slowOpen = false;
                yi->finishOpen();
            }
            f.tickAt(8, 0, s);
        }
        QCOMPARE(yi->played, backAfter >= 0 ? QStringList{"both.mp3"} : QStringList{});
        const QStringList r = f.records();
        QCOMPARE(r.size(), 1);
        QCOMPARE(r[0].section(' ', 2, 2), status);
        QVERIFY2(r[0].section(' ', 4).startsWith(reason), qPrintable(r[0]));
        if (backAfter >= 0)
            QCOMPARE(r[0].section(' ', 3, 3), delay);
        QCOMPARE(f.status(1), status);
        // Tried at every second of the window (each try opens), then no more.
        const qsizetype tries = yi->log.count("open both.mp3");
        if (!slowFile) // a slow file goes on loading: opened once
            QVERIFY2(tries >= (backAfter >= 0 ? backAfter : 10), qPrintable(QString::number(tries)));
        f.tickRange(f.at(8, 0, 21), f.at(8, 0, 40));
        QCOMPARE(yi->log.count("open both.mp3"), tries);
    }

    // A hold (an emergency) ends the retries: the zone that comes back
    // afterwards, still inside the window, does not ring the old bell late.
    void aHoldEndsTheRetriesOfASilentZone()
    {
        ZoneFixture f;
        f.engine.setCatchUpSeconds(10);
        f.down << "pulse/yi";
        f.addIn(f.at(8, 0, 5), "both", {f.jia, f.yi});
        f.tickRange(f.at(8, 0, 3), f.at(8, 0, 6));
        f.engine.holdBells("held");
        f.of("pulse/yi")->outputDown = false;
        f.tickRange(f.at(8, 0, 7), f.at(8, 0, 8));
        f.engine.releaseBells();
        f.tickRange(f.at(8, 0, 9), f.at(8, 0, 14));
        QCOMPARE(f.of("pulse/yi")->played, QStringList{});
        QCOMPARE(f.status(1), QStringLiteral("部分播出"));
    }

    // Every zone's player is watched: an output that dies mid-bell names the
    // zone cut off; the bell is 部分播出 where another zone plays it to its
    // end, 中断 where it is cut off everywhere, and it ends with its last zone.
    void aZoneCutOffMidBellIsNamedAndTheBellEndsWithItsLastZone_data()
    {
        QTest::addColumn<bool>("bothCut");
        QTest::addColumn<QString>("record");
        QTest::addColumn<int>("ended");
        QTest::newRow("甲 plays it to its end")
            << false << "部分播出 2 " + OutputGroup::cutZonesText({"乙"}) << int(BellStatus::Done);
        QTest::newRow("cut off in both")
            << true << "中断 2 " + OutputGroup::cutZonesText({"乙", "甲"}) << int(BellStatus::Interrupted);
    }
    void aZoneCutOffMidBellIsNamedAndTheBellEndsWithItsLastZone()
    {
        QFETCH(bool, bothCut);
        QFETCH(QString, record);
        QFETCH(int, ended);
        ZoneFixture f;
        f.addIn(f.at(8, 0, 5), "both", {f.jia, f.yi});
        QList<int> ends;
        QObject::connect(&f.engine, &RingEngine::bellEnded, [&](int, BellStatus s) { ends << int(s); });
        f.tickRange(f.at(8, 0, 4), f.at(8, 0, 6));
        f.of("pulse/yi")->interruptNow();
        QVERIFY(ends.isEmpty()); // 甲 still sounds
        QCOMPARE(f.records().first().section(' ', 2), QStringLiteral("部分播出 2 ")
                     + OutputGroup::cutZonesText({"乙"}));
        if (bothCut)
            f.of("pulse/jia")->interruptNow();
        f.tickRange(f.at(8, 0, 7), f.at(8, 0, 11)); // 甲 ends at its length
        QCOMPARE(ends, QList<int>{ended});
        QCOMPARE(f.records().first().section(' ', 2), record);
        QCOMPARE(f.status(1), record.section(' ', 0, 0));
    }

    // The next bell cuts the bell still sounding on 铃声输出, whether it rings
    // there too or in zones.
    void theNextBellCutsTheBellOnTheMainOutput_data()
    {
        QTest::addColumn<bool>("inZones");
        QTest::newRow("a plain bell") << false;
        QTest::newRow("a bell in zones") << true;
    }
    void theNextBellCutsTheBellOnTheMainOutput()
    {
        QFETCH(bool, inZones);
        ZoneFixture f;
        f.add(f.at(8, 0, 5), "long"); // 5 s: sounds until 08:00:10
        if (inZones)
            f.addIn(f.at(8, 0, 7), "next", {f.jia});
        else
            f.add(f.at(8, 0, 7), "next");
        f.tickRange(f.at(8, 0, 4), f.at(8, 0, 6));
        QVERIFY(f.player.isPlaying());
        f.tickAt(8, 0, 7);
        QVERIFY(!f.player.isPlaying());
        QCOMPARE(f.spare.isPlaying() || (f.of("pulse/jia") && f.of("pulse/jia")->isPlaying()), true);
        QCOMPARE(f.records(), (QStringList{"08:00:05 long 完成 2", "08:00:07 next 完成 2"}));
    }

    // A zone whose file still loads at the bell's second starts the moment
    // it has loaded, inside the catch-up window, and the record has its
    // delay, as a bell on 铃声输出 does; loaded in no zone within the
    // window, the bell fails for its slow file.
    void aZoneWhoseFileLoadsLateStartsWhenLoaded_data()
    {
        QTest::addColumn<bool>("bothZones"); // else in 乙 alone
        QTest::addColumn<int>("loadedAfterMs");
        QTest::addColumn<QString>("record");
        QTest::newRow("one zone of two") << true << 1500
                                         << "08:00:05 both 完成 1500 " + OutputGroup::lateZonesText({"乙（1500 毫秒）"});
        QTest::newRow("its only zone") << false << 1500 << "08:00:05 both 完成 1500";
        QTest::newRow("after the window") << false << 4500
                                          << "08:00:05 both 失败 - " + RingEngine::kSlowOpenReason;
    }
    void aZoneWhoseFileLoadsLateStartsWhenLoaded()
    {
        QFETCH(bool, bothZones);
        QFETCH(int, loadedAfterMs);
        QFETCH(QString, record);
        ZoneFixture f;
        f.engine.setCatchUpSeconds(3);
        f.slow << "pulse/yi";
        f.addIn(f.at(8, 0, 5), "both", bothZones ? QList<qint64>{f.jia, f.yi} : QList<qint64>{f.yi});
        f.tickRange(f.at(8, 0, 3), f.at(8, 0, 5));
        QVERIFY(f.records().size() == (bothZones ? 1 : 0)); // waits for its file, not failed
        for (int s = 6; (s - 5) * 1000 < loadedAfterMs; ++s)
            f.tickAt(8, 0, s);
        const QDateTime loaded(QDate(2026, 12, 7), QTime(8, 0, 5).addMSecs(loadedAfterMs));
        f.clock.set(loaded);
        TimedPlayer *yi = f.of("pulse/yi");
        yi->slowOpen = false;
        yi->finishOpen();
        const bool late = loadedAfterMs < 3000;
        QCOMPARE(yi->played, late ? QStringList{"both.mp3"} : QStringList{});
        if (late)
            QCOMPARE(yi->playTimes.last(), loaded);
        f.tickRange(f.at(8, 0, 10), f.at(8, 0, 20));
        QCOMPARE(f.records(), QStringList{record});
    }

    // The next bell is opened ahead in its zones while a zone still sounds
    // the bell before: that zone keeps it to the next bell's second, the
    // other starts by its 提前; rang names the zones that sounded.
    void aZoneStillSoundingKeepsTheBellBeforeToTheSecond()
    {
        ZoneFixture f;
        f.zoneStore.update({f.yi, "乙", "pulse/yi", 400});
        f.engine.setZones(f.zoneStore.list());
        f.addIn(f.at(8, 0, 5), "first", {f.jia}); // 5 s: sounds until 08:00:10
        f.addIn(f.at(8, 0, 7), "next", {f.jia, f.yi});
        QList<QList<qint64>> rang;
        QObject::connect(&f.engine, &RingEngine::rang, [&](int, const QList<qint64> &z) { rang << z; });
        f.tickRange(f.at(8, 0, 4), f.at(8, 0, 5)); // 08:00:05 opens "next" ahead
        TimedPlayer *jia = f.of("pulse/jia");
        TimedPlayer *yi = f.of("pulse/yi");
        QVERIFY(jia && yi);
        QTRY_COMPARE_WITH_TIMEOUT(yi->playCount, 1, 5000); // its 提前
        QVERIFY(jia->isPlaying());
        QCOMPARE(jia->fileName(), f.paths.musicFile("first.mp3"));
        f.tickRange(f.at(8, 0, 6), f.at(8, 0, 7));
        QCOMPARE(jia->played, (QStringList{"first.mp3", "next.mp3"}));
        QCOMPARE(jia->playTimes.last(), QDateTime(QDate(2026, 12, 7), QTime(8, 0, 7, 2)));
        QCOMPARE(yi->playCount, 1);
        QVERIFY(yi->isPlaying());
        QCOMPARE(f.records(), (QStringList{"08:00:05 first 完成 2", "08:00:07 next 完成 2"}));
        QCOMPARE(rang, (QList<QList<qint64>>{{f.jia}, {f.jia, f.yi}}));
    }

    // A zone back after the bell has ended in every other zone: the bell
    // sounds again there (rang, then its own end), late, on one record.
    void aZoneBackAfterTheOthersEndedRingsTheBellAgain()
    {
        ZoneFixture f;
        f.engine.setCatchUpSeconds(10);
        f.down << "pulse/yi";
        f.addIn(f.at(8, 0, 5), "both", {f.jia, f.yi}); // 5 s: 甲 ends at 08:00:10
        QList<QList<qint64>> rang;
        QList<int> ends;
        QObject::connect(&f.engine, &RingEngine::rang, [&](int, const QList<qint64> &z) { rang << z; });
        QObject::connect(&f.engine, &RingEngine::bellEnded, [&](int, BellStatus s) { ends << int(s); });
        f.tickRange(f.at(8, 0, 3), f.at(8, 0, 11));
        QCOMPARE(ends, QList<int>{int(BellStatus::Done)});
        f.of("pulse/yi")->outputDown = false;
        f.tickAt(8, 0, 12);
        QCOMPARE(rang, (QList<QList<qint64>>{{f.jia}, {f.yi}}));
        QCOMPARE(f.records(), QStringList{"08:00:05 both 完成 7002 "
                                          + OutputGroup::lateZonesText({"乙（7002 毫秒）"})});
        f.tickRange(f.at(8, 0, 13), f.at(8, 0, 18));
        QCOMPARE(ends, (QList<int>{int(BellStatus::Done), int(BellStatus::Done)}));
    }

    void stoppingStopsEveryZone()
    {
        ZoneFixture f;
        f.addIn(f.at(8, 0, 5), "both", {f.jia, f.yi});
        f.tickRange(f.at(8, 0, 4), f.at(8, 0, 6));
        QVERIFY(f.of("pulse/jia")->isPlaying() && f.of("pulse/yi")->isPlaying());
        f.engine.ButtonPlayClick();
        QVERIFY(!f.of("pulse/jia")->isPlaying());
        QVERIFY(!f.of("pulse/yi")->isPlaying());
    }
};

QTEST_GUILESS_MAIN(RingZonesTest)
#include "tst_ringzones.moc"
