// The main window through the school day: the history window, the bands
// and tray icon that follow the engine, lowering the broadcast under a bell,
// the grid's running number, clearing the list, and the timetable switching
// at midnight.
#include "mainwindowfixture.h"
#include "historydialog.h"
#include "ringhistory.h"
#include "schoolcalendar.h"
#include "statusbar.h"
#include "settings.h"
#include "formlinshiguangbo.h"
#include "noticeband.h"
#include "ringalerts.h"
#include "ringengine.h"
#include "schedulemodel.h"
#include "trayicon.h"
#include "zonestore.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QDateEdit>
#include <QInputDialog>
#include <QLabel>
#include <QProgressBar>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

class MainWindowBellsTest : public QObject {
    Q_OBJECT
    using Fixture = MainWindowFixture;

private slots:
    void historyWindowListsTheDaysBellsAndPrunesOldOnes()
    {
        Fixture f;
        {
            // Records left by an earlier run: one too old to keep.
            BellStore store;
            QVERIFY(store.open(f.home.db()).isEmpty());
            RingHistory h(store);
            const QDate today = f.clock.now().date();
            h.record({0, today.addDays(-500), 100, "old", "old.mp3", BellStatus::Done, 1, {}});
            h.record({0, today, 8 * 3600, "上课", "a.mp3", BellStatus::Done, 3, {}});
            h.record({0, today, 9 * 3600, "下课", "b.mp3", BellStatus::Missed, std::nullopt, "错过"});
            QVERIFY(h.flush());
        }
        f.make();
        QVERIFY(f.form->history().between(QDate(2000, 1, 1), QDate(2100, 1, 1)).size() == 2);
        QStringList seen;
        int rowsAfterABell = 0;
        bool mondayFirst = false, chinese = false;
        QTimer::singleShot(0, [&] {
            HistoryDialog *d = f.form->historyDialog();
            QTableWidget *t = d->table();
            for (int r = 0; r < t->rowCount(); ++r)
                seen << t->item(r, 0)->text() + " " + t->item(r, 3)->text() + " "
                            + (t->item(r, 3)->background().color() == statuscolours::background(BellStatus::Failed)
                                   ? "orange" : "plain");
            // A bell rings while it is open: it appears.
            f.form->history().record({0, f.clock.now().date(), 10 * 3600, "课间操", "c.mp3", BellStatus::Done, 2, {}});
            f.form->history().flush();
            emit f.form->app().link().bellStatus({}); // as the engine tells it
            rowsAfterABell = t->rowCount();
            // The month pop-up: Chinese, from Monday, whatever LANG says.
            auto *day = d->findChild<QDateEdit *>("DateJiLu");
            mondayFirst = day->calendarWidget()->firstDayOfWeek() == Qt::Monday;
            chinese = day->calendarWidget()->locale().language() == QLocale::Chinese;
            d->reject();
        });
        f.form->NJiLuClick();
        QCOMPARE(seen, (QStringList{"08:00:00 完成 plain", "09:00:00 错过 orange"}));
        QCOMPARE(rowsAfterABell, 3);
        QVERIFY(mondayFirst && chinese);
        QVERIFY(f.messages.shown.isEmpty());
    }

