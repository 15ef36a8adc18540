// Prints how long Refresh takes for 10,000 entries in both modes, how long
// a bell's status change takes with the grid showing the list, and how long
// the main window takes from the start of the process to its first painted
// frame.
#include "bellboard.h"
#include "fakes.h"
#include "ringhistory.h"
#include "schedulemodel.h"
#include "inprocessengine.h"
#include "tformmain.h"

#include <QSqlQuery>
#include <QTableView>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {

double processAgeMs()
{
    // Field 22 of /proc/self/stat: start time in clock ticks after boot.
    QFile f(QStringLiteral("/proc/self/stat"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray s = f.readAll();
    const QList<QByteArray> parts = s.mid(s.lastIndexOf(')') + 2).split(' ');
    const double startTicks = parts.value(19).toDouble();
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double nowMs = now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
    return nowMs - startTicks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

class FirstPaint : public QObject {
public:
    double atMs = -1;
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::Paint && atMs < 0 && o->objectName() == "FormMain") {
            atMs = processAgeMs();
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return false;
    }
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    TempHome home;
    FakeClock clock(QDateTime(QDate(2026, 12, 9), QTime(12, 0, 0)));
    FakeMessages messages;
    FakeFileDialogs dialogs;

    // Start-up first, before anything else warms the caches.
    MainContext ctx;
    ctx.paths = AppPaths(home.path());
    ctx.clock = &clock;
    ctx.messages = &messages;
    ctx.dialogs = &dialogs;
    ctx.makePlayer = [&](const QString &) { return std::make_unique<FakePlayer>(&clock); };
    ctx.makeHost = [&home](const MainContext &c) -> std::unique_ptr<EngineHost> {
        return std::make_unique<InProcessEngine>(c, home.path() + "engine.sock");
    };
    double firstFrame = -1;
    {
        FirstPaint probe;
        app.installEventFilter(&probe);
        TFormMain w(ctx);
        w.show();
        app.exec();
        firstFrame = probe.atMs;
        app.removeEventFilter(&probe);
    }

    BellStore store;
    if (!store.open(home.path() + "bench.db").isEmpty())
        return 1;
    QList<BellEntry> rows;
    const QString days[] = {"日一二三四五六", "一三五", "二四", "三"};
    for (int i = 0; i < 10000; ++i)
        rows.append({0, (i * 8) % 86400, QStringLiteral("第%1节").arg(i), "上课铃.wav", days[i % 4], "12", "备注"});
    store.replaceAll(rows);
    BellBoard board(store, clock, AppPaths(home.path()));
    std::vector<double> stopped, running;
    for (int run = 0; run < 15; ++run) {
        board.setRunning(false);
        QElapsedTimer t;
        t.start();
        board.Refresh();
        stopped.push_back(t.nsecsElapsed() / 1e6);
        board.setRunning(true);
        board.setLabelNowTime(QString::number(12 * 3600));
        t.restart();
        board.Refresh();
        running.push_back(t.nsecsElapsed() / 1e6);
    }
    // The same, with the past bells' outcomes read from the day's ring
    // records (after a restart or a timetable switch the list's own marks
    // do not know them): 60 records today among 400 days of 60.
    RingHistory history(store);
    history.record({0, clock.now().date(), 0, QStringLiteral("第0节"), "上课铃.wav", BellStatus::Done, 3, {}});
    history.flush(); // creates the table and its index
    {
        QSqlDatabase db = store.database();
        db.transaction();
        QSqlQuery q(db);
        q.prepare(QStringLiteral("insert into jilu (日期, 时间, 名称, 音乐, 结果, 延迟, 说明) "
                                 "values (?, ?, ?, '上课铃.wav', '完成', 3, '')"));
        for (int d = 0; d < 400; ++d)
            for (int i = d == 0 ? 1 : 0; i < 60; ++i) {
                q.addBindValue(RingHistory::dateText(clock.now().date().addDays(-d)));
                q.addBindValue(i * 600);
                q.addBindValue(QStringLiteral("第%1节").arg(i));
                q.exec();
            }
        db.commit();
    }
    board.setHistory(&history);
    std::vector<double> withRecords;
    for (int run = 0; run < 15; ++run) {
        board.setLabelNowTime(QString::number(12 * 3600));
        QElapsedTimer t;
        t.start();
        board.Refresh();
        withRecords.push_back(t.nsecsElapsed() / 1e6);
    }
    board.setHistory(nullptr);
    std::vector<double> reads;
    for (int run = 0; run < 15; ++run) {
        QElapsedTimer t;
        t.start();
        const auto all = store.list(QStringLiteral("%"));
        reads.push_back(t.nsecsElapsed() / 1e6);
    }
    // A bell's status after it rang: one bell changes and the cursor moves
    // on, with the grid showing the list (its repaint comes later, from the
    // event loop, for that row only).
    board.setRunning(true);
    board.setLabelNowTime(QString::number(0));
    board.Refresh();
    ScheduleModel model(board);
    QTableView view;
    view.setModel(&model);
    view.resize(800, 600);
    view.show();
    app.processEvents();
    DaySchedule &day = board.day();
    std::vector<double> marks;
    for (int i = 0; i < 200 && i < day.size(); ++i) {
        QElapsedTimer t;
        t.start();
        day.setStatus(i, BellStatus::Done);
        day.setNext(i + 1);
        marks.push_back(t.nsecsElapsed() / 1e6);
        app.processEvents();
    }
    std::printf("start-up to first painted frame (offscreen, in-process): %.1f ms (target <= 500)\n", firstFrame);
    std::printf("Refresh, 10000 entries, stopped mode: median %.1f ms, worst %.1f ms (target <= 10)\n",
                median(stopped), *std::max_element(stopped.begin(), stopped.end()));
    std::printf("  of which reading 10000 entries from the store: median %.1f ms\n", median(reads));
    std::printf("Refresh, 10000 entries, running mode (%d today): median %.1f ms, worst %.1f ms (target <= 10)\n",
                day.size(), median(running), *std::max_element(running.begin(), running.end()));
    std::printf("  the same, the past bells' outcomes read from the day's ring records (24,000 records): median %.1f ms, worst %.1f ms\n",
                median(withRecords), *std::max_element(withRecords.begin(), withRecords.end()));
    std::printf("a bell's status change after it rang, 10000 entries shown: median %.4f ms, worst %.4f ms (target <= 1)\n",
                median(marks), *std::max_element(marks.begin(), marks.end()));
    return 0;
}
