#include "bellstore.h"
#include "fakes.h"
#include "secondsofday.h"
#include "settings.h"
#include "weekdayset.h"
#include "zonestore.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <sys/stat.h>

class StoreTest : public QObject {
    Q_OBJECT
private slots:
    void timeText_data()
    {
        QTest::addColumn<qint64>("n");
        QTest::addColumn<QString>("text");
        QTest::newRow("midnight") << qint64(0) << "00:00:00";
        QTest::newRow("last second") << qint64(86399) << "23:59:59";
        QTest::newRow("24 hours") << qint64(86400) << "24:00:00";
        QTest::newRow("12:34:56") << qint64(45296) << "12:34:56";
        QTest::newRow("nine and ten") << qint64(9 * 3600 + 10 * 60 + 9) << "09:10:09";
        QTest::newRow("100 hours") << qint64(360000) << "100:00:00";
        QTest::newRow("wide") << qint64(99999999999) * 3600 << "99999999999:00:00";
    }
    void timeText()
    {
        QFETCH(qint64, n);
        QFETCH(QString, text);
        QCOMPARE(inttotime(n), text);
    }

    void timeToIntHasNoRangeCheck()
    {
        QCOMPARE(timetoint(12, 34, 56), qint64(45296));
        QCOMPARE(timetoint(24, 0, 0), qint64(86400));
        QCOMPARE(timetoint(0, 99, 99), qint64(99 * 60 + 99));
        // Far beyond 32 bits without overflow.
        QCOMPARE(timetoint(9999999999LL, 0, 0), 9999999999LL * 3600);
    }

    void weekdayCharacters()
    {
        // 2026-12-06 is a Sunday.
        const QString expected = QStringLiteral("日一二三四五六");
        for (int i = 0; i < 7; ++i)
            QCOMPARE(WeekdaySet::charOf(QDate(2026, 12, 6).addDays(i)), expected[i]);
        QCOMPARE(WeekdaySet::dayPattern(QDate(2026, 12, 7)), QStringLiteral("%一%"));
        QCOMPARE(WeekdaySet::fromDays({true, true, true, true, true, true, true}), expected);
        QCOMPARE(WeekdaySet::fromDays({}), QString());
        QCOMPARE(WeekdaySet::fromDays({false, true, false, true, false, true, false}),
                 QStringLiteral("一三五"));
        const auto d = WeekdaySet::toDays(QStringLiteral("x六日"));
        QVERIFY(d[0] && d[6] && !d[1]);
    }

    void createsTablesAndMatchesWeekdays()
    {
        TempHome home;
        BellStore store;
        QCOMPARE(store.open(home.db()), QString());
        QVERIFY(QFile::exists(home.db()));
        auto add = [&](qint64 t, const QString &days) {
            return store.insert({0, t, "n" + days, "a.mp3", days, "", ""});
        };
        add(300, "一");
        add(100, "一三五");
        add(200, "日一二三四五六");
        add(50, "日六");
        add(400, "");
        const auto monday = store.list(WeekdaySet::dayPattern(QDate(2026, 12, 7)));
        QCOMPARE(monday.size(), 3);
        QCOMPARE(monday[0].time, 100);
        QCOMPARE(monday[1].time, 200);
        QCOMPARE(monday[2].time, 300);
        store.insert({0, 500, QString(), QString(), QString(), QString(), QString()});
        const auto all = store.list(WeekdaySet::allPattern());
        QCOMPARE(all.size(), 6); // null texts are stored as empty texts, so "%" matches them
        QCOMPARE(all.last().weekdays, QString());
        QVERIFY(!all.last().weekdays.isNull());
        QCOMPARE(all[4].weekdays, QString()); // the empty 周期 is listed among all entries only
        QCOMPARE(all.first().time, 50);
    }