    // The stopped band, the band of bells that did not ring (until 知道了)
    // and the grey tray icon follow the engine; 补打时限… keeps its value.
    void bellBandsTrayAndCatchUpSetting()
    {
        Fixture f;
        {
            BellStore store;
            QVERIFY(store.open(f.home.db()).isEmpty());
            store.insert({0, 8 * 3600 + 5, "第一节上课", "a.mp3", "一二三四五六日", "", ""});
        }
        f.make();
        TFormMain &w = *f.form;
        w.show();
        auto *stopped = f.find<NoticeBand>("StoppedBand");
        auto *notRung = f.find<NoticeBand>("NotRungBand");
        QSystemTrayIcon *tray = w.findChild<TCoolTrayIcon *>()->icon();
        w.engine().TimerShiJianTimer();
        settleWindow(w.app()); // the first tick: running mode
        QVERIFY(stopped->isHidden() && notRung->isHidden());
        w.ButtonPlayClick();
        QVERIFY(f.settle());
        QVERIFY(stopped->isVisible() && stopped->button()->isHidden());
        QCOMPARE(stopped->text(), RingAlerts::kStopped + QStringLiteral("（下一个不会响的铃声：08:00:05 第一节上课）"));
        QCOMPARE(tray->toolTip(), stopped->text());

        f.clock.set(QDateTime(QDate(2026, 12, 9), QTime(8, 0, 5, 2)));
        w.engine().TimerShiJianTimer();
        settleWindow(w.app());
        QVERIFY(stopped->isHidden()); // nothing left to skip today
        QCOMPARE(tray->toolTip(), w.windowTitle());
        QVERIFY(notRung->isVisible());
        QCOMPARE(notRung->text(), QStringLiteral("08:00:05 第一节上课 没有响：停止打铃期间，没有播放"));
        QCOMPARE(notRung->button()->text(), QStringLiteral("知道了"));
        notRung->button()->click();
        QVERIFY(notRung->isHidden());

        QCOMPARE(w.engine().catchUpSeconds(), 60);
        QString label;
        QTimer::singleShot(0, [&] {
            auto *d = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
            QVERIFY(d);
            label = d->labelText();
            QCOMPARE(d->intMaximum(), 300);
            d->setIntValue(25);
            d->accept();
        });
        w.findChild<QAction *>("NCatchUp")->trigger();
        QVERIFY(label.contains(u"补打"));
        QTRY_COMPARE(w.engine().catchUpSeconds(), 25);
        f.form.reset();
        f.make();
        QCOMPARE(f.form->engine().catchUpSeconds(), 25);
        QVERIFY(f.messages.shown.isEmpty());
    }

    // A bell heard only in a zone shows its file and its progress in the
    // window, as a bell on 铃声输出 does.
    void aBellInZonesShowsInTheWindow()
    {
        Fixture f;
        {
            BellStore store;
            QVERIFY(store.open(f.home.db()).isEmpty());
            const qint64 zone = ZoneStore(store).add({0, "操场", "pulse/field", 0});
            store.insert({0, 8 * 3600 + 2, "课间操", "操.mp3", "一二三四五六日", "", "", {zone}});
        }
        f.home.touchMusic("操.mp3");
        f.make();
        TFormMain &w = *f.form;
        w.show();
        w.engine().TimerShiJianTimer();
        settleWindow(w.app()); // running mode
        f.clock.set(QDateTime(QDate(2026, 12, 9), QTime(8, 0, 2, 2)));
        w.engine().TimerShiJianTimer();
        settleWindow(w.app());
        QVERIFY(!w.player().isPlaying()); // not on 铃声输出
        auto *label = f.find<QLabel>("LabelYunXing");
        auto *bar = f.find<QProgressBar>("ProgressBar1");
        QCOMPARE(label->text(), QStringLiteral("操.mp3"));
        QCOMPARE(bar->maximum(), 5000);
        const int before = bar->value();
        f.clock.set(QDateTime(QDate(2026, 12, 9), QTime(8, 0, 4, 2)));
        w.engine().TimerShiJianTimer();
        settleWindow(w.app());
        QCOMPARE(label->text(), QStringLiteral("操.mp3"));
        // Told once a second while it plays.
        QTRY_VERIFY2(bar->value() >= before + 1900, qPrintable(QString::number(bar->value())));
        QVERIFY(f.messages.shown.isEmpty());
    }

