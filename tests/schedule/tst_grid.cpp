#include "bellboard.h"
#include "fakes.h"

#include <QTest>

class GridTest : public QObject {
    Q_OBJECT
    static constexpr int kStatus = ScheduleGrid::ColStatus;

    struct Fixture {
        TempHome home;
        BellStore store;
        FakeClock clock{QDateTime(QDate(2026, 12, 9), QTime(8, 0, 0))}; // a Wednesday
        AppPaths paths{home.path()};
        BellBoard board{store, clock, paths};
        Fixture() { QVERIFY(store.open(home.db()).isEmpty()); }
        void add(qint64 t, const QString &name, const QString &days = QStringLiteral("日一二三四五六"))
        {
            store.insert({0, t, name, name + ".mp3", days, "12", "r"});
        }
    };

private slots:
    void stoppedModeListsEverythingWithoutStatus()
    {
        Fixture f;
        f.add(9 * 3600, "b", "一");
        f.add(7 * 3600, "a", "");
        f.add(10 * 3600, "c", "三");
        f.board.setLastEditedIndex(1);
        f.board.Refresh();
        auto &g = f.board.grid();
        QCOMPARE(g.gridRowCount(), 1 + 3 + 5);
        QCOMPARE(g.cell(ScheduleGrid::ColName, 1), QStringLiteral("a"));
        QCOMPARE(g.cell(ScheduleGrid::ColTime, 2), QStringLiteral("09:00:00"));
        QCOMPARE(g.cell(ScheduleGrid::ColNo, 3), QStringLiteral("3"));
        QCOMPARE(g.cell(ScheduleGrid::ColSeconds, 3), QString::number(10 * 3600));
        for (int r = 1; r <= 3; ++r)
            QVERIFY(g.cell(kStatus, r).isEmpty());
        QCOMPARE(g.selectedRow(), 2); // LastEditedIndex + 1
        QCOMPARE(f.board.dateText(), QStringLiteral(" 12月9日 周三"));
        QVERIFY(g.cell(ScheduleGrid::ColName, 4).isEmpty());
    }

    void runningModeMarksPastEntriesAndSelects()
    {
        Fixture f;
        f.add(7 * 3600, "early");
        f.add(8 * 3600, "now");
        f.add(9 * 3600, "later");
        f.add(9 * 3600, "monday only", "一");
        f.board.setRunning(true);
        f.board.setLabelNowTime(QString::number(8 * 3600));
        f.board.Refresh();
        auto &g = f.board.grid();
        QCOMPARE(g.gridRowCount(), 1 + 3 + 5);
        QCOMPARE(g.cell(kStatus, 1), QStringLiteral("完成"));
        QVERIFY(g.cell(kStatus, 2).isEmpty()); // not earlier than NowSeconds
        QCOMPARE(f.board.nextBellRow(), 2);
        QCOMPARE(g.selectedRow(), 7);

        // All past: the cursor is the first empty row, the selection the last row.
        f.board.setLabelNowTime(QString::number(23 * 3600));
        f.board.Refresh();
        QCOMPARE(f.board.nextBellRow(), 4);
        QCOMPARE(g.selectedRow(), g.lastRow());

        // A failed entry keeps its own status across reloads.
        f.board.setFault(f.board.rowKey(2), BellStatus::Missed);
        f.board.Refresh();
        QCOMPARE(g.cell(kStatus, 2), QStringLiteral("错过"));
        QCOMPARE(g.status(2), BellStatus::Missed);
        // A cutoff of the engine's own: the same entry is not past yet.
        f.board.refreshAt(0);
        QCOMPARE(f.board.nextBellRow(), 1);
        QVERIFY(g.cell(kStatus, 2).isEmpty());
    }

    void emptyResultLeavesGridAsItWas()
    {
        Fixture f;
        f.add(100, "only on Monday", "一");
        f.board.Refresh(); // stopped: one entry
        auto &g = f.board.grid();
        g.setSelectedRow(3);
        const int rows = g.gridRowCount();
        const QString date = f.board.dateText();
        f.board.setRunning(true);
        f.board.setLabelNowTime("0");
        f.clock.set(QDateTime(QDate(2026, 12, 10), QTime(0, 0, 1))); // Thursday
        f.board.Refresh();
        QCOMPARE(g.gridRowCount(), rows);
        QCOMPARE(g.selectedRow(), 3);
        QCOMPARE(f.board.dateText(), date);
        QVERIFY(g.cell(ScheduleGrid::ColName, 1).isEmpty()); // the cells were emptied
        QCOMPARE(f.board.nextBellRow(), 1);
    }

    void initialTextsAndColours()
    {
        Fixture f;
        QCOMPARE(f.board.dateText(), QStringLiteral("9月30日"));
        QCOMPARE(f.board.clockText(), QStringLiteral("88:88:88"));
        QCOMPARE(f.board.grid().gridRowCount(), 100);
        QCOMPARE(f.board.playCaption(), QStringLiteral("开  始"));
        QCOMPARE(bellstatus::background(BellStatus::Done), QColor(192, 220, 192));
        QCOMPARE(bellstatus::background(BellStatus::Playing), QColor(255, 0, 0));
        QCOMPARE(bellstatus::foreground(BellStatus::None), QColor(0, 0, 255));
        // Every way a bell did not sound looks the same: the orange of 失败.
        for (BellStatus s : {BellStatus::Missed, BellStatus::Interrupted}) {
            QCOMPARE(bellstatus::background(s), bellstatus::background(BellStatus::Failed));
            QCOMPARE(bellstatus::fromText(bellstatus::text(s)), s);
        }
        QVERIFY_THROWS_EXCEPTION(AppError, f.board.grid().cell(0, 100));
    }
};

QTEST_GUILESS_MAIN(GridTest)
#include "tst_grid.moc"
