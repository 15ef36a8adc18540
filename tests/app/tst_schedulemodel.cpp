// StringGridshow's model over the day's bells: what each cell reads and its
// colours, the spare rows, and which changes it announces.
#include <cmath>
#include "fakes.h"
#include "columnfit.h"
#include "schedulemodel.h"
#include "zonestore.h"

#include <QBrush>
#include <QSignalSpy>
#include <QTest>

class ScheduleModelTest : public QObject {
    Q_OBJECT

    struct Fixture {
        TempHome home;
        BellStore store;
        FakeClock clock{QDateTime(QDate(2026, 12, 9), QTime(8, 0, 0))};
        BellBoard board{store, clock, AppPaths(home.path())};
        ScheduleModel model{board};
        Fixture()
        {
            if (!store.open(home.db()).isEmpty())
                qFatal("store did not open");
            store.insert({0, 7 * 3600, "早", "a.mp3", "日一二三四五六", "12", "备"});
            store.insert({0, 9 * 3600, "晚", "b.mp3", "日一二三四五六", "", ""});
            board.setRunning(true);
            board.setLabelNowTime(QString::number(8 * 3600));
            board.Refresh();
        }
        QString text(int col, int row) const { return model.cellText(col, row); }
        QColor colour(int col, int row, int role) const
        {
            return model.data(model.index(row - 1, col), role).value<QBrush>().color();
        }
    };

private slots:
    // The short columns keep their natural width; 名称 and 音乐 keep theirs
    // while they can, else the three long ones share fairly; 备注 takes
    // what is left, so the columns fill the list exactly.
    void columnsFitTheWidth_data()
    {
        QTest::addColumn<int>("available");
        QTest::addColumn<QList<int>>("longs"); // natural 名称, 音乐, 备注
        QTest::addColumn<QList<int>>("want");  // fitted 名称, 音乐, 备注
        // Short columns: 30 + 86 + 128 + 42 + 76 = 362.
        QTest::newRow("wide") << 1700 << QList<int>{80, 200, 400} << QList<int>{80, 200, 1058};
        QTest::newRow("all fit") << 1000 << QList<int>{80, 200, 300} << QList<int>{80, 200, 358};
        QTest::newRow("短 名称 kept") << 600 << QList<int>{60, 200, 250} << QList<int>{60, 89, 89};
        QTest::newRow("fair shares") << 600 << QList<int>{300, 300, 300} << QList<int>{79, 79, 80};
        QTest::newRow("remark short") << 600 << QList<int>{300, 300, 20} << QList<int>{109, 109, 20};
        QTest::newRow("too narrow") << 300 << QList<int>{300, 40, 300} << QList<int>{48, 40, 48};
    }
    void columnsFitTheWidth()
    {
        QFETCH(int, available);
        QFETCH(QList<int>, longs);
        QFETCH(QList<int>, want);
        const ColumnFit::Widths natural{30, 86, longs[0], longs[1], 128, 42, longs[2], 76};
        const ColumnFit::Widths w = ColumnFit::fit(natural, available);
        QCOMPARE((QList<int>{w[ScheduleModel::ColName], w[ScheduleModel::ColMusic], w[ScheduleModel::ColRemark]}), want);
        for (int c : {0, 1, 4, 5, 7})
            QCOMPARE(w[c], natural[c]);
        int sum = 0;
        for (int x : w)
            sum += x;
        if (available >= 362 + 3 * ColumnFit::kMinLong)
            QCOMPARE(sum, available);
    }

