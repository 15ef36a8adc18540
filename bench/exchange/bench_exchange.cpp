// Time to export and to import 10,000 bell entries (target ≤ 1 s each), and
// for reference the time LibreOffice takes to convert the same list to .xls.
#include "apppaths.h"
#include "bellstore.h"
#include "fakes.h"
#include "schedulegrid.h"
#include "secondsofday.h"
#include "sheetexport.h"
#include "sheetimport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? atoi(argv[1]) : 10000;
    TempHome home;
    AppPaths paths(home.path());
    BellStore store;
    if (!store.open(home.db()).isEmpty())
        return 1;
    for (int i = 0; i < 5; ++i)
        home.touchMusic(QStringLiteral("铃声%1.mp3").arg(i));
    QList<BellEntry> list;
    for (int i = 0; i < n; ++i) {
        BellEntry e;
        e.time = (i * 7) % 86400;
        e.name = QStringLiteral("第%1节课").arg(i);
        e.music = QStringLiteral("铃声%1.mp3").arg(i % 5);
        e.weekdays = QStringLiteral("一二三四五");
        e.duration = QString::number(i % 300);
        e.remark = QStringLiteral("备注%1").arg(i % 17);
        list.append(e);
    }
    store.replaceAll(list);
    const QList<BellEntry> stored = store.list(QStringLiteral("%"));
    ScheduleGrid grid;
    grid.setGridRowCount(int(stored.size()) + 6);
    for (int r = 1; r <= stored.size(); ++r) {
        const BellEntry &e = stored[r - 1];
        const QStringList cells{QString::number(r), inttotime(e.time), e.name, e.music,
                                e.weekdays, e.duration, e.remark};
        for (int c = 0; c < cells.size(); ++c)
            grid.setCell(c, r, cells[c]);
    }

    FakeMessages messages;
    FakeFileDialogs dialogs;
    const QString file = home.path() + QStringLiteral("list");
    dialogs.saveAnswers = {file};
    auto events = [] { QCoreApplication::processEvents(); };
    QElapsedTimer t;
    t.start();
    SheetExport(grid, messages, dialogs, events).run();
    const double exportMs = t.nsecsElapsed() / 1e6;

    dialogs.openAnswers = {file + QStringLiteral(".xls")};
    t.restart();
    SheetImport(store, paths, messages, dialogs, events, [] {}).run();
    const double importMs = t.nsecsElapsed() / 1e6;
    const bool same = store.list(QStringLiteral("%")).size() == stored.size();

    printf("entries                 %d\n", n);
    printf("export (.xls)           %.1f ms   (target <= 1000 ms)\n", exportMs);
    printf("import (.xls, replace)  %.1f ms   (target <= 1000 ms)%s\n", importMs,
           same ? "" : "  LIST DIFFERS");

    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty()) {
        printf("soffice --convert-to xls: LibreOffice is not installed\n");
    } else {
        // The same list as CSV, converted by LibreOffice as a reference.
        const QString csv = home.path() + QStringLiteral("list.csv");
        QFile f(csv);
        f.open(QIODevice::WriteOnly);
        for (int r = 1; r <= stored.size(); ++r) {
            QStringList row;
            for (int c = 0; c < 7; ++c)
                row << grid.cell(c, r);
            f.write((row.join(u',') + u'\n').toUtf8());
        }
        f.close();
        QProcess p;
        t.restart();
        p.start(soffice, {QStringLiteral("-env:UserInstallation=file://") + home.path() + QStringLiteral("lo"),
                          QStringLiteral("--headless"), QStringLiteral("--infilter=CSV:44,34,76,1"),
                          QStringLiteral("--convert-to"), QStringLiteral("xls"),
                          QStringLiteral("--outdir"), home.path() + QStringLiteral("lo-out"), csv});
        p.waitForFinished(300000);
        printf("soffice --convert-to xls %.1f ms (reference, exit %d)\n", t.nsecsElapsed() / 1e6, p.exitCode());
    }
    return same ? 0 : 1;
}
