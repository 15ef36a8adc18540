// Runs one store command against a database and waits to be killed. The
// crash test kills it at random moments and then looks at what was stored.
#include "bellstore.h"
#include "playliststore.h"

#include <QCoreApplication>
#include <QThread>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    const QString db = QString::fromLocal8Bit(argv[1]);
    const QByteArray op = argv[2];
    BellStore store;
    if (!store.open(db).isEmpty())
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    if (op == "import") {
        QList<BellEntry> rows;
        for (int i = 0; i < 3000; ++i)
            rows.append({0, i, QStringLiteral("新%1").arg(i), "new.mp3", "一", "", ""});
        store.replaceAll(rows);
    } else if (op == "add") {
        store.insert({0, 99999, QStringLiteral("新增"), "add.mp3", "一", "", ""});
    } else if (op == "delete") {
        const auto all = store.list(QStringLiteral("%"));
        store.remove(QString::number(all.first().id));
    } else if (op == "renumber") {
        PlaylistStore(store).refresh();
    }
    std::printf("done\n");
    std::fflush(stdout);
    QThread::sleep(60);
    return 0;
}
