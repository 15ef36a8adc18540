// Plays the window for the child engine's test: starts the program on its
// command line as its child engine, prints the child's process id and runs
// until it is killed.
#include "childengine.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return 2;
    ChildEngine child(args.first(), QString(), args.mid(1));
    if (!child.start().isEmpty())
        return 1;
    std::printf("%lld\n", static_cast<long long>(child.pid()));
    std::fflush(stdout);
    return app.exec();
}
