// The recorder never loses a record: a bell cut by the program's end reads
// 中断, what the store does not take when the program ends waits in a file
// (beside the store, else in the user's state folder) and comes into the
// history at the next start, where the day's list reads it; a record dropped
// for good is logged with its bell; and the band counts the waiting records
// also while a copy rings.
#include "ringfixture.h"
#include "storekeeper.h"
#include "storetext.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryDir>

class RecorderTest : public QObject {
    Q_OBJECT

    // The store as the program finds it when it cannot write: read only.
    static void makeReadOnly(RingFixture &f)
    {
        f.store.close();
        QVERIFY(f.store.openCopy(f.home.db()).isEmpty());
        QVERIFY(f.store.isReadOnly());
    }
    static int recordsIn(const QString &file)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? int(QJsonDocument::fromJson(f.readAll()).array().size()) : -1;
    }

private slots:
    void aBellCutByTheEndIsInterrupted_data()
    {
        QTest::addColumn<int>("endsAt");
        QTest::addColumn<QString>("record");
        QTest::newRow("sounding") << 7 << "08:00:05 长铃 中断 2 " + RingHistory::kEndedReason;
        QTest::newRow("over") << 20 << QStringLiteral("08:00:05 长铃 完成 2");
    }
    void aBellCutByTheEndIsInterrupted()
    {
        QFETCH(int, endsAt);
        QFETCH(QString, record);
        RingFixture f;
        f.home.touchMusic("长铃.mp3");
        f.player.lengths["长铃.mp3"] = 10000;
        f.spare.lengths["长铃.mp3"] = 10000;
        f.store.insert({0, RingFixture::at(8, 0, 5), "长铃", "长铃.mp3", RingFixture::allDays(), "", ""});
        f.tickRange(RingFixture::at(8, 0, 0), RingFixture::at(8, 0, endsAt));
        QVERIFY(f.history.closeAtEnd({}));
        QCOMPARE(f.records(), QStringList{record});
    }

    void recordsTheStoreDoesNotTakeWaitForTheNextStart()
    {
        RingFixture f;
        f.add(RingFixture::at(8, 0, 5), "first");
        f.add(RingFixture::at(8, 0, 9), "second");
        f.add(RingFixture::at(9, 0, 0), "later");
        makeReadOnly(f);
        // Both over before the end (one still sounding would read 中断).
        f.tickRange(RingFixture::at(8, 0, 0), RingFixture::at(8, 0, 15));
        QCOMPARE(f.played(), QStringList({"first.mp3", "second.mp3"}));
        QCOMPARE(f.history.queued(), 2);
        QTemporaryDir state;
        const QStringList places = {f.paths.dataFolder() + RingHistory::kWaitingFile,
                                    state.filePath("daling/") + RingHistory::kWaitingFile};
        QVERIFY(f.history.closeAtEnd(places));
        QCOMPARE(recordsIn(places[0]), 2);
        f.store.close();

        // The next start, the store writable again, at 08:30.
        f.clock.setTime(QTime(8, 30, 0));
        BellStore store;
        QVERIFY(store.open(f.home.db()).isEmpty());
        RingHistory history(store);
        QCOMPARE(history.loadWaiting(places), 2);
        QVERIFY(QFile::exists(places[0])); // until the store has them
        QVERIFY(history.flush());
        QVERIFY(!QFile::exists(places[0]));
        QCOMPARE(history.day(f.clock.now().date()).size(), 2);
        // Each still names its entry, so the list finds it by its id.
        const QList<BellEntry> listed = store.list(WeekdaySet::allPattern());
        const QList<RingRecord> kept = history.day(f.clock.now().date());
        QCOMPARE(kept[0].entryId, std::optional<qint64>(listed[0].id));
        QCOMPARE(kept[1].entryId, std::optional<qint64>(listed[1].id));
        BellBoard board(store, f.clock, f.paths);
        board.setHistory(&history);
        board.setRunning(true);
        board.setLabelNowTime(QString::number(RingFixture::at(8, 30, 0)));
        board.Refresh();
        QCOMPARE(board.statusText(1), QStringLiteral("完成")); // not 已过
        QCOMPARE(board.statusText(2), QStringLiteral("完成"));
        QVERIFY(board.statusText(3).isEmpty());
        // Loaded once: a later start finds nothing more.
        RingHistory again(store);
        QCOMPARE(again.loadWaiting(places), 0);
    }

    // Where the file goes: beside the store, else the state folder (data/
    // not writable, or its disk full); nowhere: every record is logged.
    void theWaitingFileGoesWhereItCanBeWritten_data()
    {
        QTest::addColumn<bool>("dataWritable");
        QTest::addColumn<bool>("stateWritable");
        QTest::addColumn<int>("kept"); // 0: data/, 1: state, -1: nowhere
        QTest::newRow("data") << true << true << 0;
        QTest::newRow("state") << false << true << 1;
        QTest::newRow("nowhere") << false << false << -1;
    }
    void theWaitingFileGoesWhereItCanBeWritten()
    {
        QFETCH(bool, dataWritable);
        QFETCH(bool, stateWritable);
        QFETCH(int, kept);
        RingFixture f;
        makeReadOnly(f);
        QTemporaryDir state;
        // /proc takes no file, not even from root.
        const QStringList places = {
            (dataWritable ? f.paths.dataFolder() : QStringLiteral("/proc/daling-none/")) + RingHistory::kWaitingFile,
            (stateWritable ? state.filePath("daling/") : QStringLiteral("/proc/daling-none/")) + RingHistory::kWaitingFile};
        for (int s : {5, 9, 14})
            f.history.record({0, f.clock.now().date(), RingFixture::at(8, 0, s), "上课", "a.mp3", BellStatus::Done, 3, {}});
        if (kept < 0)
            for (int s : {5, 9, 14})
                QTest::ignoreMessage(QtWarningMsg, QRegularExpression(
                    QStringLiteral("ring record lost: 2026-12-07 08:00:%1 上课 完成").arg(s, 2, 10, QChar(u'0'))));
        QCOMPARE(f.history.saveWaiting(places), kept >= 0);
        for (int i = 0; i < 2; ++i)
            QCOMPARE(recordsIn(places[i]), i == kept ? 3 : -1);
    }

    void aRecordDroppedFromAFullQueueIsLogged()
    {
        RingFixture f;
        makeReadOnly(f);
        for (int i = 0; i < RingHistory::kMaxQueued; ++i)
            f.history.record({0, f.clock.now().date(), 100 + i % 60, "课", "a.mp3", BellStatus::Done, 3, {}});
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("ring record dropped, too many waiting: 2026-12-07 00:01:40 课 完成"));
        f.history.record({0, f.clock.now().date(), 7, "新", "a.mp3", BellStatus::Done, 3, {}});
        QCOMPARE(f.history.queued(), RingHistory::kMaxQueued);
    }

    void theBandCountsWaitingRecordsWhileACopyRings()
    {
        RingFixture f;
        f.add(RingFixture::at(8, 0, 5), "first");
        {
            StoreKeeper morning(f.store, f.paths, f.clock);
            morning.check();
            QVERIFY(morning.waitForCopy());
        }
        f.store.close();
        QFile db(f.home.db());
        QVERIFY(db.open(QIODevice::ReadWrite));
        db.write(QByteArray(4096, 'x')); // no database any more
        db.close();
        StoreKeeper keeper(f.store, f.paths, f.clock);
        keeper.openAtStart();
        QCOMPARE(keeper.source(), StoreKeeper::Source::Copy);
        keeper.setHistory(&f.history);
        f.tickRange(RingFixture::at(8, 0, 0), RingFixture::at(8, 0, 6));
        QCOMPARE(f.played(), QStringList{"first.mp3"});
        keeper.check();
        const QString band = keeper.health().bandText();
        QVERIFY2(band.contains(u"打铃记录暂时无法保存：1 条"), qPrintable(band));
    }
};

QTEST_GUILESS_MAIN(RecorderTest)
#include "tst_recorder.moc"
