// Prints how much longer a running-mode Refresh takes with the school
// calendar as the board's day plan: no calendar, an empty one, 1,000 marked
// days (today unmarked, then today a make-up day). Target: at most 1 ms more.
#include "bellboard.h"
#include "fakes.h"
#include "schoolcalendar.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int entryCounts[] = {200, 10000};
    for (const int entries : entryCounts) {
        TempHome home;
        BellStore store;
        if (!store.open(home.db()).isEmpty())
            return 1;
        QList<BellEntry> rows;
        const QString days[] = {"日一二三四五六", "一二三四五", "一三五", "六"};
        for (int i = 0; i < entries; ++i)
            rows.append({0, (i * 37) % 86400, QStringLiteral("第%1节").arg(i), "上课铃.wav", days[i % 4], "", ""});
        store.replaceAll(rows);

        const QDate today(2026, 12, 9);
        FakeClock clock(QDateTime(today, QTime(12, 0, 0)));
        BellBoard board(store, clock, AppPaths(home.path()));
        board.setRunning(true);
        board.setLabelNowTime(QString::number(12 * 3600));

        SchoolCalendar empty(store);
        TempHome home2; // the same list with 1,000 marked days beside it
        BellStore marked;
        if (!marked.open(home2.db()).isEmpty())
            return 1;
        marked.replaceAll(rows);
        BellBoard markedBoard(marked, clock, AppPaths(home2.path()));
        markedBoard.setRunning(true);
        markedBoard.setLabelNowTime(board.labelNowTime());
        SchoolCalendar calendar(marked);
        QList<CalendarDay> marks;
        for (int i = 0; i < 1001; ++i) {
            const QDate d = today.addDays(i - 500);
            if (d == today)
                continue;
            CalendarDay m{d, i % 3 ? CalendarDay::Kind::Holiday : CalendarDay::Kind::MakeUp,
                          i % 3 ? QChar() : QChar(u'一'), QStringLiteral("假期")};
            marks << m;
        }
        calendar.days().put(marks);

        struct Case {
            const char *name;
            BellBoard *board;
            DayPlan *plan;
            std::vector<double> ms;
        };
        std::vector<Case> cases{{"no calendar", &board, nullptr, {}},
                                {"empty calendar", &board, &empty, {}},
                                {"1000 marked days, today unmarked", &markedBoard, &calendar, {}},
                                {"1000 marked days, today 上课 按周一", &markedBoard, &calendar, {}}};
        const int runs = entries > 1000 ? 15 : 200;
        for (int run = 0; run < runs + 3; ++run) {
            for (Case &c : cases) {
                c.board->setDayPlan(c.plan);
                // Today's mark is set or taken away outside the timing.
                if (&c == &cases[3])
                    calendar.days().put({{today, CalendarDay::Kind::MakeUp, u'一', {}}});
                else if (&c == &cases[2])
                    calendar.days().remove({today});
                QElapsedTimer t;
                t.start();
                c.board->Refresh();
                if (run >= 3) // the first runs warm the caches
                    c.ms.push_back(t.nsecsElapsed() / 1e6);
            }
        }
        const double base = median(cases[0].ms);
        std::printf("Refresh in running mode, %d entries (median of %d):\n", entries, runs);
        for (const Case &c : cases)
            std::printf("  %-36s %8.3f ms  (%+.3f ms)\n", c.name, median(c.ms), median(c.ms) - base);
    }
    return 0;
}
