#include "fakes.h"
#include "qtseams.h"
#include "tformmain.h"
#include "historydialog.h"
#include "ringhistory.h"
#include "schoolcalendar.h"
#include "statusbar.h"
#include "settings.h"

#include <QCalendarWidget>
#include <QDateEdit>
#include <QTableWidget>
#include "ducking.h"
#include "formlinshiguangbo.h"
#include "ringengine.h"
#include "schedulemodel.h"
#include "tformeditdaling.h"
#include "noticeband.h"
#include "ringalerts.h"
#include "settings.h"
#include "trayicon.h"
#include <QApplication>
#include <QInputDialog>
#include "storekeeper.h"
#include "storetext.h"

#include <QFileDialog>
#include <QLineEdit>

#include <QAbstractButton>
#include <QDialog>
#include <QDir>
#include <QMessageBox>
#include <QTimer>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTest>

class MainWindowTest : public QObject {
    Q_OBJECT

    struct Fixture {
        TempHome home;
        FakeClock clock{QDateTime(QDate(2026, 12, 9), QTime(8, 0, 0))};
        FakeMessages messages;
        FakeFileDialogs dialogs;
        std::unique_ptr<TFormMain> form;
        MainContext context()
        {
            MainContext c;
            c.paths = AppPaths(home.path());
            c.clock = &clock;
            c.messages = &messages;
            c.dialogs = &dialogs;
            c.makePlayer = [this](const QString &) { return std::make_unique<FakePlayer>(&clock); };
            c.autostartFolder = home.path() + "autostart";
            c.executablePath = home.path() + "daling";
            return c;
        }
        void make() { form = std::make_unique<TFormMain>(context()); }
        template <class T> T *find(const char *name) { return form->findChild<T *>(QString::fromLatin1(name)); }
    };

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

