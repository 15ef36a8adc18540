// Bells under a live announcement, on the fake clock: a bell due in the
// paged zones waits and rings late with its delay, past the catch-up
// window it is 错过 with the reason; a bell sounding there is cut; bells
// elsewhere ring on time; an emergency during the wait ends it.
#include "pagingservice.h"
#include "ringfixture.h"
#include "zonestore.h"

#include <map>

namespace {

struct PagedFixture : RingFixture {
    ZoneStore zoneStore{store};
    std::map<QString, std::unique_ptr<TimedPlayer>> players; // by output
    qint64 jia = 0, yi = 0;
    PagedFixture()
    {
        jia = zoneStore.add({0, "甲", "pulse/jia", 0});
        yi = zoneStore.add({0, "乙", "pulse/yi", 0});
        engine.setZones(zoneStore.list());
        engine.zonePlayer = [this](const Zone &z) -> AudioPlayer * {
            auto &p = players[z.output];
            if (!p)
                p = std::make_unique<TimedPlayer>(&clock);
            return p.get();
        };
        beforeTick = [this] {
            for (auto &[out, p] : players)
                p->advance();
        };
    }
    qint64 addIn(qint64 t, const QString &name, const QList<qint64> &zones)
    {
        home.touchMusic(name + ".mp3");
        return store.insert({0, t, name, name + ".mp3", allDays(), "5", "", zones});
    }
    QStringList playedIn(const QString &output) { return players.count(output) ? players[output]->played : QStringList{}; }
    // The zones given back at this moment: what waited rings from the
    // event loop, as TimerPrepare runs it.
    void giveBackAt(const QTime &t)
    {
        clock.setTime(t);
        engine.giveBackZones();
        QVERIFY(engine.TimerPrepare.isActive());
        engine.TimerPrepare.stop();
        engine.TimerPrepareTimer();
        QCoreApplication::sendPostedEvents(&engine, QEvent::MetaCall);
    }
};

} // namespace

class PagingBellsTest : public QObject {
    Q_OBJECT
private slots:
    void aBellInThePagedZonesWaitsAndRingsLateOthersRingOnTime()
    {
        PagedFixture f;
        f.addIn(f.at(8, 0, 4), "yi", {f.yi});
        f.addIn(f.at(8, 0, 5), "jia", {f.jia});
        f.tickAt(8, 0, 1);
        f.clock.setTime(QTime(8, 0, 2, 500));
        f.engine.takeZones({f.jia}, false, PagingService::kHeldReason);
        f.tickRange(f.at(8, 0, 3), f.at(8, 0, 9));
        QCOMPARE(f.playedIn("pulse/yi"), QStringList{"yi.mp3"}); // not paged: on time
        QCOMPARE(f.playedIn("pulse/jia"), QStringList{});
        f.giveBackAt(QTime(8, 0, 9, 300));
        QCOMPARE(f.playedIn("pulse/jia"), QStringList{"jia.mp3"});
        const QStringList recs = f.records();
        QCOMPARE(recs.size(), 2);
        QCOMPARE(recs[0], QStringLiteral("08:00:04 yi 完成 2"));
        QCOMPARE(recs[1], QStringLiteral("08:00:05 jia 完成 4300"));
    }

    void pastTheCatchUpWindowItIsMissedWithTheReason_data()
    {
        QTest::addColumn<QList<int>>("bellZones"); // 0: 甲, 1: 乙; none: 铃声输出
        QTest::addColumn<bool>("everywhere");
        QTest::newRow("in the paged zone") << QList<int>{0} << false;
        QTest::newRow("in a paged and another zone") << QList<int>{0, 1} << false;
        QTest::newRow("on 铃声输出, everywhere paged") << QList<int>{} << true;
    }
    void pastTheCatchUpWindowItIsMissedWithTheReason()
    {
        QFETCH(QList<int>, bellZones);
        QFETCH(bool, everywhere);
        PagedFixture f;
        QList<qint64> zones;
        for (int z : bellZones)
            zones << (z == 0 ? f.jia : f.yi);
        f.engine.setCatchUpSeconds(3);
        f.addIn(f.at(8, 0, 5), "late", zones);
        f.tickAt(8, 0, 1);
        f.engine.takeZones({f.jia}, everywhere, PagingService::kHeldReason);
        f.tickRange(f.at(8, 0, 2), f.at(8, 0, 9));
        QCOMPARE(f.records(), QStringList{"08:00:05 late 错过 - 实时喊话中，没有播出"});
        QCOMPARE(f.status(1), QStringLiteral("错过"));
        f.clock.setTime(QTime(8, 0, 9, 500));
        f.engine.giveBackZones();
        f.tickAt(8, 0, 10);
        QCOMPARE(f.played() + f.playedIn("pulse/jia") + f.playedIn("pulse/yi"), QStringList{});
    }

    void aBellOnTheBellsOutputIsUntouchedByZonesPaged()
    {
        PagedFixture f;
        f.add(f.at(8, 0, 3), "main");
        f.tickAt(8, 0, 1);
        f.engine.takeZones({f.jia, f.yi}, false, PagingService::kHeldReason);
        f.tickRange(f.at(8, 0, 2), f.at(8, 0, 4));
        QCOMPARE(f.played(), QStringList{"main.mp3"});
    }

    void aBellSoundingInThePagedZoneIsCutOneElsewherePlaysOn_data()
    {
        QTest::addColumn<int>("bellZone"); // 0: 甲, 1: 乙
        QTest::addColumn<bool>("cut");
        QTest::newRow("paged zone") << 0 << true;
        QTest::newRow("other zone") << 1 << false;
    }
    void aBellSoundingInThePagedZoneIsCutOneElsewherePlaysOn()
    {
        QFETCH(int, bellZone);
        QFETCH(bool, cut);
        PagedFixture f;
        const QString out = bellZone == 0 ? "pulse/jia" : "pulse/yi";
        f.addIn(f.at(8, 0, 2), "long", {bellZone == 0 ? f.jia : f.yi});
        f.tickRange(f.at(8, 0, 1), f.at(8, 0, 3));
        QVERIFY(f.players[out]->isPlaying());
        f.engine.takeZones({f.jia}, false, PagingService::kHeldReason);
        QCOMPARE(f.players[out]->isPlaying(), !cut);
    }

    void anEmergencyDuringTheWaitEndsIt()
    {
        PagedFixture f;
        f.addIn(f.at(8, 0, 3), "jia", {f.jia});
        f.tickAt(8, 0, 1);
        f.engine.takeZones({f.jia}, false, PagingService::kHeldReason);
        f.tickRange(f.at(8, 0, 2), f.at(8, 0, 4));
        f.engine.holdBells(QStringLiteral("紧急广播中，没有播出"));
        f.clock.setTime(QTime(8, 0, 4, 500));
        f.engine.giveBackZones();
        QVERIFY(!f.engine.TimerPrepare.isActive());
        f.tickAt(8, 0, 5);
        QCOMPARE(f.playedIn("pulse/jia"), QStringList{});
        QCOMPARE(f.records(), QStringList{"08:00:03 jia 错过 - 紧急广播中，没有播出"});
    }
};

QTEST_GUILESS_MAIN(PagingBellsTest)
#include "tst_pagingbells.moc"
