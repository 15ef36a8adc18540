// The bell list lives on in the grid when the store goes bad during the
// day: bells already listed still ring at their seconds.
#include "ringfixture.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>

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

private slots:
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
