// Seasonal timetables on a real store: the switch and its one transaction,
// the switch by date across restarts, names and start days.
#include "bellboard.h"
#include "fakes.h"
#include "schoolcalendar.h"
#include "zonestore.h"

#include <QSqlQuery>
#include <QTest>

namespace {

struct Store {
    TempHome home;
    BellStore store;
    Store()
    {
        if (!store.open(home.db()).isEmpty())
            qFatal("store did not open");
    }
    void list(const QStringList &names)
    {
        QList<BellEntry> rows;
        for (int i = 0; i < names.size(); ++i)
            rows << BellEntry{0, 8 * 3600 + i, names[i], names[i] + ".mp3", "一二三四五", "", ""};
        store.replaceAll(rows);
    }
    QStringList listed() const
    {
        QStringList n;
        for (const BellEntry &e : store.list("%"))
            n << e.name;
        return n;
    }
    QString currentName(TimetableStore &t) const
    {
        const auto c = t.current();
        return c ? c->name : QString();
    }
};

} // namespace

class TimetableTest : public QObject {
    Q_OBJECT

private slots:
    void switchKeepsBothLists()
    {
        Store s;
        TimetableStore t(s.store);
        s.list({"summer 1", "summer 2"});
        const qint64 summer = t.saveCurrentAs("夏季作息");
        s.list({"winter"});
        const qint64 winter = t.saveCurrentAs("冬季作息");
        QCOMPARE(t.list().size(), 2);
        QVERIFY(!t.current()); // saving a copy marks nothing current

        // No timetable is current: the list that rings is kept as 当前作息.
        t.switchTo(summer);
        QCOMPARE(s.listed(), (QStringList{"summer 1", "summer 2"}));
        QCOMPARE(s.currentName(t), QStringLiteral("夏季作息"));
        const QList<Timetable> all = t.list();
        const auto kept = std::find_if(all.begin(), all.end(),
                                       [](const Timetable &x) { return x.name == "当前作息"; });
        QVERIFY(kept != all.end());
        QCOMPARE(kept->entries, 1);

        // Edits made while summer is current go with it.
        s.store.insert({0, 9 * 3600, "summer 3", "s3.mp3", "一", "", ""});
        // The store's copy is taken before a switch replaces the list.
        QStringList copied;
        s.store.setBeforeListReplaced([&] { copied = s.listed(); });
        t.switchTo(winter);
        QCOMPARE(copied, (QStringList{"summer 1", "summer 2", "summer 3"}));
        QCOMPARE(s.listed(), QStringList{"winter"});
        t.switchTo(summer);
        QCOMPARE(s.listed(), (QStringList{"summer 1", "summer 2", "summer 3"}));
        const BellEntry e = s.store.list("%").first();
        QCOMPARE(e.music, QStringLiteral("summer 1.mp3"));
        QCOMPARE(e.weekdays, QStringLiteral("一二三四五"));
        copied.clear();
        t.switchTo(summer); // to the current one: nothing
        QCOMPARE(s.listed().size(), 3);
        QVERIFY(copied.isEmpty());
        s.store.setBeforeListReplaced({});
    }

    void switchKeepsEachBellsZones()
    {
        Store s;
        TimetableStore t(s.store);
        ZoneStore zones(s.store);
        const qint64 a = zones.add({0, "甲", "pulse/a", 0});
        const qint64 b = zones.add({0, "乙", "pulse/b", 0});
        s.store.insert({0, 100, "summer", "s.mp3", "一", "", "", {a, b}});
        s.store.insert({0, 200, "plain", "s.mp3", "一", "", ""});
        const qint64 summer = t.saveCurrentAs("夏季作息");
        s.list({"winter"});
        const qint64 winter = t.saveCurrentAs("冬季作息");
        t.switchTo(summer);
        t.switchTo(winter);
        t.switchTo(summer);
        const QList<BellEntry> back = s.store.list("%");
        QCOMPARE(back.size(), 2);
        QCOMPARE(back[0].zones, (QList<qint64>{a, b}));
        QVERIFY(back[1].zones.isEmpty());
    }

