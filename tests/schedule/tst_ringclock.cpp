#include "fakes.h"
#include "ringclock.h"

#include <QTest>

// The bell clock's ticks against the fake clock: when it is armed, and
// what each tick saw of the one before.
class RingClockTest : public QObject {
    Q_OBJECT

    static qint64 abs(const QDate &d, int h, int m, int s) { return d.toJulianDay() * 86400 + h * 3600 + m * 60 + s; }
    const QDate kMonday{2026, 12, 7};

private slots:
    void armedJustAfterEachSecond_data()
    {
        QTest::addColumn<int>("msec");
        QTest::addColumn<int>("startMs");
        QTest::addColumn<int>("tickMs");
        QTest::newRow("on the second") << 0 << 1002 << 1002;
        QTest::newRow("mid second") << 500 << 502 << 502;
        QTest::newRow("late in the second") << 700 << 1302 << 302;
        QTest::newRow("tick a little late") << 3 << 999 << 999;
    }

    void armedJustAfterEachSecond()
    {
        QFETCH(int, msec);
        QFETCH(int, startMs);
        QFETCH(int, tickMs);
        FakeClock fake(QDateTime(kMonday, QTime(8, 0, 0, msec)));
        QTimer timer;
        RingClock clock(fake, timer);
        QVERIFY(timer.isSingleShot());
        QCOMPARE(timer.timerType(), Qt::PreciseTimer);
        clock.start(); // the first tick at least 500 ms away
        QCOMPARE(timer.interval(), startMs);
        clock.next();
        QCOMPARE(timer.interval(), tickMs);
        QVERIFY(timer.isActive());
    }

    void ticksTellThePreviousOne()
    {
        FakeClock fake(QDateTime(kMonday, QTime(8, 0, 0, 2)));
        QTimer timer;
        RingClock clock(fake, timer);
        QVERIFY(!clock.lastTickToday());

        RingClock::Tick t = clock.next();
        QCOMPARE(t.count, 1);
        QCOMPARE(t.nowAbs, abs(kMonday, 8, 0, 0));
        QCOMPARE(t.prevAbs, t.nowAbs - 1); // the first: as if a second ago
        QCOMPARE(t.second(), qint64(8 * 3600));
        QVERIFY(!t.newDay());
        QCOMPARE(clock.lastTickToday().value_or(-1), qint64(8 * 3600));

        // A clock stepped forward an hour, then back ten minutes.
        fake.set(QDateTime(kMonday, QTime(9, 0, 0)));
        t = clock.next();
        QCOMPARE(t.prevAbs, abs(kMonday, 8, 0, 0));
        QCOMPARE(t.nowAbs, abs(kMonday, 9, 0, 0));
        QCOMPARE(t.count, 2);
        fake.set(QDateTime(kMonday, QTime(8, 50, 0)));
        t = clock.next();
        QCOMPARE(t.prevAbs, abs(kMonday, 9, 0, 0));
        QCOMPARE(t.nowAbs, abs(kMonday, 8, 50, 0));
        QVERIFY(!t.newDay());
        QCOMPARE(clock.prevAbs().value_or(-1), abs(kMonday, 8, 50, 0));
    }

    void midnightAndDaysSetBack()
    {
        FakeClock fake(QDateTime(kMonday, QTime(23, 59, 59)));
        QTimer timer;
        RingClock clock(fake, timer);
        clock.next();
        // A new day the clock has not ticked in yet: all its bells ahead.
        fake.set(QDateTime(kMonday.addDays(1), QTime(0, 0, 0, 400)));
        QCOMPARE(clock.lastTickToday().value_or(-1), qint64(0));

        RingClock::Tick t = clock.next();
        QVERIFY(t.newDay());
        QVERIFY(t.forward());
        QCOMPARE(t.prevDate, kMonday);
        QCOMPARE(t.dayStart, kMonday.addDays(1).toJulianDay() * 86400);
        QCOMPARE(t.nowAbs - t.prevAbs, qint64(1));
        QCOMPARE(t.second(), qint64(0));

        fake.set(QDateTime(kMonday, QTime(12, 0, 0))); // set back a day
        t = clock.next();
        QVERIFY(t.newDay());
        QVERIFY(!t.forward());
        QCOMPARE(t.date, kMonday);

        t = clock.next(); // the same second again
        QVERIFY(!t.newDay());
        QCOMPARE(t.prevAbs, t.nowAbs);
    }
};

QTEST_GUILESS_MAIN(RingClockTest)
#include "tst_ringclock.moc"