    void zonesGoWithTheirBells()
    {
        TempHome home;
        BellStore store;
        QCOMPARE(store.open(home.db()), QString());
        ZoneStore zones(store);
        const qint64 a = zones.add({0, "教学楼A", "pulse/a", 0});
        const qint64 b = zones.add({0, "宿舍", "pulse/b", 400});
        // Bad input is refused with a message, nothing stored.
        for (const Zone &bad : {Zone{0, " ", "pulse/x", 0}, Zone{0, "宿舍", "pulse/x", 0},
                                Zone{0, "操场", "", 0}, Zone{0, "操场", "pulse/x", -1}})
            QVERIFY_THROWS_EXCEPTION(StoreError, zones.add(bad));
        QCOMPARE(zones.list().size(), 2);

        const qint64 both = store.insert({0, 100, "both", "a.mp3", "一", "", "", {a, b}});
        const qint64 none = store.insert({0, 200, "none", "a.mp3", "一", "", ""});
        QCOMPARE(store.entry(QString::number(both))->zones, (QList<qint64>{a, b}));
        QVERIFY(store.entry(QString::number(none))->zones.isEmpty());

        // Every copy of the list through its entries keeps the zones.
        const QList<BellEntry> before = store.list("%");
        store.replaceAll(before);
        QCOMPARE(store.list("%").first().zones, (QList<qint64>{a, b}));

        // A deleted zone leaves its bells; a deleted bell leaves no rows.
        zones.remove(a);
        QCOMPARE(store.list("%").first().zones, QList<qint64>{b});
        store.clear();
        QVERIFY(zonestore::bellZones(store.database()).isEmpty());
    }

    void entryByIdTextAndCounting()
    {
        TempHome home;
        BellStore store;
        QVERIFY(store.open(home.db()).isEmpty());
        BellEntry e{0, 45296, "上课", "上课.mp3", "一二三四五", "185", "第一节"};
        const qint64 id = store.insert(e);
        e.id = id;
        QCOMPARE(store.entry(QString::number(id)).value(), e);
        QVERIFY(!store.entry(QString()).has_value()); // the empty text selects nothing
        e.name = "下课";
        store.update(e);
        QCOMPARE(store.entry(QString::number(id))->name, QStringLiteral("下课"));
        store.insert({0, 100, "", "b.mp3", "", "", ""});
        QCOMPARE(store.countBefore(45296), 1);
        QCOMPARE(store.countBefore(45297), 2);
        QVERIFY_THROWS_EXCEPTION(StoreError, store.remove(QString()));
        store.remove(QString::number(id));
        QCOMPARE(store.list("%").size(), 1);
        store.clear();
        QVERIFY(store.list("%").isEmpty());
    }

    void replaceAllIsAllOrNothing()
    {
        TempHome home;
        BellStore store;
        QVERIFY(store.open(home.db()).isEmpty());
        store.insert({0, 1, "old", "a.mp3", "一", "", ""});
        QList<BellEntry> rows;
        for (int i = 0; i < 10; ++i)
            rows.append({0, i, "new", "b.mp3", "", "", ""});
        QVERIFY_THROWS_EXCEPTION(StoreError, store.replaceAll(rows, [](int r) {
            if (r == 5)
                throw StoreError("boom");
        }));
        auto kept = store.list("%");
        QCOMPARE(kept.size(), 1);
        QCOMPARE(kept[0].name, QStringLiteral("old"));
        store.replaceAll(rows);
        QCOMPARE(store.list("%").size(), 10);
    }