    void failedSwitchChangesNothing_data()
    {
        QTest::addColumn<QString>("trigger");
        QTest::newRow("saving the list") << "before insert on fangan_ling";
        QTest::newRow("filling daling") << "before insert on daling";
        QTest::newRow("moving the mark") << "before update on fangan";
    }
    void failedSwitchChangesNothing()
    {
        QFETCH(QString, trigger);
        Store s;
        TimetableStore t(s.store);
        s.list({"winter"});
        const qint64 winter = t.saveCurrentAs("冬季作息");
        s.list({"summer"});
        const qint64 summer = t.saveCurrentAs("夏季作息");
        t.switchTo(summer);
        s.store.insert({0, 10 * 3600, "edited", "e.mp3", "一", "", ""});
        // A fault of the store halfway through the switch.
        QSqlQuery q(s.store.database());
        QVERIFY(q.exec(QStringLiteral("create trigger boom %1 begin select raise(abort, 'disk fault'); end")
                           .arg(trigger)));
        QVERIFY_THROWS_EXCEPTION(StoreError, t.switchTo(winter));
        QVERIFY(q.exec("drop trigger boom"));
        QCOMPARE(s.listed(), (QStringList{"summer", "edited"}));
        QCOMPARE(s.currentName(t), QStringLiteral("夏季作息"));
        QCOMPARE(t.byId(winter)->entries, 1);
        t.switchTo(winter); // and the store works on
        QCOMPARE(s.listed(), QStringList{"winter"});
        QCOMPARE(t.byId(summer)->entries, 2);
    }

    void namesAndStartDays()
    {
        Store s;
        TimetableStore t(s.store);
        const qint64 a = t.saveCurrentAs("夏季作息");
        const qint64 b = t.saveCurrentAs("冬季作息");
        QVERIFY_THROWS_EXCEPTION(CalendarError, t.saveCurrentAs(" 夏季作息 "));
        QVERIFY_THROWS_EXCEPTION(CalendarError, t.rename(b, "夏季作息"));
        QVERIFY_THROWS_EXCEPTION(CalendarError, t.saveCurrentAs(""));
        t.rename(a, "夏季作息"); // its own name
        t.rename(a, "夏令");
        QCOMPARE(t.byId(a)->name, QStringLiteral("夏令"));
        t.switchTo(a);
        QVERIFY_THROWS_EXCEPTION(CalendarError, t.remove(a)); // the current one
        t.remove(b);
        QVERIFY(!t.byId(b));
        QSqlQuery q(s.store.database());
        QVERIFY(q.exec(QStringLiteral("select count(*) from fangan_ling where 方案 = %1").arg(b)) && q.next());
        QCOMPARE(q.value(0).toInt(), 0);

        const struct { const char *typed, *stored; } cases[] = {
            {"05-01", "05-01"}, {"5-1", "05-01"}, {"10月1日", "10-01"}, {"02-29", "02-29"},
            {"", ""}, {"02-30", nullptr}, {"13-01", nullptr}, {"2026-05-01", nullptr}, {"五一", nullptr},
        };
        for (const auto &c : cases) {
            if (c.stored) {
                t.setStartDay(a, QString::fromUtf8(c.typed));
                QCOMPARE(t.byId(a)->startDay, QString::fromUtf8(c.stored));
            } else {
                QVERIFY_THROWS_EXCEPTION(CalendarError, t.setStartDay(a, QString::fromUtf8(c.typed)));
            }
        }
    }

