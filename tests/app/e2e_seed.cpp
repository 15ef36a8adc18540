// Puts one bell into a fresh store, due the given number of seconds from
// now on today's weekday, and prints the epoch second it is due at.
#include "bellstore.h"
#include "weekdayset.h"

#include <QCoreApplication>
#include <QDateTime>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: e2e_seed <db> <seconds ahead> <music name>\n");
        return 2;
    }
    BellStore store;
    const QString err = store.open(QString::fromLocal8Bit(argv[1]));
    if (!err.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(err));
        return 1;
    }
    QDateTime due = QDateTime::currentDateTime().addSecs(QByteArray(argv[2]).toInt());
    due.setTime(QTime(due.time().hour(), due.time().minute(), due.time().second()));
    BellEntry e;
    e.time = due.time().msecsSinceStartOfDay() / 1000;
    e.name = QStringLiteral("端到端");
    e.music = QString::fromLocal8Bit(argv[3]);
    e.weekdays = QString(WeekdaySet::charOf(due.date()));
    store.insert(e);
    std::printf("%lld\n", static_cast<long long>(due.toSecsSinceEpoch()));
    return 0;
}