    void unopenableDatabases()
    {
        TempHome home;
        // Not a database: refused, and the file is left as it was.
        QFile f(home.db());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'x'));
        f.close();
        BellStore store;
        const QString err = store.open(home.db());
        QVERIFY(!err.isEmpty());
        QVERIFY(!store.isOpen());
        QVERIFY_THROWS_EXCEPTION(StoreError, store.list("%"));
        QCOMPARE(QFileInfo(home.db()).size(), 4096);
        QFile g(home.db());
        QVERIFY(g.open(QIODevice::ReadOnly));
        QCOMPARE(g.readAll(), QByteArray(4096, 'x'));

        // A folder that does not exist.
        BellStore other;
        QVERIFY(!other.open(home.path() + "missing/sub/db.db").isEmpty());
    }

    // Weekday texts kept as typed by an older import are stored as the days
    // they name when the store opens, so that "工作日" no longer rings on
    // Sundays; a text that names no days stays as it was.
    void weekdayWordsAreStoredAsDays()
    {
        TempHome home;
        {
            BellStore store;
            QVERIFY(store.open(home.db()).isEmpty());
            QSqlQuery q(store.database());
            for (const char *days : {"工作日", "周一至周五", "隔周一", "一二三四五", "五 三"})
                QVERIFY(q.exec(QStringLiteral("insert into daling (时间, 名称, 音乐, 周期) values (1, 'x', 'x.mp3', '%1')")
                                   .arg(QString::fromUtf8(days))));
        }
        BellStore store;
        QVERIFY(store.open(home.db()).isEmpty());
        QStringList stored;
        for (const BellEntry &e : store.list("%"))
            stored << e.weekdays;
        QCOMPARE(stored, (QStringList{"一二三四五", "一二三四五", "隔周一", "一二三四五", "三五"}));
        QCOMPARE(store.list("%日%").size(), 0);
    }

    // 补打时限 as stored by hand or by an older version: only a whole number
    // of seconds within 0-300 counts; anything else is the default.
    void catchUpSetting_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("seconds");
        QTest::newRow("none") << QString() << 60;
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("upper bound, spaces") << " 300 " << 300;
        QTest::newRow("too large") << "301" << 60;
        QTest::newRow("negative") << "-1" << 60;
        QTest::newRow("fraction") << "2.5" << 60;
        QTest::newRow("text") << "六十" << 60;
    }
    void catchUpSetting()
    {
        QFETCH(QString, stored);
        QFETCH(int, seconds);
        TempHome home;
        BellStore store;
        QVERIFY(store.open(home.db()).isEmpty());
        Settings settings(store);
        if (!stored.isNull())
            settings.setValue(Settings::kCatchUp, stored);
        QCOMPARE(settings.catchUpSeconds(), seconds);
        QVERIFY_THROWS_EXCEPTION(AppError, settings.setCatchUpSeconds(301));
        QCOMPARE(settings.catchUpSeconds(), seconds); // a refused value changes nothing
    }

    // Whoever can put a link or a pipe where the store belongs must not lead
    // our tables into another file, nor hold the start.
    void aStoreThatIsNotAPlainFileIsRefused()
    {
        TempHome home;
        const QString other = home.path() + "someone-elses.db";
        {
            BellStore target;
            QVERIFY(target.open(other).isEmpty());
        }
        const QByteArray before = [&] { QFile f(other); f.open(QIODevice::ReadOnly); return f.readAll(); }();
        QVERIFY(QFile::link(other, home.db()));
        BellStore store;
        QVERIFY(store.open(home.db()).contains("符号链接"));
        QVERIFY(!store.isOpen());
        QFile f(other);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);

        QVERIFY(QFile::remove(home.db()));
        QCOMPARE(::mkfifo(QFile::encodeName(home.db()).constData(), 0600), 0);
        QVERIFY(store.open(home.db()).contains("符号链接或特殊文件"));

        // Nor through the journal that SQLite opens beside it.
        QVERIFY(QFile::remove(home.db()));
        QVERIFY(QFile::link(other + "-wal", home.db() + "-wal"));
        QVERIFY(store.open(home.db()).contains("-wal"));
        QVERIFY(!QFile::exists(other + "-wal"));
    }

    // The store the program makes is writable by the operators' group
    // whatever the umask of the session that made it.
    void aNewStoreIsGroupWritable()
    {
        TempHome home;
        const mode_t old = ::umask(022);
        BellStore store;
        const QString err = store.open(home.db());
        ::umask(old);
        QVERIFY(err.isEmpty());
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(home.db()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0664));
    }
};

QTEST_GUILESS_MAIN(StoreTest)
#include "tst_store.moc"