    // Bringing the window back from the notification area sets LabelNowTime
    // to "0"; a reload before the next tick must still know which bells are
    // past, and none of them is recorded 错过.
    void showingFromTheTrayAndReloadingMissNoBell()
    {
        Fixture f;
        {
            BellStore store;
            QVERIFY(store.open(f.home.db()).isEmpty());
            store.insert({0, 7 * 3600, "早读", "a.mp3", "一二三四五六日", "", ""});
            store.insert({0, 7 * 3600 + 50 * 60, "第一节", "a.mp3", "一二三四五六日", "", ""});
            store.insert({0, 9 * 3600, "第二节", "a.mp3", "一二三四五六日", "", ""});
        }
        f.make();
        TFormMain &w = *f.form;
        w.show();
        w.engine().TimerShiJianTimer();
        settleWindow(w.app()); // running mode, 08:00:00
        w.hide();
        w.trayIcon().CoolTrayIcon1Click();
        QVERIFY(w.isVisible());
        QCOMPARE(f.find<QLabel>("LabelNowTime")->text(), QStringLiteral("0"));
        w.app().reloadEngine();
        QVERIFY(f.settle());
        QCOMPARE(w.board().nextBellRow(), 3);
        f.clock.set(QDateTime(QDate(2026, 12, 9), QTime(8, 0, 1, 2)));
        w.engine().TimerShiJianTimer();
        settleWindow(w.app());
        w.history().flush();
        for (const RingRecord &r : w.history().day(f.clock.now().date()))
            QVERIFY2(r.result != BellStatus::Missed, qPrintable(r.name));
        QCOMPARE(w.board().statusText(1), QStringLiteral("已过"));
        QVERIFY(f.messages.shown.isEmpty());
    }

    void bellsLowerTheBroadcastAndTheMenuKeepsTheChoice()
    {
        Fixture f;
        f.home.touchMusic("b.wav");
        {
            BellStore store;
            QVERIFY(store.open(f.home.db()).isEmpty());
            store.insert({0, 8 * 3600 + 2, "一", "b.wav", "一二三四五六日", "3", ""});
            store.insert({0, 8 * 3600 + 20, "二", "b.wav", "一二三四五六日", "3", ""});
        }
        f.make();
        TFormMain &w = *f.form;
        w.show();
        f.tick(); // running mode
        const auto at = [&](int s) {
            f.clock.set(QDateTime(QDate(2026, 12, 9), QTime(8, 0, s, 2)));
            static_cast<FakePlayer &>(w.player()).advance();
            f.tick();
        };
        AudioPlayer &broadcast = w.adhoc().MediaPlayer1;
        auto *item = w.findChild<QAction *>("NDuck");
        QVERIFY(item && item->isCheckable() && item->isChecked());

        at(2); // on 铃声输出
        QTRY_COMPARE(broadcast.volume(), 20);
        for (int s = 3; s <= 7; ++s)
            at(s);
        QTRY_COMPARE(broadcast.volume(), 100);

        item->trigger();
        QVERIFY(!item->isChecked());
        at(20);
        QTest::qWait(300);
        QCOMPARE(broadcast.volume(), 100);
        f.form.reset();
        f.make();
        QVERIFY(!f.form->findChild<QAction *>("NDuck")->isChecked());
        QVERIFY(f.messages.shown.isEmpty());
    }

    void runningNumberIsAFixedColumn()
    {
        Fixture f;
        f.make();
        TFormMain &w = *f.form;
        w.show();
        auto *grid = f.find<QTableView>("StringGridshow");
        w.store().insert({0, 8 * 3600, "a", "a.mp3", "一", "", ""});
        w.board().Refresh();
        w.board().setSelectedRow(1);
        QAbstractItemModel &g = *grid->model();
        QVERIFY(grid->selectionModel()->isRowSelected(0, {}));
        const QImage shot = grid->viewport()->grab().toImage();
        const QRect number = grid->visualRect(g.index(0, 0));
        const QRect time = grid->visualRect(g.index(0, 1));
        QCOMPARE(shot.pixelColor(number.topLeft() + QPoint(2, 2)), grid->palette().button().color());
        QCOMPARE(shot.pixelColor(time.topLeft() + QPoint(2, 2)),
                 grid->palette().color(QPalette::Active, QPalette::Highlight));
    }

