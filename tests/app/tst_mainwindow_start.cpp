// The main window at start: its frame and menu, the grid once shown, and
// the bell list it opens, copies from the sample, or reports as unusable.
#include "mainwindowfixture.h"
#include "schedulemodel.h"
#include "storekeeper.h"
#include "storetext.h"
#include "zonestore.h"

#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include "noticeband.h"
#include "ringengine.h"

class MainWindowStartTest : public QObject {
    Q_OBJECT
    using Fixture = MainWindowFixture;

private slots:
    void frameAtStart()
    {
        Fixture f;
        // The frame as built, before the engine has answered.
        f.form = std::make_unique<TFormMain>(f.context());
        TFormMain &w = *f.form;
        QCOMPARE(w.windowTitle(), QStringLiteral("Quorlin校园铃声广播系统3.12"));
        QCOMPARE(w.size(), QSize(800, 600));
        struct B { const char *name; const char *caption; int top; };
        const B buttons[] = {{"ButtonPlay", "开  始", 24},     {"ButtonLinShi", "临时广播", 58},
                             {"ButtonCheck", "测试播放", 92},  {"ButtonADD", "添  加", 127},
                             {"ButtonEdit", "修  改", 161},    {"ButtonDel", "删  除", 196},
                             {"ButtonOutExcel", "存为EXCEL", 230}, {"ButtonIntExcel", "导入EXCEL", 265}};
        for (const B &b : buttons) {
            auto *btn = f.find<QPushButton>(b.name);
            QVERIFY2(btn, b.name);
            QCOMPARE(btn->text(), QString::fromUtf8(b.caption));
            QCOMPARE(btn->geometry(), QRect(48, b.top, 97, 27));
        }
        QCOMPARE(f.find<QWidget>("PanelMenu")->width(), 184);
        QCOMPARE(f.find<QLabel>("PanelDate")->text(), QStringLiteral("9月30日"));
        QCOMPARE(f.find<QLabel>("PanelShowTime")->text(), QStringLiteral("88:88:88"));
        QCOMPARE(f.find<QLabel>("LabelYunXing")->text(), QStringLiteral("LabelYunXing"));
        QCOMPARE(f.find<QLabel>("LabelNowTime")->text(), QStringLiteral("88888"));
        QVERIFY(f.find<QLabel>("LabelNowTime")->isHidden());
        QVERIFY(f.find<QProgressBar>("ProgressBar1"));
        QVERIFY(f.find<QTableView>("StringGridshow"));
        QStringList items;
        for (QAction *a : w.menuBar()->actions().first()->menu()->actions())
            if (a->isVisible()) // 无人登录时也打铃 only where systemd runs the user's session
                items << (a->isSeparator() ? QStringLiteral("-") : a->text());
        QCOMPARE(w.menuBar()->actions().first()->text(), QStringLiteral("系统(&S)"));
        QCOMPARE(items, QStringList({"开机启动启动", "铃声响时压低临时广播", "-", "清除打铃列表", "打铃记录…", "校历与作息方案…", "声音输出…", "分区设置…", "功放电源…", "补打时限…", "远程控制…", "-", "Quorlin官网"}));
        QVERIFY(QFile::exists(f.home.db())); // created with both tables
        QVERIFY(f.messages.shown.isEmpty());
    }

    void showSetsUpGridAndNowTime()
    {
        Fixture f;
        f.make();
        f.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
        QCOMPARE(f.find<QLabel>("LabelNowTime")->text(), QStringLiteral("0"));
        auto *grid = f.find<QTableView>("StringGridshow");
        QCOMPARE(grid->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("序"));
        QCOMPARE(grid->model()->headerData(7, Qt::Horizontal).toString(), QStringLiteral("状态"));
        QVERIFY(grid->columnWidth(1) >= grid->fontMetrics().horizontalAdvance("00:00:00"));
        QCOMPARE(grid->model()->columnCount(), 8);
    }