    void frameAtStart()
    {
        Fixture f;
        f.make();
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
            items << (a->isSeparator() ? QStringLiteral("-") : a->text());
        QCOMPARE(w.menuBar()->actions().first()->text(), QStringLiteral("系统(&S)"));
        QCOMPARE(items, QStringList({"开机启动启动", "铃声响时压低临时广播", "-", "清除打铃列表", "打铃记录…", "校历与作息方案…", "声音输出…", "分区设置…", "补打时限…", "-", "Quorlin官网"}));
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
        QCOMPARE(grid->columnWidth(1), 81);
        QCOMPARE(grid->model()->columnCount(), 8);
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
        f.form->app().storeKeeper().check();
        QVERIFY(band->isHidden());
        QCOMPARE(f.form->board().day().size(), 1);
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
        w.engine().TimerShiJianTimer(); // the first tick: running mode
        QVERIFY(stopped->isHidden() && notRung->isHidden());
        w.ButtonPlayClick();
        QVERIFY(stopped->isVisible() && stopped->button()->isHidden());
        QCOMPARE(stopped->text(), RingAlerts::kStopped + QStringLiteral("（下一个不会响的铃声：08:00:05 第一节上课）"));
        QCOMPARE(tray->toolTip(), stopped->text());

        f.clock.set(QDateTime(QDate(2026, 12, 9), QTime(8, 0, 5, 2)));
        w.engine().TimerShiJianTimer();
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
        QCOMPARE(w.engine().catchUpSeconds(), 25);
        f.form.reset();
        f.make();
        QCOMPARE(f.form->engine().catchUpSeconds(), 25);
        QVERIFY(f.messages.shown.isEmpty());
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
        f.form->app().storeKeeper().takeCopy();
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

    void boxesOpenAboveTheDialogThatIsOpen()
    {
        // A bell's message while the editor is open must come above the
        // editor, not behind it with the main window.
        QWidget mainWindow;
        QtMessages messages("daling");
        messages.setOwner(&mainWindow);
        mainWindow.show();
        QDialog editor(&mainWindow);
        QWidget *boxParent = nullptr;
        QString caption;
        QTimer::singleShot(0, &editor, [&] {
            QTimer::singleShot(50, [&] {
                auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                if (box) {
                    boxParent = box->parentWidget();
                    caption = box->windowTitle();
                    box->buttons().first()->click();
                }
                editor.accept();
            });
            messages.plain("找不到该音乐文件，或系统不支持该音乐文件！");
        });
        editor.exec();
        QCOMPARE(boxParent, &editor);
        QCOMPARE(caption, QStringLiteral("daling"));
    }

    void bellsLowerTheBroadcastAndTheMenuKeepsTheChoice()
    {
        Fixture f;
        f.make();
        TFormMain &w = *f.form;
        auto &bell = static_cast<FakePlayer &>(w.player());
        AudioPlayer &broadcast = w.adhoc().MediaPlayer1;
        auto *item = w.findChild<QAction *>("NDuck");
        QVERIFY(item && item->isCheckable() && item->isChecked());

        bell.setFileName(f.home.touchMusic("b.wav"));
        bell.open();
        bell.play();
        emit w.engine().rang(1);
        QTRY_COMPARE(broadcast.volume(), 20);
        emit w.engine().bellEnded(1, BellStatus::Done);
        QTRY_COMPARE(broadcast.volume(), 100);

        item->trigger();
        QVERIFY(!item->isChecked());
        bell.play();
        emit w.engine().rang(1);
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

    void escapeClosesNeitherDialog()
    {
        Fixture f;
        f.make();
        TFormMain &w = *f.form;
        w.show();
        for (QDialog *d : std::initializer_list<QDialog *>{&w.editor(), &w.adhoc()}) {
            QCOMPARE(d->windowModality(), Qt::WindowModal); // the tray answers meanwhile
            d->show();
            QVERIFY(QTest::qWaitForWindowExposed(d));
            QTest::keyClick(d, Qt::Key_Escape);
            if (auto *field = d->findChild<QLineEdit *>())
                QTest::keyClick(field, Qt::Key_Escape);
            QVERIFY2(d->isVisible(), qPrintable(d->objectName()));
            d->close();
        }
    }

    void qtDialogsChineseOurBoxesEnglish()
    {
        const bool installed = installQtChinese();
        if (!installed)
            QSKIP("Qt's Chinese catalogue (qt6-translations-l10n) is not installed");
        {
            QFileDialog dlg(nullptr, QString(), QDir::tempPath());
            dlg.setOption(QFileDialog::DontUseNativeDialog);
            dlg.show();
            QStringList labels;
            for (auto *l : dlg.findChildren<QLabel *>())
                labels << l->text();
            QVERIFY2(!labels.contains("Look in:") && !labels.contains("File &name:"),
                     qPrintable(labels.join('|')));
            QVERIFY2(labels.join("").contains(QStringLiteral("文件")), qPrintable(labels.join('|')));
        }
        QtMessages messages("daling");
        struct Case {
            const char *name;
            std::function<void()> show;
            QString caption;
            QStringList buttons;
            QString dflt = {}; // the default button, where it matters
        };
        const QList<Case> cases = {
            {"plain", [&] { messages.plain("x"); }, "daling", {"OK"}},
            {"typed", [&] { messages.typedOk(Messages::Kind::Warning, "x"); }, "Warning", {"OK"}},
            {"yesNo", [&] { messages.yesNo(Messages::Kind::Confirm, "x"); }, "Confirm", {"&Yes", "&No"}, "&Yes"},
            {"noYes", [&] { messages.noYes(Messages::Kind::Confirm, "x"); }, "Confirm", {"&Yes", "&No"}, "&No"},
            {"Information", [&] { messages.typedOk(Messages::Kind::Information, "x"); }, "Information", {"OK"}},
            {"general", [&] { messages.generalError("x"); }, "daling", {"OK"}},
            {"okCancel", [&] { messages.okCancel("系统提示 ", "x"); }, "系统提示 ", {"OK", "Cancel"}},
        };
        for (const Case &c : cases) {
            QString caption, dflt;
            QStringList buttons;
            int width = 0;
            QTimer::singleShot(50, [&] {
                auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                if (!box)
                    return;
                caption = box->windowTitle();
                width = box->width();
                dflt = box->defaultButton() ? box->defaultButton()->text() : QString();
                for (QAbstractButton *b : box->buttons())
                    buttons << b->text();
                box->buttons().first()->click();
            });
            c.show();
            QCOMPARE(caption, c.caption);
            buttons.sort();
            QStringList expected = c.buttons;
            expected.sort();
            QVERIFY2(buttons == expected, c.name);
            if (!c.dflt.isEmpty())
                QCOMPARE(dflt, c.dflt);
            // Wide enough that the title bar shows the whole caption.
            QVERIFY2(width >= QFontMetrics(QApplication::font()).horizontalAdvance(caption) + 100, c.name);
        }
    }

    void keyboardReachesTheMenuAndLeavesTheList()
    {
        Fixture f;
        f.make();
        TFormMain &w = *f.form;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        auto *grid = f.find<QTableView>("StringGridshow");
        QVERIFY(!grid->tabKeyNavigation()); // Tab moves on, the arrows move within
        auto *n1 = f.find<QMenu>("N1");
        const auto opens = [&](auto press) {
            press();
            const bool open = QTest::qWaitFor([&] { return n1->isVisible(); }, 2000);
            n1->close();
            w.menuBar()->setActiveAction(nullptr);
            w.activateWindow(); // the popup had taken it
            return QTest::qWaitForWindowActive(&w) && open;
        };
        grid->setFocus();
        QList<bool> open;
        open << opens([&] { QTest::keyClick(grid, Qt::Key_S, Qt::AltModifier); });
        grid->setFocus();
        open << opens([&] { QTest::keyClick(grid, Qt::Key_F10); });
        grid->setFocus();
        open << opens([&] {
            QTest::keyPress(grid, Qt::Key_Alt, Qt::AltModifier);
            QTest::keyRelease(grid, Qt::Key_Alt, Qt::NoModifier);
        });
        QCOMPARE(open, (QList<bool>{true, true, true}));

        // The editor's weekday buttons and "…" are on the Tab path, and a
        // pressed day is filled dark.
        for (const char *name : {"S0", "S1", "S2", "S3", "S4", "S5", "S6", "S", "SpeedButton8"})
            QVERIFY2(w.editor().findChild<QPushButton *>(name)->focusPolicy() & Qt::TabFocus, name);
        auto *monday = w.editor().findChild<QPushButton *>("S1");
        monday->setChecked(false);
        const QColor up = monday->grab().toImage().pixelColor(monday->width() / 5, monday->height() / 2);
        monday->setChecked(true);
        const QColor down = monday->grab().toImage().pixelColor(monday->width() / 5, monday->height() / 2);
        QVERIFY2(up.lightness() - down.lightness() > 100, qPrintable(up.name() + " " + down.name()));
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

    void saveDialogsStartInTheDocumentsFolder()
    {
        TempHome home;
        QtFileDialogs dialogs;
        QDir().mkpath(home.music());
        QStringList seen;
        const auto answer = [&](bool accept, const QString &file = {}) {
            QTimer::singleShot(50, [&, accept, file] {
                auto *d = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
                if (!d)
                    return;
                seen << QDir(d->directory()).absolutePath();
                if (accept) {
                    d->selectFile(file);
                    QMetaObject::invokeMethod(d, "accept");
                } else {
                    d->reject();
                }
            });
        };
        // The editor's open dialog has been in the music folder …
        answer(true, home.music() + "a.mp3");
        QVERIFY(dialogs.openFile(home.music() + "a.mp3"));
        // … the exports still start among the operator's documents.
        answer(false);
        QVERIFY(!dialogs.saveFile("打铃记录.xls"));
        QCOMPARE(seen.size(), 2);
        QCOMPARE(seen[1], QDir(QtFileDialogs::documentsFolder()).absolutePath());
        QVERIFY(seen[1] != QDir(home.music()).absolutePath());
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
        auto *grid = f.find<QTableView>("StringGridshow");
        grid->scrollToTop();
        for (const QTime t : {QTime(23, 59, 59, 2), QTime(0, 0, 0, 2), QTime(0, 0, 1, 2)}) {
            f.clock.set(QDateTime(t.hour() ? QDate(2026, 10, 31) : QDate(2026, 11, 1), t));
            w.engine().TimerShiJianTimer();
        }
        QTest::qWait(20); // the note follows the tick
        QCOMPARE(bar->note(), QStringLiteral("已切换到冬季作息"));
        QCOMPARE(w.board().dateText(), QStringLiteral(" 11月1日 周日 放假 运动会"));
        QCOMPARE(f.find<QLabel>("PanelDate")->text(), QStringLiteral(" 11月1日 周日\n放假 运动会"));
        // Nothing rings on the holiday. At the next midnight the list is
        // read again: the view follows the cursor, wherever it was left.
        grid->scrollToBottom();
        for (const QTime t : {QTime(23, 59, 59, 2), QTime(0, 0, 0, 2), QTime(0, 0, 1, 2)}) {
            f.clock.set(QDateTime(t.hour() ? QDate(2026, 11, 1) : QDate(2026, 11, 2), t));
            w.engine().TimerShiJianTimer();
        }
        QTest::qWait(20);
        QCOMPARE(bar->note(), QStringLiteral("作息方案：冬季作息"));
        QCOMPARE(w.board().entryAtRow(w.board().nextBellRow())->name, QStringLiteral("冬0"));
        QVERIFY(grid->viewport()->rect().intersects(grid->visualRect(grid->model()->index(0, 1))));
    }

    void applicationTitleRule()
    {
        QCOMPARE(applicationTitle("/opt/x/daling"), QStringLiteral("daling"));
        QCOMPARE(applicationTitle("/opt/x/DaLing.Exe"), QStringLiteral("Daling"));
        QCOMPARE(applicationTitle("/a.b/QUORLIN.v2.exe"), QStringLiteral("Quorlin"));
        QCOMPARE(Messages::errorText("无法打开"), QStringLiteral("无法打开."));
        QCOMPARE(Messages::errorText("done."), QStringLiteral("done."));
        QCOMPARE(Messages::errorText("x!"), QStringLiteral("x!"));
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
