// The calendar in the main window: the date panel on a make-up Saturday,
// and the dialog opened from its menu, marking today.
#include "calendardialog.h"
#include "fakes.h"
#include "testcontext.h"
#include "ringengine.h"
#include "tformmain.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTextCharFormat>
#include <QTimer>

class CalendarWindowTest : public QObject {
    Q_OBJECT

    struct Fixture {
        TempHome home;
        FakeClock clock{QDateTime(QDate(2026, 10, 10), QTime(8, 0, 0))}; // a Saturday
        FakeMessages messages;
        FakeFileDialogs dialogs;
        std::unique_ptr<TFormMain> form;
        Fixture()
        {
            form = std::make_unique<TFormMain>(testContext(home, clock, messages, dialogs));
            form->store().insert({0, 9 * 3600, "周一第一节", "a.mp3", "一", "", ""});
            form->store().insert({0, 9 * 3600, "周六活动", "b.mp3", "六", "", ""});
        }
        QString panel() { return form->findChild<QLabel *>("PanelDate")->text(); }
        QString firstListed() { return form->board().entryAtRow(1)->name; }
    };

private slots:
    void makeUpSaturdayInTheWindow()
    {
        Fixture f;
        f.form->calendar().days().put({CalendarDay::fromTexts("2026-10-10", "上课", "一", "")});
        f.form->engine().TimerShiJianTimer();
        settleWindow(f.form->app()); // the first tick: running mode
        QVERIFY(f.form->board().running());
        QCOMPARE(f.firstListed(), QStringLiteral("周一第一节"));
        // Two lines: the kind does not fit beside the date at 21 pixels.
        QCOMPARE(f.panel(), QStringLiteral("10月10日 周六\n按周一上课"));
    }

    void dialogFromTheMenuMarksToday()
    {
        Fixture f;
        f.form->calendar().days().put({CalendarDay::fromTexts("2026-10-01", "放假", "", "国庆")});
        f.form->engine().TimerShiJianTimer();
        settleWindow(f.form->app());
        QCOMPARE(f.firstListed(), QStringLiteral("周六活动"));
        QAction *item = f.form->findChild<QAction *>("NCalendar");
        QVERIFY(item);
        QCOMPARE(item->text(), QStringLiteral("校历与作息方案…"));
        QVERIFY(f.form->findChild<QMenu *>("N1")->actions().contains(item));

        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto *dialog = qobject_cast<CalendarDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            seen = true;
            QCalendarWidget *month = dialog->month();
            QCOMPARE(month->dateTextFormat(QDate(2026, 10, 1)).background().color(),
                     CalendarDialog::kHolidayColour);
            QVERIFY(month->dateTextFormat(QDate(2026, 10, 10)).background().style() == Qt::NoBrush);
            // Today is in the date field; mark it 上课 按周一.
            QCOMPARE(dialog->findChild<QLineEdit *>("MarkFirst")->text(), QStringLiteral("2026-10-10"));
            dialog->findChild<QComboBox *>("MarkKind")->setCurrentText("上课");
            dialog->findChild<QComboBox *>("MarkWeekday")->setCurrentText("周一");
            for (QPushButton *b : dialog->findChildren<QPushButton *>())
                if (b->text() == "标记")
                    b->click();
            QCOMPARE(month->dateTextFormat(QDate(2026, 10, 10)).background().color(),
                     CalendarDialog::kMakeUpColour);
            dialog->accept();
        });
        item->trigger();
        QVERIFY(seen);
        QVERIFY(f.messages.shown.isEmpty());
        // The main window follows as soon as the engine has read it.
        QVERIFY(settleWindow(f.form->app()));
        QCOMPARE(f.firstListed(), QStringLiteral("周一第一节"));
        QVERIFY(f.panel().endsWith(QStringLiteral("按周一上课")));
    }
};

QTEST_MAIN(CalendarWindowTest)
#include "tst_window.moc"
