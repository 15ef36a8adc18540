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
        QTest::newRow("调休 is a make-up day") << "2026-10-10" << "调休" << "7" << "按周日上课";
        QTest::newRow("调休 still needs its weekday") << "2026-10-10" << "调休" << "" << "";
        QTest::newRow("年月日") << "2026年10月10日" << "放假" << "" << "放假";
        QTest::newRow("年月号, blanks") << "2026 年 10 月 10 号" << "放假" << "" << "放假";
        QTest::newRow("dots") << "2026.10.10" << "放假" << "" << "放假";
        QTest::newRow("a date cell at midnight") << "2026/10/10 0:00:00" << "放假" << "" << "放假";
        QTest::newRow("a date cell with a time") << "2026/10/10 8:00:00" << "放假" << "" << "";
        QTest::newRow("年月日 that does not exist") << "2026年2月30日" << "放假" << "" << "";
        QTest::newRow("month and day alone") << "10月10日" << "放假" << "" << "";
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

    void datesWithoutYearTakeTheSheets()
    {
        SheetData s;
        s.rows = {{"日期", "类型", "按星期", "备注"},
                  {"2026年9月1日", "上课", "1"},
                  {"10月1日", "放假", "", "国庆"},
                  {"1月1号", "放假"},
                  {"2027.1.30", "放假"}};
        QStringList dates;
        for (const CalendarDay &d : CalendarSheet::parse(s))
            dates << CalendarTexts::dateKey(d.date);
        QCOMPARE(dates, QStringList({"2026-09-01", "2026-10-01", "2027-01-01", "2027-01-30"}));
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
            {{{"5月1日", "放假"}}, "没有写年份"},
            // A school year: 8月1日 lies in neither of its two years.
            {{{"2026-09-01", "上课", "1"}, {"2027-07-01", "放假"}, {"8月1日", "放假"}}, "第3行"},
        };
        // A calendar from a workbook in the 1904 date system that also
        // holds Excel's extension workbookPr (which has no date1904).
        const QList<CalendarDay> mac = CalendarSheet::parse(
            readSheetFile(QDir::cleanPath(qEnvironmentVariable("DALING_TEST_DATA") + "/../../exchange/data/calendar-1904.xlsx")));
        QCOMPARE(CalendarSheet::rows(mac).value(1), (QStringList{"2026-10-01", "放假", "", "国庆节"}));

        // Every bad row is named, not only the first; nothing is taken.
        SheetData many;
        many.rows = {{"日期", "类型", "按星期", "备注"},
                     {"2026-02-30", "放假"},
                     {"2026-10-10", "上课"},
                     {"2026-10-11", "调休", "星期一"},
                     {"2026年10月1日", "补课"}};
        try {
            CalendarSheet::parse(many);
            QFAIL("accepted");
        } catch (const CalendarError &e) {
            const QStringList lines = e.text().split(u'\n');
            QCOMPARE(lines.size(), 4);
            QVERIFY(lines[0].startsWith("第2行：") && lines[1].startsWith("第3行：") && lines[2].startsWith("第5行："));
            QCOMPARE(lines[3], QStringLiteral("校历没有改变。"));
        }
        for (int i = 0; i < 30; ++i)
            many.rows << QStringList{"2026-13-01", "放假"};
        try {
            CalendarSheet::parse(many);
            QFAIL("accepted");
        } catch (const CalendarError &e) {
            QVERIFY2(e.text().contains("另有 13 行也有错"), qPrintable(e.text()));
        }

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
