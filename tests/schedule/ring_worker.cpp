// Rings a day's bells on the fake clock from a given time, one tick per
// second, on a real store, then waits to be killed (or, told "end", ends as
// the program does). The restart test kills it while a bell sounds and
// starts another engine on the same store.
#include "bellboard.h"
#include "fakes.h"
#include "ringengine.h"
#include "ringhistory.h"

#include <QCoreApplication>
#include <QThread>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 5)
        return 2;
    const QString home = QString::fromLocal8Bit(argv[1]);
    const QDateTime from = QDateTime::fromString(QString::fromLatin1(argv[2]), Qt::ISODate);
    const int ticks = QByteArray(argv[3]).toInt();
    const QByteArray how = argv[4]; // "kill": wait for it; "end": end as the program does
    FakeClock clock(from);
    const AppPaths paths(home);
    BellStore store;
    if (!store.open(paths.databaseFile()).isEmpty())
        return 1;
    BellBoard board(store, clock, paths);
    FakePlayer player(&clock);
    FakePlayer spare(&clock);
    player.defaultLength = spare.defaultLength = 10000;
    FakeMessages messages;
    RingHistory history(store);
    RingEngine engine(board, player, messages, clock, nullptr, &spare);
    engine.setHistory(&history);
    board.setHistory(&history);
    for (int i = 0; i < ticks; ++i) {
        clock.set(from.addSecs(i).addMSecs(2));
        player.advance();
        spare.advance();
        engine.TimerShiJianTimer();
        if (engine.TimerPrepare.isActive()) {
            engine.TimerPrepare.stop();
            engine.TimerPrepareTimer();
        }
        // The records are written from the event loop after the tick.
        QCoreApplication::sendPostedEvents(&engine, QEvent::MetaCall);
        history.flush();
    }
    std::printf("%s\n", qPrintable((player.played + spare.played).join(u',')));
    std::fflush(stdout);
    if (how == "end")
        return history.closeAtEnd({}) ? 0 : 3;
    QThread::sleep(60);
    return 0;
}
