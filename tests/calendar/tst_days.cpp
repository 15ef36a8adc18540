// Marked days: the texts the operator or a sheet gives.
#include "calendarsheet.h"
#include "fakes.h"

#include <QDir>
#include <QTest>

class DaysTest : public QObject {
    Q_OBJECT

private slots:
    void fromTexts_data()
    {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("weekday");
        QTest::addColumn<QString>("panel"); // empty: refused
        QTest::newRow("holiday") << "2026-05-01" << "放假" << "" << "放假";
        QTest::newRow("holiday ignores a weekday") << "2026-05-01" << "放假" << "一" << "放假";
        QTest::newRow("make-up") << "2026-10-10" << "上课" << "一" << "按周一上课";
        QTest::newRow("周 prefix") << "2026-10-10" << " 上课 " << "周五" << "按周五上课";
        QTest::newRow("星期 prefix") << "2026/10/10" << "上课" << "星期日" << "按周日上课";
        QTest::newRow("礼拜天") << "2026-10-10" << "上课" << "礼拜天" << "按周日上课";
        QTest::newRow("a digit") << "2026-10-10" << "上课" << "6" << "按周六上课";
        QTest::newRow("a range") << "2026-10-10" << "上课" << "周六至周日" << "";
        QTest::newRow("make-up without weekday") << "2026-10-10" << "上课" << "" << "";
        QTest::newRow("two weekdays") << "2026-10-10" << "上课" << "一二" << "";
        QTest::newRow("no such weekday") << "2026-10-10" << "上课" << "周八" << "";
        QTest::newRow("30 February") << "2026-02-30" << "放假" << "" << "";
        QTest::newRow("29 February, not a leap year") << "2027-02-29" << "放假" << "" << "";
        QTest::newRow("no date") << "五一" << "放假" << "" << "";
        QTest::newRow("unknown kind") << "2026-05-01" << "补课" << "一" << "";
    }
    void fromTexts()
    {
        QFETCH(QString, date);
        QFETCH(QString, kind);
        QFETCH(QString, weekday);
        QFETCH(QString, panel);
        if (panel.isEmpty()) {
            try {
                CalendarDay::fromTexts(date, kind, weekday, {});
                QFAIL("accepted");
            } catch (const CalendarError &e) {
                QVERIFY(!e.text().isEmpty());
                QVERIFY(e.text().contains(u'，') || e.text().contains(u'。'));
            }
            return;
        }
        const CalendarDay d = CalendarDay::fromTexts(date, kind, weekday, " 国庆 ");
        QCOMPARE(d.panelText(), panel);
        QCOMPARE(d.remark, QStringLiteral("国庆"));
        QVERIFY(d.kind == CalendarDay::Kind::MakeUp || d.weekdayText().isEmpty());
    }

    void sheetRowsAllOrNothing()
    {
        SheetData ok;
        ok.rows = {{"日期", "类型", "按星期", "备注"},
                   {"2026/10/1", "放假", "", "国庆"},
                   {},
                   {"2026-10-11", "上课", "周一", ""}};
        const QList<CalendarDay> days = CalendarSheet::parse(ok);
        QCOMPARE(days.size(), 2);
        QCOMPARE(CalendarSheet::rows(days),
                 (QList<QStringList>{{"日期", "类型", "按星期", "备注"},
                                     {"2026-10-01", "放假", "", "国庆"},
                                     {"2026-10-11", "上课", "一", ""}}));

        const struct { QList<QStringList> rows; const char *says; } bad[] = {
            {{{"日期"}, {"2026-02-30", "放假"}}, "第2行"},
            {{{"2026-10-10", "上课"}}, "第1行"}, // no header, no weekday
            {{{"2026-10-01", "放假"}, {"2026/10/1", "放假"}}, "两次"},
            {{{"日期", "类型"}}, "没有校历日期"},
        };
        // A calendar from a workbook in the 1904 date system that also
        // holds Excel's extension workbookPr (which has no date1904).
        const QList<CalendarDay> mac = CalendarSheet::parse(
            readSheetFile(QDir::cleanPath(qEnvironmentVariable("DALING_TEST_DATA") + "/../../exchange/data/calendar-1904.xlsx")));
        QCOMPARE(CalendarSheet::rows(mac).value(1), (QStringList{"2026-10-01", "放假", "", "国庆节"}));

        for (const auto &b : bad) {
            SheetData s;
            s.rows = b.rows;
            try {
                CalendarSheet::parse(s);
                QFAIL("accepted");
            } catch (const CalendarError &e) {
                QVERIFY2(e.text().contains(QString::fromUtf8(b.says)), qPrintable(e.text()));
            }
        }
    }
};

QTEST_GUILESS_MAIN(DaysTest)
#include "tst_days.moc"
