// The dialog's commands without a window: bad input is refused with a
// message and changes nothing; the sheet goes out and comes back whole.
#include "calendarcommands.h"
#include "fakes.h"

#include <QFile>
#include <QProcess>
#include <QTest>

namespace {

struct Fixture {
    TempHome home;
    BellStore store;
    SchoolCalendar calendar{store};
    FakeMessages messages;
    FakeFileDialogs dialogs;
    int refreshed = 0;
    CalendarCommands cmd{calendar, messages, dialogs, [this] { ++refreshed; }};
    Fixture()
    {
        if (!store.open(home.db()).isEmpty())
            qFatal("store did not open");
    }
    QList<CalendarDay> days() { return calendar.days().allDays(); }
    QString lastText() const { return messages.shown.isEmpty() ? QString() : messages.shown.last().text; }
};

} // namespace

class CommandsTest : public QObject {
    Q_OBJECT

private slots:
    void badMarksChangeNothing_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("weekday");
        QTest::addColumn<QString>("says");
        QTest::newRow("no such date") << "2026-02-30" << "" << "放假" << "" << "2026-02-30”不存在";
        QTest::newRow("no such end") << "2026-02-01" << "2026-02-31" << "放假" << "" << "不存在";
        QTest::newRow("make-up without weekday") << "2026-10-10" << "" << "上课" << "" << "没有写按星期";
        QTest::newRow("range too long") << "2026-01-01" << "2027-06-01" << "放假" << "" << "一次最多";
        QTest::newRow("reversed range") << "2026-10-07" << "2026-10-01" << "放假" << ""
                                        << "结束日期 2026-10-01 早于开始日期 2026-10-07";
    }
    void badMarksChangeNothing()
    {
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(QString, kind);
        QFETCH(QString, weekday);
        QFETCH(QString, says);
        Fixture f;
        f.calendar.days().put({CalendarDay::fromTexts("2026-02-01", "放假", "", "")});
        QVERIFY(!f.cmd.mark(first, last, kind, weekday, {}));
        QCOMPARE(f.messages.shown.size(), 1);
        QCOMPARE(f.messages.shown[0].kind, QStringLiteral("Warning"));
        QVERIFY2(f.lastText().contains(says), qPrintable(f.lastText()));
        QCOMPARE(f.days().size(), 1);
        QCOMPARE(f.refreshed, 0);
    }

    void rangeAndReplaceQuestion()
    {
        Fixture f;
        QVERIFY(f.days().isEmpty()); // no table yet: no marks
        QVERIFY(f.cmd.mark("2026-10-01", "2026-10-07", "放假", "", "国庆"));
        QCOMPARE(f.days().size(), 7);
        QCOMPARE(f.refreshed, 1);
        QVERIFY(f.messages.shown.isEmpty());
        QVERIFY(f.cmd.mark("2026-10-01", "", "放假", "", "国庆")); // the same mark: no question
        QVERIFY(f.messages.shown.isEmpty());

        f.messages.answers = {Messages::Answer::No};
        QVERIFY(!f.cmd.mark("2026-10-07", "", "上课", "一", ""));
        QCOMPARE(f.lastText(), QStringLiteral("2026-10-07 已标为“放假”。是否替换？"));
        QCOMPARE(f.calendar.days().day(QDate(2026, 10, 7))->kind, CalendarDay::Kind::Holiday);

        f.messages.answers = {Messages::Answer::Yes};
        QVERIFY(f.cmd.mark("2026-10-06", "2026-10-08", "上课", "周二", ""));
        QVERIFY(f.lastText().startsWith(QStringLiteral("其中 2 天已有标记")));
        QCOMPARE(f.calendar.days().day(QDate(2026, 10, 8))->panelText(), QStringLiteral("按周二上课"));
        QCOMPARE(f.days().size(), 8);

        QVERIFY(f.cmd.unmark("2026-10-01", "2026-10-02"));
        QCOMPARE(f.days().size(), 6);
        QVERIFY(!f.cmd.unmark("2026-10-01", ""));
        QCOMPARE(f.lastText(), QStringLiteral("所选日期没有标记。"));
    }

    void timetableCommands()
    {
        Fixture f;
        f.store.insert({0, 3600, "早铃", "a.mp3", "一", "", ""});
        // With none in use the saved timetable is the list that rings: no
        // question, and a later switch keeps no list under 当前作息.
        QVERIFY(f.cmd.saveCurrentAs("夏季作息"));
        QVERIFY(f.messages.shown.isEmpty());
        QCOMPARE(f.calendar.timetables().current()->name, QStringLiteral("夏季作息"));
        QVERIFY(!f.cmd.saveCurrentAs("夏季作息"));
        QCOMPARE(f.lastText(), QStringLiteral("作息方案名称“夏季作息”已经使用，请换一个名称。"));
        const qint64 summer = f.calendar.timetables().current()->id;

        // Another one in use: the operator chooses; No saves a copy only.
        f.messages.answers = {Messages::Answer::No};
        QVERIFY(f.cmd.saveCurrentAs("冬季作息"));
        QCOMPARE(f.calendar.timetables().current()->name, QStringLiteral("夏季作息"));
        const qint64 winter = f.calendar.timetables().list().first().id; // 冬 sorts first
        QCOMPARE(f.calendar.timetables().byId(winter)->name, QStringLiteral("冬季作息"));

        // Yes: the new one is current and 夏季作息 keeps the list as it was.
        f.store.insert({0, 7200, "午铃", "b.mp3", "一", "", ""});
        QVERIFY(f.cmd.saveCurrentAs("春季作息"));
        QVERIFY(f.lastText().startsWith(QStringLiteral("把现在的打铃列表另存为“春季作息”")));
        QCOMPARE(f.calendar.timetables().current()->name, QStringLiteral("春季作息"));
        QCOMPARE(f.calendar.timetables().byId(summer)->entries, 2);
        f.store.clear();

        f.messages.answers = {Messages::Answer::No};
        QVERIFY(!f.cmd.switchNow(winter));
        QCOMPARE(f.lastText(), QStringLiteral("确定从“春季作息”切换到“冬季作息”吗？\n"
                                              "现在的打铃列表保存到“春季作息”，换成“冬季作息”的 1 条铃声。"));
        QVERIFY(f.store.list("%").isEmpty());
        const int refreshed = f.refreshed;
        QVERIFY(f.cmd.switchNow(winter));
        QCOMPARE(f.store.list("%").size(), 1);
        QCOMPARE(f.refreshed, refreshed + 1);
        QCOMPARE(f.calendar.timetables().list().size(), 3); // no 当前作息
        QVERIFY(!f.cmd.switchNow(winter)); // already current
        QVERIFY(!f.cmd.remove(winter));
        QVERIFY(f.lastText().contains(QStringLiteral("不能删除")));
        QVERIFY(!f.cmd.setStartDay(winter, "02-30"));
        QVERIFY(f.cmd.setStartDay(winter, "5月1日"));
        QCOMPARE(f.calendar.timetables().byId(winter)->startDay, QStringLiteral("05-01"));
    }

    void exportAndImportAgree()
    {
        Fixture f;
        f.cmd.mark("2026-10-01", "2026-10-03", "放假", "", "国庆节");
        f.cmd.mark("2026-10-10", "", "上课", "五", "调休");
        const QString file = f.home.path() + "校历";
        f.dialogs.saveAnswers = {file};
        QVERIFY(f.cmd.exportSheet());
        QCOMPARE(f.dialogs.proposedNames, QStringList{"Quorlin校历"});
        QVERIFY(QFile::exists(file + ".xls"));
        QCOMPARE(f.lastText(), QStringLiteral("数据已经成功保存")); // told as the list's export

        // An independent reader sees the same cells.
        QProcess py;
        py.start("/usr/bin/python3", {"-c", "import sys, xlrd; s = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0);"
                                             "print('|'.join(','.join(s.row_values(r)) for r in range(s.nrows)))",
                                      file + ".xls"});
        if (py.waitForFinished(30000) && py.exitCode() == 0) {
            QCOMPARE(QString::fromUtf8(py.readAllStandardOutput()).trimmed(),
                     QStringLiteral("日期,类型,按星期,备注|2026-10-01,放假,,国庆节|2026-10-02,放假,,国庆节|"
                                    "2026-10-03,放假,,国庆节|2026-10-10,上课,五,调休"));
        }

        const QList<CalendarDay> before = f.days();
        f.calendar.days().remove({QDate(2026, 10, 1), QDate(2026, 10, 2), QDate(2026, 10, 3), QDate(2026, 10, 10)});
        f.dialogs.openAnswers = {file + ".xls"};
        QVERIFY(f.cmd.importSheet());
        QCOMPARE(f.days(), before);
        QCOMPARE(f.lastText(), QStringLiteral("已导入 4 天校历。"));

        // Marks of the same days are replaced only when the operator agrees.
        QFile csv(f.home.path() + "again.csv");
        QVERIFY(csv.open(QIODevice::WriteOnly));
        csv.write("日期,类型,按星期,备注\n2026-10-10,放假,,\n2026-10-11,放假,,\n");
        csv.close();
        f.dialogs.openAnswers = {csv.fileName()};
        f.messages.answers = {Messages::Answer::No};
        QVERIFY(!f.cmd.importSheet());
        QCOMPARE(f.days(), before);
    }
};

QTEST_GUILESS_MAIN(CommandsTest)
#include "tst_commands.moc"