    void switchByDate()
    {
        // 夏季作息 from 05-01, 冬季作息 from 10-01; the program first runs on
        // 20 April, is off from 28 April to 3 May, and on 1 June the
        // operator picks winter by hand.
        Store s;
        s.list({"winter"});
        SchoolCalendar cal(s.store);
        TimetableStore &t = cal.timetables();
        const qint64 winter = t.saveCurrentAs("冬季作息");
        s.list({"summer"});
        const qint64 summer = t.saveCurrentAs("夏季作息");
        t.setStartDay(summer, "05-01");
        t.setStartDay(winter, "10-01");
        t.switchTo(winter);
        Settings settings(s.store);
        const auto run = [&](const QDate &d) {
            SchoolCalendar fresh(s.store); // a start of the program
            QStringList switched;
            fresh.onSwitched = [&](const QString &n) { switched << n; };
            fresh.dayOf(d);
            fresh.dayOf(d); // a second Refresh the same day checks nothing
            return switched;
        };
        QCOMPARE(run(QDate(2026, 4, 20)), QStringList{}); // first run: nothing switches
        QCOMPARE(settings.value("校历检查日"), QStringLiteral("2026-04-20"));
        QCOMPARE(run(QDate(2026, 4, 27)), QStringList{});
        QCOMPARE(run(QDate(2026, 5, 4)), QStringList{"夏季作息"}); // first start after 05-01
        QCOMPARE(s.listed(), QStringList{"summer"});
        QCOMPARE(run(QDate(2026, 5, 5)), QStringList{});

        t.switchTo(winter); // by hand
        QCOMPARE(run(QDate(2026, 6, 1)), QStringList{});
        QCOMPARE(run(QDate(2026, 9, 30)), QStringList{});
        QCOMPARE(s.listed(), QStringList{"winter"});
        t.switchTo(summer); // by hand again; 10-01 brings winter back on its day
        QCOMPARE(run(QDate(2026, 10, 1)), QStringList{"冬季作息"});
        QCOMPARE(s.listed(), QStringList{"winter"});

        // A clock set back a year switches nothing and keeps the day checked.
        QCOMPARE(run(QDate(2025, 5, 2)), QStringList{});
        QCOMPARE(settings.value("校历检查日"), QStringLiteral("2026-10-01"));
    }

    void switchAtMidnightComesBeforeTheNewDaysList()
    {
        Store s;
        s.list({"winter"});
        SchoolCalendar cal(s.store);
        const qint64 summer = [&] {
            s.list({"summer"});
            const qint64 id = cal.timetables().saveCurrentAs("夏季作息");
            s.list({"winter"});
            return id;
        }();
        cal.timetables().setStartDay(summer, "05-01");
        FakeClock clock(QDateTime(QDate(2026, 4, 30), QTime(23, 59, 59)));
        AppPaths paths(s.home.path());
        BellBoard board(s.store, clock, paths);
        board.setDayPlan(&cal);
        board.setRunning(true);
        board.setLabelNowTime("0");
        board.Refresh();
        QCOMPARE(board.entryAtRow(1)->name, QStringLiteral("winter"));
        clock.set(QDateTime(QDate(2026, 5, 1), QTime(0, 0, 0)));
        board.Refresh();
        QCOMPARE(board.entryAtRow(1)->name, QStringLiteral("summer"));
    }

    void dueTimetable()
    {
        const QList<Timetable> all{{1, "夏", "05-01", false, 0}, {2, "冬", "10-01", false, 0},
                                   {3, "闰", "02-29", false, 0}, {4, "手动", "", false, 0}};
        const struct { QDate last, today; qint64 id; } cases[] = {
            {{2026, 4, 30}, {2026, 5, 1}, 1},
            {{2026, 5, 1}, {2026, 5, 1}, 0},   // already checked
            {{2026, 5, 1}, {2026, 9, 30}, 0},
            {{2026, 4, 1}, {2026, 10, 2}, 2},  // both passed: the later one
            {{2026, 9, 1}, {2027, 6, 1}, 1},   // across the new year
            {{2026, 12, 1}, {2027, 3, 1}, 0},  // 2027 has no 29 February
            {{2027, 12, 1}, {2028, 3, 1}, 3},
            {{2020, 1, 1}, {2026, 3, 1}, 2},   // off for years: the latest start day
        };
        for (const auto &c : cases) {
            const auto t = SeasonalSwitch::due(all, c.last, c.today);
            QCOMPARE(t ? t->id : 0, c.id);
        }
    }
};

QTEST_GUILESS_MAIN(TimetableTest)
#include "tst_timetables.moc"
