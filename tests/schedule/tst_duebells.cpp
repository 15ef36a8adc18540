#include "duebells.h"

#include <QTest>

// Which bell rings at a tick and which have passed, without a clock or a
// player: seconds are of one day whose list starts at kDay.
class DueBellsTest : public QObject {
    Q_OBJECT

    static constexpr qint64 kDay = 2461382LL * 86400;

    // Entries at these seconds, ids 1, 2, …; -1 is an invalid time.
    static QList<BellEntry> bells(const QList<qint64> &seconds)
    {
        QList<BellEntry> out;
        for (qsizetype i = 0; i < seconds.size(); ++i)
            out << BellEntry{i + 1, seconds[i], {}, {}, {}, {}, {}};
        return out;
    }
    static BellKey key(const QList<BellEntry> &list, int index) { return {list[index].id, list[index].time}; }

private slots:
    void at_data()
    {
        QTest::addColumn<QList<qint64>>("seconds");
        QTest::addColumn<int>("from");
        QTest::addColumn<qint64>("prev");
        QTest::addColumn<qint64>("now");
        QTest::addColumn<QList<int>>("rung");
        QTest::addColumn<QList<int>>("kept");
        QTest::addColumn<int>("catchUp");
        QTest::addColumn<int>("ring");
        QTest::addColumn<int>("stop");

        using L = QList<qint64>;
        using I = QList<int>;
        QTest::newRow("at its second") << L{100} << 0 << 99LL << 100LL << I{} << I{} << 60 << 0 << 0;
        QTest::newRow("not yet") << L{100} << 0 << 98LL << 99LL << I{} << I{} << 60 << -1 << 0;
        QTest::newRow("late tick in the window") << L{100} << 0 << 99LL << 160LL << I{} << I{} << 60 << 0 << 0;
        QTest::newRow("late tick past the window") << L{100} << 0 << 99LL << 161LL << I{} << I{} << 60 << -1 << 1;
        QTest::newRow("no window, one second late") << L{100} << 0 << 99LL << 101LL << I{} << I{} << 0 << -1 << 1;
        QTest::newRow("due before the previous tick") << L{100} << 0 << 100LL << 101LL << I{} << I{} << 60 << -1 << 1;
        QTest::newRow("several due: the latest rings") << L{100, 200, 300, 400} << 0 << 50LL << 300LL << I{}
                                                       << I{} << 60 << 2 << 2;
        QTest::newRow("latest past the window: none") << L{100, 200} << 0 << 50LL << 300LL << I{} << I{} << 60
                                                      << -1 << 2;
        QTest::newRow("twins: the first rings") << L{100, 100} << 0 << 99LL << 100LL << I{} << I{} << 60 << 0 << 0;
        QTest::newRow("rung already: passes") << L{100} << 0 << 99LL << 100LL << I{0} << I{} << 60 << -1 << 1;
        QTest::newRow("rung later one: the earlier rings") << L{100, 120} << 0 << 99LL << 120LL << I{1} << I{}
                                                           << 60 << 0 << 0;
        QTest::newRow("kept after its tick") << L{100} << 0 << 105LL << 106LL << I{} << I{0} << 60 << 0 << 0;
        QTest::newRow("kept past the window") << L{100} << 0 << 160LL << 161LL << I{} << I{0} << 60 << -1 << 1;
        QTest::newRow("kept, a later bell due") << L{100, 130} << 0 << 129LL << 130LL << I{} << I{0} << 60 << 1
                                                << 1;
        QTest::newRow("invalid time never rings") << L{-1, 100} << 0 << 99LL << 100LL << I{} << I{} << 60 << 1 << 1;
        QTest::newRow("from the cursor") << L{100, 200} << 1 << 50LL << 200LL << I{} << I{} << 60 << 1 << 1;
        QTest::newRow("nothing left") << L{100} << 1 << 50LL << 200LL << I{} << I{} << 60 << -1 << 1;
        // Yesterday's list at the first ticks of the new day.
        QTest::newRow("midnight: last second late") << L{86399} << 0 << 86398LL << 86401LL << I{} << I{} << 60
                                                    << 0 << 0;
        QTest::newRow("midnight: past the window") << L{86399} << 0 << 86398LL << 86460LL << I{} << I{} << 60
                                                   << -1 << 1;
    }

