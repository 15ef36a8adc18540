// The bell list lives on in the grid when the store goes bad during the
// day: bells already listed still ring at their seconds. A store that cannot
// be used at start rings from its last good copy, a deleted one is written
// back, the damaged file is never written over, and every message the
// operator reads about the store is Chinese first.
#include "ringfixture.h"
#include "storekeeper.h"
#include "storetext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

class StoreFaultTest : public QObject {
    Q_OBJECT

    static void corrupt(const QString &path)
    {
        for (const QString &p : {path, path + "-wal", path + "-shm"}) {
            QFile f(p);
            if (f.exists() && f.open(QIODevice::ReadWrite)) {
                f.write(QByteArray(int(std::min<qint64>(f.size(), 65536)), '\x5a'));
                f.close();
            }
        }
    }

    // Overwrites 4 KiB of the file at the offset: at 0 the header (no
    // database any more), at 4096 the first table's page (malformed).
    static void breakAt(const QString &path, qint64 offset)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.seek(offset));
        f.write(QByteArray(4096, '\x5a'));
    }
    static QByteArray bytesOf(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static QStringList namesIn(const QString &path)
    {
        BellStore s;
        if (!s.openCopy(path).isEmpty())
            return {"unreadable"};
        QStringList out;
        for (const BellEntry &e : s.list("%"))
            out << e.name;
        return out;
    }

private slots:
    void engineTextsReachTheOperatorInChinese_data()
    {
        QTest::addColumn<QString>("engine");
        QTest::addColumn<QString>("chinese");
        QTest::newRow("full") << "database or disk is full" << "磁盘空间已满";
        QTest::newRow("io") << "disk I/O error" << "磁盘读写出错";
        QTest::newRow("malformed") << "database disk image is malformed" << "已损坏";
        QTest::newRow("not a database") << "file is not a database" << "已损坏";
        QTest::newRow("read-only") << "attempt to write a readonly database" << "只能读取";
        QTest::newRow("locked") << "database is locked" << "其他程序占用";
        QTest::newRow("unknown") << "near \"x\": syntax error" << "读写失败";
    }
    void engineTextsReachTheOperatorInChinese()
    {
        QFETCH(QString, engine);
        QFETCH(QString, chinese);
        const QString text = storetext::describe(engine);
        QVERIFY2(text.startsWith(u"铃声列表") || text.startsWith(u"磁盘"), qPrintable(text));
        QVERIFY2(text.contains(chinese), qPrintable(text));
        QVERIFY(text.endsWith(QStringLiteral("（%1）").arg(engine)));
        QCOMPARE(storetext::describe(text), text); // never described twice
    }

    void damagedStoreRingsFromTheNewestCopyAndIsKept_data()
    {
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<QString>("engine");
        QTest::newRow("header") << qint64(0) << "file is not a database";
        QTest::newRow("pages") << qint64(4096) << "malformed";
    }
    void damagedStoreRingsFromTheNewestCopyAndIsKept()
    {
        QFETCH(qint64, offset);
        QFETCH(QString, engine);
        RingFixture f;
        f.add(RingFixture::at(8, 0, 5), "first");
        f.add(RingFixture::at(8, 0, 9), "second");
        {
            StoreKeeper yesterday(f.store, f.paths, f.clock);
            f.clock.set(f.clock.now().addDays(-1));
            yesterday.check();
            QVERIFY(yesterday.waitForCopy());
            f.clock.set(f.clock.now().addDays(1));
        }
        f.store.insert({0, RingFixture::at(9, 0, 0), "added today", "x.mp3", RingFixture::allDays(), "", ""});
        f.store.close(); // its journal is folded into the file
        breakAt(f.home.db(), offset);
        const QByteArray damaged = bytesOf(f.home.db());

        StoreKeeper keeper(f.store, f.paths, f.clock);
        QVERIFY(!keeper.openAtStart().isEmpty());
        QCOMPARE(keeper.source(), StoreKeeper::Source::Copy);
        const QString band = keeper.health().bandText();
        QVERIFY2(band.startsWith(u"铃声列表文件已损坏") && band.contains("2026-12-06 的备份") && band.contains(engine),
                 qPrintable(band));
        QCOMPARE(keeper.health().level(), StoreHealth::Level::Fault);
        f.tickRange(RingFixture::at(8, 0, 0), RingFixture::at(8, 0, 10));
        QCOMPARE(f.played(), QStringList({"first.mp3", "second.mp3"}));
        // Retried every minute, still damaged: never written over, and no
        // copy of today is made from it.
        keeper.check();
        QCOMPARE(keeper.source(), StoreKeeper::Source::Copy);
        QCOMPARE(bytesOf(f.home.db()), damaged);
        QVERIFY(!keeper.backup().hasCopyOf(f.clock.now().date()));
        QVERIFY_THROWS_EXCEPTION(StoreError, f.store.insert({0, 1, "x", "x.mp3", "", "", ""}));
    }

    void storeThatComesBackIsLoadedAtTheNextCheck()
    {
        RingFixture f;
        f.add(RingFixture::at(8, 0, 5), "first");
        f.store.close();
        const QString aside = f.home.path() + "aside.db";
        QVERIFY(QFile::rename(f.home.db(), aside));
        QVERIFY(QFile(f.home.db()).open(QIODevice::WriteOnly)); // an empty file: no database
        breakAt(f.home.db(), 0);
        StoreKeeper keeper(f.store, f.paths, f.clock);
        keeper.openAtStart();
        QCOMPARE(keeper.source(), StoreKeeper::Source::Nothing);
        QVERIFY(keeper.health().bandText().contains(u"没有可用的备份"));
        QSignalSpy replaced(&keeper, &StoreKeeper::listReplaced);
        QFile::remove(f.home.db());
        QVERIFY(QFile::rename(aside, f.home.db()));
        keeper.check();
        QCOMPARE(keeper.source(), StoreKeeper::Source::Store);
        QCOMPARE(replaced.size(), 1);
        QCOMPARE(keeper.health().level(), StoreHealth::Level::None);
        QCOMPARE(f.store.list("%").size(), 1);
    }

    void storeDeletedWhileRunningIsWrittenBackFromMemory()
    {
        RingFixture f;
        f.add(RingFixture::at(8, 0, 5), "first");
        f.add(RingFixture::at(8, 0, 9), "second");
        const auto mode = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
            | QFileDevice::WriteGroup | QFileDevice::ReadOther;
        QVERIFY(QFile::setPermissions(f.home.db(), mode));
        StoreKeeper keeper(f.store, f.paths, f.clock);
        QVERIFY(keeper.openAtStart().isEmpty());
        f.tickRange(RingFixture::at(8, 0, 0), RingFixture::at(8, 0, 6));
        QVERIFY(QDir(f.home.path() + "data").removeRecursively()); // the copies go too
        keeper.check();
        QCOMPARE(namesIn(f.home.db()), QStringList({"first", "second"}));
        QCOMPARE(QFile::permissions(f.home.db()) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser), mode);
        QCOMPARE(keeper.health().bandText(), storetext::writtenBackFromMemory());
        QVERIFY(keeper.health().dismissable());
        f.tickRange(RingFixture::at(8, 0, 7), RingFixture::at(8, 0, 10));
        QCOMPARE(f.played(), QStringList({"first.mp3", "second.mp3"}));
        // Written to the file that is there now, not to the deleted one.
        QCOMPARE(f.records().size(), 2);
        QCOMPARE(RingHistory(f.store).day(QDate(2026, 12, 7)).size(), 2);
        keeper.health().dismiss();
        QCOMPARE(keeper.health().level(), StoreHealth::Level::None);
    }

    void goneStoreComesBackFromItsCopyAtStart()
    {
        RingFixture f;
        f.add(RingFixture::at(8, 0, 5), "first");
        {
            StoreKeeper morning(f.store, f.paths, f.clock);
            morning.check();
            QVERIFY(morning.waitForCopy());
        }
        f.store.close();
        QVERIFY(QFile::remove(f.home.db()));
        StoreKeeper keeper(f.store, f.paths, f.clock);
        QVERIFY(keeper.openAtStart().isEmpty());
        QCOMPARE(f.store.list("%").size(), 1);
        QVERIFY(keeper.health().bandText().contains(u"已从 2026-12-07 的备份恢复"));
        // Gone with no copy left: nothing new is made in its place.
        f.store.close();
        QVERIFY(QFile::remove(f.home.db()));
        QVERIFY(QDir(f.paths.backupFolder()).removeRecursively());
        QVERIFY(QDir().mkpath(f.paths.backupFolder()));
        StoreKeeper again(f.store, f.paths, f.clock);
        again.openAtStart();
        QCOMPARE(again.source(), StoreKeeper::Source::Nothing);
        QVERIFY(!QFile::exists(f.home.db()));
    }

    void aCopyADayAndBeforeTheListIsReplaced()
    {
        RingFixture f;
        f.add(RingFixture::at(8, 0, 5), "first");
        StoreKeeper keeper(f.store, f.paths, f.clock);
        QVERIFY(keeper.openAtStart().isEmpty());
        const QDate start = f.clock.now().date();
        for (int day = 0; day < StoreBackup::kKeep + 2; ++day) {
            f.clock.set(QDateTime(start.addDays(day), QTime(8, 0, 0)));
            keeper.check();
            QVERIFY(keeper.waitForCopy());
        }
        const auto copies = keeper.backup().copies();
        QCOMPARE(copies.size(), StoreBackup::kKeep);
        QCOMPARE(copies.first().date, start.addDays(StoreBackup::kKeep + 1));
        QCOMPARE(copies.last().date, start.addDays(2));
        QVERIFY(copies.first().path.endsWith("data/备份/dbDaLing-2026-12-22.db"));
        // The other operators may read and replace the copies too.
        QCOMPARE(int(QFileInfo(copies.first().path).permissions() & 0x0666), 0x0664);
        QCOMPARE(int(QFileInfo(f.paths.backupFolder()).permissions() & 0x0777), 0x0775);
        // Once a day: a later check the same day keeps the morning's copy.
        f.add(RingFixture::at(9, 0, 0), "second");
        keeper.check();
        QVERIFY(!keeper.copying());
        QCOMPARE(namesIn(copies.first().path), QStringList({"first"}));
        // Before the list is replaced as a whole, the copy is taken anew.
        const QList<std::pair<const char *, std::function<void()>>> changes = {
            {"replaceAll", [&] { f.store.replaceAll({{0, 1, "imported", "i.mp3", "", "", ""}}); }},
            {"clear", [&] { f.store.clear(); }},
        };
        QStringList before = {"first", "second"};
        for (const auto &[what, change] : changes) {
            change();
            QVERIFY2(namesIn(copies.first().path) == before, what);
            before = {"imported"};
        }
        QVERIFY(keeper.health().bandText().isEmpty());
    }

    void fullDiskKeepsTheRecordsAndTheStoreComesBack()
    {
        const QString home = qEnvironmentVariable("DALING_FULL_HOME");
        if (home.isEmpty())
            QSKIP("run through storefull.sh");
        const AppPaths paths(home);
        FakeClock clock;
        QVERIFY(QDir().mkpath(paths.dataFolder()));
        QFile filler(home + "/filler");
        const auto fillTheDisk = [&] {
            QVERIFY(filler.open(QIODevice::WriteOnly));
            const QByteArray block(4096, 'f');
            while (filler.write(block) == block.size() && filler.flush()) {
            }
            filler.close();
        };
        const RingRecord rec{0, clock.now().date(), 8 * 3600, "上课", "a.mp3", BellStatus::Done, 3, {}};
        {
            BellStore store;
            StoreKeeper keeper(store, paths, clock);
            QVERIFY(keeper.openAtStart().isEmpty());
            store.insert({0, 8 * 3600, "上课", "a.mp3", "日一二三四五六", "", ""});
            keeper.check(); // the day's copy, while there is room
            QVERIFY(keeper.waitForCopy());
            RingHistory history(store);
            keeper.setHistory(&history);
            fillTheDisk();
            for (int i = 0; i < 40; ++i)
                history.record(rec);
            keeper.check();
            QCOMPARE(history.queued(), 40);
            const QString band = keeper.health().bandText();
            QVERIFY2(band.startsWith(u"打铃记录暂时无法保存：40 条") && band.contains("full"), qPrintable(band));
            // The program ends now: no room beside the store, so the records
            // wait in the state folder, and go once the store took them.
            QTemporaryDir state;
            const QStringList places = {paths.dataFolder() + RingHistory::kWaitingFile,
                                        state.filePath("daling/") + RingHistory::kWaitingFile};
            QVERIFY(history.closeAtEnd(places));
            QVERIFY(!QFile::exists(places[0]));
            QVERIFY(QFile::exists(places[1]));
            QVERIFY(QFile::remove(filler.fileName()));
            keeper.check();
            QCOMPARE(history.queued(), 0);
            QVERIFY(!QFile::exists(places[1]));
            QCOMPARE(keeper.health().level(), StoreHealth::Level::None);
            QCOMPARE(history.day(rec.date).size(), 40);
        }
        // A start on the full disk rings from the copy and opens the store
        // once there is room again.
        fillTheDisk();
        BellStore store;
        StoreKeeper keeper(store, paths, clock);
        QCOMPARE(keeper.openAtStart(), QStringLiteral("disk I/O error")); // no room for its shared memory
        QCOMPARE(keeper.source(), StoreKeeper::Source::Copy);
        QVERIFY(keeper.health().bandText().startsWith(u"磁盘读写出错"));
        QCOMPARE(store.list("%").size(), 1);
        QVERIFY(QFile::remove(filler.fileName()));
        keeper.check();
        QCOMPARE(keeper.source(), StoreKeeper::Source::Store);
        QCOMPARE(keeper.health().level(), StoreHealth::Level::None);
    }

    void storeDamagedWhileRunningRingsOnAndSwitchesToItsCopy()
    {
        RingFixture f;
        f.add(RingFixture::at(8, 0, 5), "first");
        f.add(RingFixture::at(8, 0, 9), "second");
        StoreKeeper keeper(f.store, f.paths, f.clock);
        QVERIFY(keeper.openAtStart().isEmpty());
        keeper.check(); // the morning's copy
        QVERIFY(keeper.waitForCopy());
        f.tickRange(RingFixture::at(8, 0, 0), RingFixture::at(8, 0, 6));
        corrupt(f.home.db());
        const QByteArray damaged = bytesOf(f.home.db());
        keeper.check();
        QCOMPARE(keeper.source(), StoreKeeper::Source::Copy);
        QVERIFY(keeper.health().bandText().startsWith(u"铃声列表文件已损坏"));
        f.tickRange(RingFixture::at(8, 0, 7), RingFixture::at(8, 0, 10));
        QCOMPARE(f.played(), QStringList({"first.mp3", "second.mp3"}));
        keeper.check();
        QCOMPARE(bytesOf(f.home.db()), damaged);
        // The next day's list comes from the copy.
        f.tickAt(QDateTime(QDate(2026, 12, 8), QTime(0, 0, 1, 2)));
        QCOMPARE(f.board.day().size(), 2);
    }

    void bellsRingAfterTheStoreIsCorrupted()
    {
        RingFixture f;
        f.add(RingFixture::at(8, 0, 5), "first");
        f.add(RingFixture::at(8, 0, 9), "second");
        f.add(RingFixture::at(8, 0, 14), "third");
        f.tickRange(RingFixture::at(8, 0, 0), RingFixture::at(8, 0, 2)); // running mode, list loaded
        QVERIFY(f.board.running());
        corrupt(f.home.db());
        f.tickRange(RingFixture::at(8, 0, 3), RingFixture::at(8, 0, 20));
        QCOMPARE(f.played(), QStringList({"first.mp3", "second.mp3", "third.mp3"}));
        QCOMPARE(f.player.playTimes[1].time(), QTime(8, 0, 9, 2));
        QCOMPARE(f.player.playTimes[2].time(), QTime(8, 0, 14, 2));
        QVERIFY(f.messages.shown.isEmpty()); // the clock swallows its reload failures
    }

    void bellsRingWhileAnotherProgramHoldsTheWriteLock()
    {
        RingFixture f;
        f.add(RingFixture::at(8, 0, 5), "first");
        f.add(RingFixture::at(8, 0, 8), "second");
        QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "locker");
        other.setDatabaseName(f.home.db());
        QVERIFY(other.open());
        {
            QSqlQuery lock(other);
            QVERIFY(lock.exec("begin exclusive"));
            f.tickRange(RingFixture::at(8, 0, 0), RingFixture::at(8, 0, 10));
            QCOMPARE(f.played(), QStringList({"first.mp3", "second.mp3"}));
            QCOMPARE(f.status(1), QStringLiteral("完成"));
            lock.exec("rollback");
        }
        other.close();
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase("locker");
    }
};

QTEST_GUILESS_MAIN(StoreFaultTest)
#include "tst_storefault.moc"