    void cellsAndColours()
    {
        Fixture f;
        QCOMPARE(f.model.rowCount(), 2 + 5);
        QCOMPARE(f.model.columnCount(), 8);
        const QStringList header{"序", "时间", "名称", "音乐", "周期", "时长", "备注", "状态"};
        const QStringList first{"1", "07:00:00", "早", "a.mp3", "日一二三四五六", "12", "备", "已过"};
        for (int c = 0; c < 8; ++c) {
            QCOMPARE(f.text(c, 0), header[c]);
            QCOMPARE(f.text(c, 1), first[c]);
            QVERIFY(f.text(c, 3).isEmpty()); // a spare row
        }
        QCOMPARE(f.text(ScheduleModel::ColNo, 2), QStringLiteral("2"));
        QCOMPARE(f.model.data(f.model.index(0, 3), Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));

        // Running mode: each row in its status's colours, column 0 in the grid's own.
        QCOMPARE(f.colour(2, 1, Qt::BackgroundRole), QColor(224, 224, 224)); // 已过: neutral
        f.board.day().setStatus(0, BellStatus::Done);
        QCOMPARE(f.colour(2, 1, Qt::BackgroundRole), QColor(192, 220, 192));
        QCOMPARE(f.colour(2, 1, Qt::ForegroundRole), QColor(0, 0, 0));
        QVERIFY(!f.model.data(f.model.index(0, 0), Qt::BackgroundRole).isValid());
        QVERIFY(!f.model.data(f.model.index(1, 2), Qt::BackgroundRole).isValid()); // window colour
        QCOMPARE(f.colour(2, 2, Qt::ForegroundRole), QColor(0, 0, 255));
        f.board.blink(1, BellStatus::Waiting);
        QCOMPARE(f.text(ScheduleModel::ColStatus, 2), QStringLiteral("等待"));
        QCOMPARE(f.colour(5, 2, Qt::BackgroundRole), QColor(255, 255, 0));
        f.board.day().setStatus(0, BellStatus::Interrupted);
        QCOMPARE(f.colour(1, 1, Qt::BackgroundRole), QColor(255, 200, 120));
        QCOMPARE(f.colour(1, 1, Qt::ForegroundRole), QColor(128, 0, 0));
        QCOMPARE(statuscolours::background(BellStatus::InvalidTime), QColor(255, 200, 120));
        // Every status row reads: text against its ground at least 4.5 : 1.
        const auto luminance = [](const QColor &c) {
            const auto lin = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
            return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
        };
        for (BellStatus s : {BellStatus::Done, BellStatus::Waiting, BellStatus::Playing, BellStatus::Failed}) {
            const double a = luminance(statuscolours::background(s)), b = luminance(statuscolours::foreground(s));
            QVERIFY2((std::max(a, b) + 0.05) / (std::min(a, b) + 0.05) >= 4.5, qPrintable(bellstatus::text(s)));
        }

        // Stopped mode: no status colours at all.
        f.board.setRunning(false);
        QVERIFY(!f.model.data(f.model.index(0, 2), Qt::BackgroundRole).isValid());
    }

    // Huge texts are shown cut; the entry keeps them whole.
    void zonesShowBeforeTheRemark()
    {
        Fixture f;
        QCOMPARE(f.text(ScheduleModel::ColRemark, 1), QStringLiteral("备"));
        ZoneStore zones(f.store);
        const qint64 a = zones.add({0, "操场", "pulse/a", 0});
        const qint64 b = zones.add({0, "宿舍", "pulse/b", 0});
        BellEntry e = f.store.list("%").first();
        e.zones = {a, b};
        f.store.update(e);
        f.board.Refresh();
        QCOMPARE(f.text(ScheduleModel::ColRemark, 1), QStringLiteral("备")); // names not known yet
        f.model.setZoneNames({{a, "操场"}, {b, "宿舍"}});
        QCOMPARE(f.text(ScheduleModel::ColRemark, 1), QStringLiteral("【操场、宿舍】备"));
        QCOMPARE(f.text(ScheduleModel::ColRemark, 2), QString());
    }

    void longTextsAreCut()
    {
        Fixture f;
        f.store.insert({0, 10 * 3600, QString(5000, u'名'), "c.mp3", "日一二三四五六", "", "短"});
        f.board.Refresh();
        QCOMPARE(f.text(ScheduleModel::ColName, 3), QString(1000, u'名') + u'…');
        QCOMPARE(f.text(ScheduleModel::ColRemark, 3), QStringLiteral("短"));
        QCOMPARE(f.board.entryAtRow(3)->name.size(), 5000);
    }

    // A bell's change repaints its row; only a reload resets the model.
    void announcesOneRowPerBell()
    {
        Fixture f;
        QSignalSpy changed(&f.model, &QAbstractItemModel::dataChanged);
        QSignalSpy reset(&f.model, &QAbstractItemModel::modelReset);
        f.board.day().setStatus(1, BellStatus::Done);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed[0][0].toModelIndex(), f.model.index(1, 0));
        QCOMPARE(changed[0][1].toModelIndex(), f.model.index(1, ScheduleModel::kColumns - 1));
        QVERIFY(reset.isEmpty());
        f.board.Refresh();
        QCOMPARE(reset.size(), 1);
        QCOMPARE(f.model.rowCount(), 2 + 5);
    }
};

QTEST_GUILESS_MAIN(ScheduleModelTest)
#include "tst_schedulemodel.moc"
