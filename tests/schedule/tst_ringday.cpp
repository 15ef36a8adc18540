#include "ringfixture.h"

#include <QRandomGenerator>
#include <algorithm>

// Whole simulated days: every due entry rings exactly once, at its second,
// whatever the jitter of the clock's ticks.
class RingDayTest : public QObject {
    Q_OBJECT
    using F = RingFixture;

    // n distinct times of day, at least two seconds apart (a late tick may
    // skip one second, and of two entries due at once only the later sounds).
    static QList<qint64> spacedTimes(QRandomGenerator &rng, int n)
    {
        QList<qint64> picks;
        for (qint64 v = 0; v < 86400 / 3; ++v)
            picks << v;
        std::shuffle(picks.begin(), picks.end(), rng);
        picks.resize(n);
        picks[0] = 0;              // 00:00:00
        picks[1] = 86400 / 3 - 1;  // 23:59:57 or 23:59:58
        std::sort(picks.begin(), picks.end());
        QList<qint64> times;
        for (qint64 v : picks)
            times << 3 * v + rng.bounded(2);
        times[0] = 0;
        return times;
    }

    // Ticks from one moment to another as a loaded machine might deliver
    // them: mostly a few ms after the second, sometimes late in it, sometimes
    // twice in one second, sometimes 1.4 s late so that a second gets no tick
    // of its own. The blink runs in between.
    static void run(F &f, QRandomGenerator &rng, QDateTime from, const QDateTime &to)
    {
        QDateTime second = from;
        while (second < to) {
            const int r = rng.bounded(100);
            int step = 1;
            if (r < 90) {
                f.tickAt(second.addMSecs(2 + rng.bounded(300)));
            } else if (r < 94) {
                f.tickAt(second.addMSecs(300 + rng.bounded(700)));
            } else if (r < 97) {
                f.tickAt(second.addMSecs(2));
                f.tickAt(second.addMSecs(600));
            } else {
                f.tickAt(second.addMSecs(1000 + rng.bounded(400)));
                step = 2;
            }
            f.engine.TimerShanTimer();
            second = second.addSecs(step);
        }
    }

    // For each play, the entry (by file name) and the delay after its second.
    static void checkPlays(const F &f, const QDate &day, const QList<qint64> &times,
                           const QStringList &names, const QStringList &due)
    {
        QStringList played;
        for (int i = 0; i < f.player.played.size(); ++i) {
            const QDateTime at = f.player.playTimes[i];
            const QString name = f.player.played[i];
            const qint64 idx = names.indexOf(name);
            QVERIFY2(idx >= 0, qPrintable(name));
            const QDateTime due(day, QTime(0, 0).addSecs(times[idx]));
            const qint64 late = due.msecsTo(at);
            if (late < 0 || late >= 86400LL * 1000)
                continue; // another day's ring
            QVERIFY2(late <= 1400, qPrintable(QStringLiteral("%1 rang %2 ms late").arg(name).arg(late)));
            played << name;
        }
        QCOMPARE(played, due);
    }

private slots:
    void aDayOfAThousandEntries()
    {
        QRandomGenerator rng(20261207);
        const QDate day(2026, 12, 7);
        F f(QDateTime(day.addDays(-1), QTime(23, 59, 50)));
        const QList<qint64> times = spacedTimes(rng, 1000);
        QStringList names;
        QList<BellEntry> entries;
        for (int i = 0; i < times.size(); ++i) {
            names << QStringLiteral("e%1.mp3").arg(i, 4, 10, QLatin1Char('0'));
            entries.append({0, times[i], names.last(), names.last(), F::allDays(), "", ""});
            f.player.lengths[names.last()] = 500 + rng.bounded(20000);
        }
        f.addMany(entries);
        run(f, rng, QDateTime(day.addDays(-1), QTime(23, 59, 50)),
            QDateTime(day.addDays(1), QTime(0, 0, 5)));
        checkPlays(f, day, times, names, names);
        QVERIFY(f.messages.shown.isEmpty());
        QCOMPARE(f.board.nextBellRow(), 2); // the next day: only its 00:00:00 bell is past
    }

    void aWeekOfEntriesOnTheirOwnWeekdays()
    {
        QRandomGenerator rng(7);
        const QDate sunday(2026, 12, 6);
        F f(QDateTime(sunday, QTime(0, 0)));
        const QList<qint64> times = spacedTimes(rng, 200);
        QStringList names;
        QList<QString> days;
        QList<BellEntry> entries;
        for (int i = 0; i < times.size(); ++i) {
            std::array<bool, 7> on{};
            for (bool &d : on)
                d = rng.bounded(2) == 1;
            if (i % 50 == 0)
                on.fill(i % 100 == 0); // every day, or none
            days << WeekdaySet::fromDays(on);
            names << QStringLiteral("w%1.mp3").arg(i, 3, 10, QLatin1Char('0'));
            entries.append({0, times[i], names.last(), names.last(), days.last(), "", ""});
        }
        f.addMany(entries);
        f.player.defaultLength = 1500;
        run(f, rng, QDateTime(sunday, QTime(0, 0)), QDateTime(sunday.addDays(7), QTime(0, 0)));
        for (int d = 0; d < 7; ++d) {
            const QDate day = sunday.addDays(d);
            const QChar ch = WeekdaySet::charOf(day);
            QStringList due;
            for (int i = 0; i < names.size(); ++i)
                if (days[i].contains(ch))
                    due << names[i];
            checkPlays(f, day, times, names, due);
        }
        QVERIFY(f.messages.shown.isEmpty());
        // What the engine keeps of past days does not grow with the days run.
        int lastTwoDays = 0;
        for (int d = 5; d < 7; ++d)
            for (const QString &set : days)
                lastTwoDays += set.contains(WeekdaySet::charOf(sunday.addDays(d)));
        QVERIFY(f.engine.rungEntriesHeld() <= lastTwoDays);
    }
};

QTEST_GUILESS_MAIN(RingDayTest)
#include "tst_ringday.moc"