    void clearingAsksWithNoAsTheDefault()
    {
        Fixture f;
        f.make();
        f.messages.answers = {Messages::Answer::No};
        f.form->store().insert({0, 8 * 3600, "a", "a.mp3", "一", "", ""});
        f.form->N6Click();
        QCOMPARE(f.messages.shown.last().caption, QStringLiteral("&No"));
        QCOMPARE(f.form->store().list("%").size(), 1);
    }

    void statusBarNamesTheTimetableAndMidnightScrollsToTheNextBell()
    {
        Fixture f;
        f.clock.set(QDateTime(QDate(2026, 10, 31), QTime(23, 59, 58)));
        {
            BellStore store;
            QVERIFY(store.open(f.home.db()).isEmpty());
            for (int i = 0; i < 40; ++i) // a long autumn list, its last bells late at night
                store.insert({0, 12 * 3600 + i * 900, QString("秋%1").arg(i), "a.mp3", "日一二三四五六", "", ""});
            SchoolCalendar cal(store);
            const qint64 autumn = cal.timetables().saveCurrentAs("秋季作息");
            store.clear();
            for (int i = 0; i < 40; ++i)
                store.insert({0, 6 * 3600 + i * 600, QString("冬%1").arg(i), "a.mp3", "日一二三四五六", "", ""});
            const qint64 winter = cal.timetables().saveCurrentAs("冬季作息");
            cal.timetables().setStartDay(winter, "11-01");
            cal.timetables().switchTo(autumn); // rings today
            Settings(store).setValue(SeasonalSwitch::kCheckedKey, "2026-10-31");
            cal.days().put({CalendarDay::fromTexts("2026-11-01", "放假", "", "运动会")});
        }
        f.make();
        TFormMain &w = *f.form;
        w.show();
        auto *bar = w.findChild<DaLingStatusBar *>();
        QCOMPARE(bar->note(), QStringLiteral("作息方案：秋季作息"));
        w.ButtonPlayClick(); // running
        QVERIFY(f.settle());
        auto *grid = f.find<QTableView>("StringGridshow");
        grid->scrollToTop();
        for (const QTime t : {QTime(23, 59, 59, 2), QTime(0, 0, 0, 2), QTime(0, 0, 1, 2)}) {
            f.clock.set(QDateTime(t.hour() ? QDate(2026, 10, 31) : QDate(2026, 11, 1), t));
            w.engine().TimerShiJianTimer();
        settleWindow(w.app());
        }
        QTest::qWait(20); // the note follows the tick
        QCOMPARE(bar->note(), QStringLiteral("已切换到冬季作息"));
        QCOMPARE(w.board().dateText(), QStringLiteral("11月1日 周日 放假 运动会"));
        QCOMPARE(f.find<QLabel>("PanelDate")->text(), QStringLiteral("11月1日 周日\n放假 运动会"));
        // Nothing rings on the holiday. At the next midnight the list is
        // read again: the view follows the cursor, wherever it was left.
        grid->scrollToBottom();
        for (const QTime t : {QTime(23, 59, 59, 2), QTime(0, 0, 0, 2), QTime(0, 0, 1, 2)}) {
            f.clock.set(QDateTime(t.hour() ? QDate(2026, 11, 1) : QDate(2026, 11, 2), t));
            w.engine().TimerShiJianTimer();
        settleWindow(w.app());
        }
        QTest::qWait(20);
        QCOMPARE(bar->note(), QStringLiteral("作息方案：冬季作息"));
        QCOMPARE(w.board().entryAtRow(w.board().nextBellRow())->name, QStringLiteral("冬0"));
        QVERIFY(grid->viewport()->rect().intersects(grid->visualRect(grid->model()->index(0, 1))));
    }
};

QTEST_MAIN(MainWindowBellsTest)
#include "tst_mainwindow_bells.moc"