    // The columns fit their texts: 状态 is in view at 800×600, and maximised
    // 备注 shows a bell's zones whole; where it is too narrow it elides and
    // its tip holds the whole text.
    void listColumnsFitTheWindow()
    {
        Fixture f;
        {
            BellStore store;
            QVERIFY(store.open(f.home.db()).isEmpty());
            ZoneStore zones(store);
            const qint64 a = zones.add({0, "教学楼甲", "pulse/a", 0});
            const qint64 b = zones.add({0, "操场", "pulse/b", 0});
            store.insert({0, 8 * 3600, "第一节上课", "上课铃声.mp3", "一二三四五", "45", "全校", {a, b}});
        }
        f.make();
        auto *grid = f.find<QTableView>("StringGridshow");
        f.form->resize(800, 600);
        f.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
        f.form->engine().TimerShiJianTimer();
        settleWindow(f.form->app()); // running mode: today's list
        const QString remark = grid->model()->index(0, ScheduleModel::ColRemark).data().toString();
        QCOMPARE(remark, QStringLiteral("【教学楼甲、操场】全校"));
        for (const QSize size : {QSize(800, 600), QSize(1920, 1080)}) {
            f.form->resize(size);
            QTRY_COMPARE(f.form->size(), size);
            QCoreApplication::processEvents();
            const int right = grid->columnViewportPosition(ScheduleModel::ColStatus)
                + grid->columnWidth(ScheduleModel::ColStatus);
            QVERIFY2(right <= grid->viewport()->width(),
                     qPrintable(QStringLiteral("%1 > %2").arg(right).arg(grid->viewport()->width())));
            QVERIFY(!grid->horizontalScrollBar()->isVisible());
            const int status = grid->fontMetrics().horizontalAdvance(QStringLiteral("部分播出"));
            QVERIFY(grid->columnWidth(ScheduleModel::ColStatus) > status);
            if (size.width() == 1920)
                QVERIFY(grid->columnWidth(ScheduleModel::ColRemark) > grid->fontMetrics().horizontalAdvance(remark));
        }
        QCOMPARE(grid->model()->index(0, ScheduleModel::ColRemark).data(Qt::ToolTipRole).toString(), remark);
    }

    void unusableStoreIsToldInTheBandWhileTheClockRuns()
    {
        Fixture f;
        const QByteArray junk("this is not a database, and it must stay so");
        QFile bad(f.home.db());
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write(junk);
        bad.close();
        f.make();
        // No box before the window: it would hold the clock until clicked.
        QVERIFY(f.messages.shown.isEmpty());
        QVERIFY(!f.form->store().isOpen());
        f.form->show();
        QVERIFY(f.form->engine().TimerShiJian.isActive());
        auto *band = f.find<NoticeBand>("StoreBand");
        QVERIFY(band->isVisible());
        QVERIFY2(band->text().startsWith(u"铃声列表文件已损坏") && band->text().contains("file is not a database"),
                 qPrintable(band->text()));
        QVERIFY(band->button()->isHidden());
        QFile again(f.home.db());
        QVERIFY(again.open(QIODevice::ReadOnly));
        QCOMPARE(again.readAll(), junk);
        again.close();
        // A good file put in its place is found at the minute's retry.
        QVERIFY(QFile::remove(f.home.db()));
        {
            BellStore good;
            QVERIFY(good.open(f.home.db()).isEmpty());
            good.insert({0, 9 * 3600, "上课", "a.mp3", "一二三四五六日", "", ""});
        }
        f.form->app().core().storeKeeper().check();
        QTRY_VERIFY(band->isHidden());
        QTRY_COMPARE(f.form->board().day().size(), 1);
        QVERIFY(f.form->store().isOpen()); // the window's edits go to it again
    }
    void firstStartCopiesTheSampleOnce()
    {
        Fixture f;
        {
            QDir().mkpath(f.home.path() + "sample");
            BellStore sample;
            QVERIFY(sample.open(f.home.path() + "sample/dbDaLing.db").isEmpty());
            BellEntry e;
            e.time = 8 * 3600;
            e.name = "上课";
            e.music = "上课铃.wav";
            e.weekdays = "一二三四五六日";
            sample.insert(e);
        }
        f.make();
        QVERIFY(f.messages.shown.isEmpty());
        QCOMPARE(f.form->store().list("%").size(), 1);
        // The operators' group writes it; other accounts only read it.
        QCOMPARE(QFile::permissions(f.home.db()) & (QFileDevice::WriteGroup | QFileDevice::WriteOther),
                 QFileDevice::WriteGroup);
        // The operator's own list is never replaced by the sample.
        f.form->store().clear();
        f.form.reset();
        f.make();
        QVERIFY(f.form->store().list("%").isEmpty());
        // A school's list that is gone is never replaced by the sample.
        f.form->app().core().storeKeeper().takeCopy();
        f.form->store().close();
        QVERIFY(QFile::remove(f.home.db()));
        f.form.reset();
        f.make();
        QCOMPARE(f.form->storeBand().text(), storetext::restoredFromCopy("2026-12-09"));
        QVERIFY(f.form->store().list("%").isEmpty());
        f.form->storeBand().button()->click(); // 知道了
        QVERIFY(f.form->storeBand().isHidden());
    }

    void missingDataFolderIsCreated()
    {
        Fixture f;
        QVERIFY(QDir(f.home.path() + "data").removeRecursively());
        f.make();
        QVERIFY(f.messages.shown.isEmpty());
        QVERIFY(f.form->store().isOpen());
        QVERIFY(QFile::exists(f.home.db()));
    }
};

QTEST_MAIN(MainWindowStartTest)
#include "tst_mainwindow_start.moc"