    void at()
    {
        QFETCH(QList<qint64>, seconds);
        QFETCH(int, from);
        QFETCH(qint64, prev);
        QFETCH(qint64, now);
        QFETCH(QList<int>, rung);
        QFETCH(QList<int>, kept);
        QFETCH(int, catchUp);
        QFETCH(int, ring);
        QFETCH(int, stop);
        const QList<BellEntry> list = bells(seconds);
        BellsRung record;
        DueBells due{record};
        due.setCatchUpSeconds(catchUp);
        for (int i : rung)
            record.noteRung(kDay, key(list, i));
        QList<BellKey> keptKeys;
        for (int i : kept)
            keptKeys << key(list, i);
        const DueBells::Due got = due.at(list, from, kDay, kDay + prev, kDay + now, keptKeys);
        QCOMPARE(got.ring, ring);
        QCOMPARE(got.stop, stop);
    }

    void clockSetBackNeverRingsTwice()
    {
        const QList<BellEntry> list = bells({100, 200});
        BellsRung record;
        DueBells due{record};
        QCOMPARE(due.at(list, 0, kDay, kDay + 99, kDay + 100).ring, 0);
        record.noteRung(kDay, key(list, 0));
        // Set back before the bell: nothing is due, the cursor stays.
        QCOMPARE(due.at(list, 1, kDay, kDay + 100, kDay + 90), (DueBells::Due{-1, 1}));
        // Its second again, from the start of the list (a reload): passed.
        QCOMPARE(due.at(list, 0, kDay, kDay + 99, kDay + 100), (DueBells::Due{-1, 1}));
        // A failure is recorded too, but it is no sound of a twin.
        record.noteFailed(kDay, key(list, 1));
        QCOMPARE(due.at(list, 1, kDay, kDay + 199, kDay + 200), (DueBells::Due{-1, 2}));
        QVERIFY(record.secondRung(kDay, 100));
        QVERIFY(!record.secondRung(kDay, 200));
        QVERIFY(!record.wasRung(kDay + 86400, key(list, 0))); // another day's
    }

    void catchUpIsClamped()
    {
        BellsRung record;
        DueBells due{record};
        QCOMPARE(due.catchUpSeconds(), DueBells::kDefaultCatchUpSeconds);
        due.setCatchUpSeconds(-5);
        QCOMPARE(due.catchUpSeconds(), 0);
        due.setCatchUpSeconds(DueBells::kMaxCatchUpSeconds + 1);
        QCOMPARE(due.catchUpSeconds(), DueBells::kMaxCatchUpSeconds);
    }

    void newDayKeepsTodayAndYesterday()
    {
        BellsRung record;
        DueBells due{record};
        for (int d = 0; d < 4; ++d)
            record.noteRung(kDay + d * 86400, {1, 100});
        QCOMPARE(record.entriesHeld(), 4);
        record.newDay(kDay + 3 * 86400);
        QCOMPARE(record.entriesHeld(), 2);
        QVERIFY(record.wasRung(kDay + 2 * 86400, {1, 100}));
        QVERIFY(!record.wasRung(kDay + 86400, {1, 100}));
    }

    void skipped_data()
    {
        QTest::addColumn<qint64>("prev");
        QTest::addColumn<qint64>("now");
        QTest::addColumn<QList<int>>("rung");
        QTest::addColumn<QList<int>>("passed");
        QTest::addColumn<int>("next");
        using I = QList<int>;
        // Bells at 100, (invalid), 200, 300.
        QTest::newRow("before all") << 0LL << 50LL << I{} << I{} << 0;
        QTest::newRow("one passed since") << 150LL << 250LL << I{} << I{2} << 3;
        QTest::newRow("at its second") << 199LL << 200LL << I{} << I{2} << 3;
        QTest::newRow("recorded already") << 150LL << 250LL << I{2} << I{} << 3;
        QTest::newRow("clock jumped over two") << 50LL << 350LL << I{} << I{0, 2, 3} << -1;
        QTest::newRow("none left") << 350LL << 400LL << I{} << I{} << -1;
    }

    void skipped()
    {
        QFETCH(qint64, prev);
        QFETCH(qint64, now);
        QFETCH(QList<int>, rung);
        QFETCH(QList<int>, passed);
        QFETCH(int, next);
        const QList<BellEntry> list = bells({100, -1, 200, 300});
        BellsRung record;
        DueBells due{record};
        for (int i : rung)
            record.noteFailed(kDay, key(list, i));
        const DueBells::Skipped got = due.skipped(list, kDay, kDay + prev, kDay + now);
        QCOMPARE(got.passed, passed);
        QCOMPARE(got.next, next);
    }
};

QTEST_GUILESS_MAIN(DueBellsTest)
#include "tst_duebells.moc"
