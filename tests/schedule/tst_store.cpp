#include "bellstore.h"
#include "fakes.h"
#include "secondsofday.h"
#include "settings.h"
#include "weekdayset.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

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

    void playlistOrder()
    {
        TempHome home;
        BellStore store;
        QVERIFY(store.open(home.db()).isEmpty());
        store.addPlaylistFiles({"/x/a.mp3", "/x/b.mp3"});
        auto items = store.refreshPlaylist();
        QCOMPARE(items.size(), 2);
        QCOMPARE(items[0].path(), QStringLiteral("/x/a.mp3"));
        QCOMPARE(items[0].folder, QStringLiteral("/x/"));
        store.addPlaylistFiles({"/y/c.mp3", "/y/d.mp3", "/y/e.mp3"});
        items = store.refreshPlaylist();
        QStringList names;
        for (const auto &it : items)
            names << it.music;
        QCOMPARE(names, QStringList({"a.mp3", "b.mp3", "c.mp3", "d.mp3", "e.mp3"}));
        QCOMPARE(items.last().order, 5);
        store.savePlaylistOrder({items[4].id, 999999, items[0].id});
        items = store.refreshPlaylist();
        QCOMPARE(items[0].music, QStringLiteral("e.mp3"));
        store.deletePlaylistItem(items[0].id);
        QCOMPARE(store.refreshPlaylist().size(), 4);
        store.clearPlaylist();
        QVERIFY(store.refreshPlaylist().isEmpty());
    }
};

QTEST_GUILESS_MAIN(StoreTest)
#include "tst_store.moc"
