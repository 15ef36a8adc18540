// The day's copy of a large store (about 200 MB, most of it history) runs
// while the bells ring at their seconds, the clock following the real one:
// the copy is made on its own thread and connection, so no bell's tick
// waits for it and none is recorded 错过.
#include "ringfixture.h"
#include "storekeeper.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlQuery>
#include <QTimer>

class StoreCopyTest : public QObject {
    Q_OBJECT
private slots:
    void theDayCopyOfALargeStoreNeverHoldsTheBells()
    {
        RingFixture f;
        {
            QSqlQuery q(f.store.database());
            QVERIFY(q.exec("create table ballast (b blob)"));
            QVERIFY(q.exec("with recursive n(i) as (select 1 union all select i + 1 from n where i < 200) "
                           "insert into ballast select zeroblob(1000000) from n"));
            QVERIFY(q.exec("PRAGMA wal_checkpoint(TRUNCATE)"));
        }
        QVERIFY(QFileInfo(f.home.db()).size() > 190'000'000);
        // A bell every second from 08:00:03 for two minutes.
        QList<BellEntry> bells;
        for (int s = 3; s < 123; ++s)
            bells.append({0, RingFixture::at(8, 0, 0) + s, QStringLiteral("第%1声").arg(s), "b.mp3",
                          RingFixture::allDays(), "", ""});
        f.addMany(bells);
        StoreKeeper keeper(f.store, f.paths, f.clock);
        QVERIFY(keeper.openAtStart().isEmpty()); // as at start, before the clock runs

        // The fake clock follows the real one from 08:00:00.
        const QDateTime start = f.clock.now();
        QElapsedTimer real;
        real.start();
        QTimer follow;
        follow.setTimerType(Qt::PreciseTimer);
        connect(&follow, &QTimer::timeout, this, [&] {
            f.clock.set(start.addMSecs(real.elapsed()));
            f.player.advance();
            f.spare.advance();
        });
        follow.start(5);
        f.engine.start();
        // At 08:00:02.9, just before a bell's second: a copy made on this
        // thread would hold that second's tick past the next one.
        bool started = false;
        QTimer::singleShot(2900, this, [&] {
            keeper.check();
            started = keeper.copying();
        });
        QTRY_VERIFY_WITH_TIMEOUT(started && !keeper.copying(), 100000);
        const QDateTime copied = f.clock.now();
        QTRY_VERIFY_WITH_TIMEOUT(f.clock.now() > copied.addSecs(2), 10000);
        f.engine.TimerShiJian.stop();
        follow.stop();

        QVERIFY(keeper.backup().hasCopyOf(start.date()));
        QVERIFY(!keeper.health().has(StoreHealth::Problem::BackupFailed));
        const QStringList records = f.records();
        qInfo() << "copy done at" << copied.time().toString("hh:mm:ss.zzz") << "with" << records.size()
                << "bells rung";
        QVERIFY(records.size() >= start.secsTo(copied) - 3);
        for (const QString &r : records)
            QVERIFY2(r.contains(u"完成"), qPrintable(r));
    }
};

QTEST_GUILESS_MAIN(StoreCopyTest)
#include "tst_storecopy.moc"
