// Marked days against the fake clock: what running mode lists and rings,
// the date panel, and the date change at midnight into each kind of day.
#include "ringfixture.h"
#include "schoolcalendar.h"

using F = RingFixture;

namespace {

struct CalendarFixture : RingFixture {
    SchoolCalendar calendar{store};
    explicit CalendarFixture(QDateTime start) : RingFixture(std::move(start))
    {
        board.setDayPlan(&calendar);
    }
    void mark(const QDate &d, const QString &kind, const QString &weekday = {}, const QString &remark = {})
    {
        calendar.days().put({CalendarDay::fromTexts(d.toString(Qt::ISODate), kind, weekday, remark)});
    }
    QStringList listed() const
    {
        QStringList names;
        for (const BellEntry &e : board.day().entries())
            names << e.name;
        return names;
    }
    // Entries at 08:00:05 for Monday and Saturday, one at 00:00:00 each day.
    void addWeek()
    {
        add(0, "midnight mon", "一");
        add(0, "midnight sat", "六");
        add(at(8, 0, 5), "monday", "一");
        add(at(8, 0, 5), "saturday", "六");
    }
};

const QDate kSat(2026, 10, 10); // a Saturday
const QDate kFri(2026, 10, 9);

} // namespace

class CalendarRingTest : public QObject {
    Q_OBJECT

private slots:
    void markedDayRingsItsPlan_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("weekday");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QString>("date");
        QTest::newRow("ordinary Saturday") << "" << ""
            << QStringList{"midnight sat", "saturday"} << " 10月10日 周六";
        QTest::newRow("holiday") << "放假" << "" << QStringList{} << " 10月10日 周六 放假";
        QTest::newRow("make-up as Monday") << "上课" << "一"
            << QStringList{"midnight mon", "monday"} << " 10月10日 周六 按周一上课";
    }
    void markedDayRingsItsPlan()
    {
        QFETCH(QString, kind);
        QFETCH(QString, weekday);
        QFETCH(QStringList, listed);
        QFETCH(QString, date);
        CalendarFixture f(QDateTime(kSat, QTime(8, 0, 0)));
        f.addWeek();
        if (!kind.isEmpty())
            f.mark(kSat, kind, weekday);
        f.tickRange(F::at(8, 0, 1), F::at(8, 0, 7));
        QVERIFY(f.board.running());
        QCOMPARE(f.listed(), listed);
        QCOMPARE(f.board.dateText(), date);
        QStringList rung;
        if (!listed.isEmpty())
            rung << listed.last() + ".mp3";
        QCOMPARE(f.played(), rung);

        // Stopped mode lists every entry, whatever the day.
        f.engine.ButtonPlayClick();
        QVERIFY(!f.board.running());
        QCOMPARE(f.listed().size(), 4);
        QCOMPARE(f.board.dateText(), date);
    }

    void midnightIntoEachKind_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("weekday");
        QTest::addColumn<QStringList>("rung");
        QTest::addColumn<QString>("date");
        QTest::newRow("into a holiday") << "放假" << "" << QStringList{} << " 10月10日 周六 放假 国庆节";
        QTest::newRow("into a make-up day") << "上课" << "一"
            << QStringList{"midnight mon.mp3", "monday.mp3"} << " 10月10日 周六 按周一上课";
        QTest::newRow("into an ordinary Saturday") << "" << ""
            << QStringList{"midnight sat.mp3", "saturday.mp3"} << " 10月10日 周六";
    }
    void midnightIntoEachKind()
    {
        QFETCH(QString, kind);
        QFETCH(QString, weekday);
        QFETCH(QStringList, rung);
        QFETCH(QString, date);
        CalendarFixture f(QDateTime(kFri, QTime(23, 59, 58)));
        f.addWeek();
        f.add(F::at(23, 59, 59), "friday", "五");
        if (!kind.isEmpty()) // the holiday's remark is shown, a make-up day's is not
            f.mark(kSat, kind, weekday, "国庆节");
        f.tickAt(QDateTime(kFri, QTime(23, 59, 58, 2)));
        f.tickAt(QDateTime(kFri, QTime(23, 59, 59, 2)));
        QCOMPARE(f.board.dateText(), QStringLiteral(" 10月9日 周五"));
        f.tickAt(QDateTime(kSat, QTime(0, 0, 0, 2)));
        // The new day's kind is on the panel with its first tick, also when
        // it lists nothing.
        QCOMPARE(f.board.dateText(), date);
        for (int s = 1; s <= 6; ++s)
            f.tickAt(QDateTime(kSat, QTime(0, 0, s, 2)));
        f.tickAt(QDateTime(kSat, QTime(8, 0, 5, 2)));
        QCOMPARE(f.played(), QStringList{"friday.mp3"} + rung);

        // And out of it again at the next midnight: the plain Sunday.
        f.add(F::at(0, 0, 1), "sunday", "日");
        for (int s = 0; s <= 2; ++s)
            f.tickAt(QDateTime(kSat.addDays(1), QTime(0, 0, s, 2)));
        QCOMPARE(f.board.dateText(), QStringLiteral(" 10月11日 周日"));
        QCOMPARE(f.played().last(), QStringLiteral("sunday.mp3"));
    }

    void unreadableMarksRingThePlainWeek()
    {
        CalendarFixture f(QDateTime(kSat, QTime(8, 0, 0)));
        f.addWeek();
        f.mark(kSat, "放假");
        QSqlQuery(f.store.database()).exec("drop table rili");
        QSqlQuery(f.store.database()).exec("create table rili (x text)");
        f.tickRange(F::at(8, 0, 1), F::at(8, 0, 6));
        QCOMPARE(f.played(), QStringList{"saturday.mp3"});
    }
};

QTEST_GUILESS_MAIN(CalendarRingTest)
#include "tst_calendarring.moc"
