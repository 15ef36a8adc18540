#include "fakes.h"
#include "qtseams.h"
#include "tformmain.h"
#include "historydialog.h"
#include "ringhistory.h"

#include <QTableWidget>

#include <QAbstractButton>
#include <QDialog>
#include <QDir>
#include <QMessageBox>
#include <QTimer>
#include <QFile>
#include <QLabel>
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
            c.makePlayer = [this] { return std::make_unique<FakePlayer>(&clock); };
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
        QTimer::singleShot(0, [&] {
            HistoryDialog *d = f.form->historyDialog();
            QTableWidget *t = d->table();
            for (int r = 0; r < t->rowCount(); ++r)
                seen << t->item(r, 0)->text() + " " + t->item(r, 3)->text() + " "
                            + (t->item(r, 3)->background().color() == bellstatus::background(BellStatus::Failed)
                                   ? "orange" : "plain");
            d->reject();
        });
        f.form->NJiLuClick();
        QCOMPARE(seen, (QStringList{"08:00:00 完成 plain", "09:00:00 错过 orange"}));
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
        QCOMPARE(w.menuBar()->actions().first()->text(), QStringLiteral("系统"));
        QCOMPARE(items, QStringList({"开机启动启动", "-", "清除打铃列表", "打铃记录…", "校历与作息方案…", "-", "Quorlin官网"}));
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
        QVERIFY(grid->isColumnHidden(8) && grid->isColumnHidden(9));
    }

    void unopenableStoreIsReportedOnceAndTheWindowStillComesUp()
    {
        Fixture f;
        QFile bad(f.home.db());
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("this is not a database, and it must stay so");
        bad.close();
        f.make();
        QCOMPARE(f.messages.shown.size(), 1);
        QCOMPARE(f.messages.shown[0].kind, QStringLiteral("general"));
        QVERIFY(!f.form->store().isOpen());
        f.form->show();
        QFile again(f.home.db());
        QVERIFY(again.open(QIODevice::ReadOnly));
        QCOMPARE(again.readAll(), QByteArray("this is not a database, and it must stay so"));
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
