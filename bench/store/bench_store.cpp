// Prints how long the store's minute check takes on the main thread: the
// plain check (identity, a probe), the day's copy (VACUUM INTO and its
// quick_check) and writing back a deleted store, for a school's list and for
// a large store with a year of ring history; and the open at start. The clock's tick must never
// wait behind them: they run mid-second, but each should stay well under
// the half second that leaves.
#include "fakes.h"
#include "ringhistory.h"
#include "storekeeper.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

template <typename Fn> std::pair<double, double> timed(int runs, Fn &&fn)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        fn(i);
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    return {median(ms), *std::max_element(ms.begin(), ms.end())};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    struct Size {
        int entries, records;
    };
    for (const Size size : {Size{200, 0}, Size{10000, 12000}}) {
        TempHome home;
        const AppPaths paths(home.path());
        FakeClock clock(QDateTime(QDate(2026, 12, 9), QTime(12, 0, 30, 500)));
        BellStore store;
        StoreKeeper keeper(store, paths, clock);
        if (!keeper.openAtStart().isEmpty())
            return 1;
        QList<BellEntry> rows;
        for (int i = 0; i < size.entries; ++i)
            rows.append({0, (i * 37) % 86400, QStringLiteral("第%1节").arg(i), "上课铃.wav", "一二三四五", "", ""});
        store.replaceAll(rows);
        RingHistory history(store);
        for (int i = 0; i < size.records; ++i)
            history.record({0, QDate(2026, 12, 9).addDays(-i / 30), 8 * 3600 + i % 30, "上课", "a.mp3",
                            BellStatus::Done, 4, {}});
        history.flush();
        keeper.check(); // today's copy exists from here on
        keeper.waitForCopy();

        const auto plain = timed(20, [&](int) { keeper.check(); });
        const auto copy = timed(10, [&](int) {
            clock.set(clock.now().addDays(1)); // a new day: a new copy
            keeper.check();
            keeper.waitForCopy(); // made on its own thread: check() returns before
        });
        const auto back = timed(5, [&](int) {
            QFile::remove(paths.databaseFile());
            QFile::remove(paths.databaseFile() + "-wal");
            QFile::remove(paths.databaseFile() + "-shm");
            keeper.check();
        });
        // Opening at start looks at the file read-only first (quick_check).
        const auto open = timed(10, [&](int) {
            BellStore again;
            StoreKeeper k(again, paths, clock);
            k.openAtStart();
        });
        const qint64 bytes = QFile(paths.databaseFile()).size();
        std::printf("%d entries, %d records (%.1f MB): check %.2f ms median (worst %.2f); "
                    "with the day's copy %.1f ms (worst %.1f); written back after deletion %.1f ms (worst %.1f); "
                    "opening at start %.1f ms (worst %.1f)\n",
                    size.entries, size.records, bytes / 1e6, plain.first, plain.second, copy.first, copy.second,
                    back.first, back.second, open.first, open.second);
    }
    return 0;
}
