// dalingd: the bells without a window. It rings today's bells at their
// second, writes the history, keeps the store and runs the emergency
// broadcast with nobody logged in (a systemd user unit with lingering) and
// without a display. It keeps the data folder beside its executable, as
// the window does, and holds the folder's lock: one engine per folder.
// Its methods and notifications are served on the user's socket
// (docs/api.md). Its log goes to standard error (the journal under systemd).
// The remote control's page is served from here when its settings say so.
// `dalingd --web-account NAME ROLE` only sets a remote control account in
// the folder's store and exits (webaccountcommand.h).
#include "engineapi.h"
#include "engineapirelays.h"
#include "enginecore.h"
#include "instance.h"
#include "logging.h"
#include "logmessages.h"
#include "mpvplayer.h"
#include "quitsignals.h"
#include "ringengine.h"
#include "servicenotify.h"
#include "webaccountcommand.h"
#include "webremote.h"
#include "firststart.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <clocale>
#include <cstdio>
#include <malloc.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    // Each audio thread would otherwise get a malloc arena of its own.
    mallopt(M_ARENA_MAX, 2);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("dalingd"));
    // libmpv refuses to start under a locale whose decimal point is not '.'.
    std::setlocale(LC_NUMERIC, "C");

    const AppPaths paths = AppPaths::besideExecutable();
    if (const QStringList args = app.arguments(); args.size() > 1 && args.at(1) == QLatin1String(webaccountcommand::kOption)) {
        // The store the engine would start from, when there is none yet.
        seedStoreFromSample(paths);
        return webaccountcommand::run(paths, args.mid(2), STDIN_FILENO, stdout, stderr);
    }
    Instance instance(paths.dataFolder());
    if (const Instance::Claim claim = instance.claim(); claim != Instance::Claim::First) {
        const QString why = claim == Instance::Claim::Refused
            ? instance.refusalText()
            : Instance::alreadyRunningText();
        std::fprintf(stderr, "%s\n", why.toLocal8Bit().constData());
        return 1;
    }
    QuitOnSignals quitOnSignals;
    // The channel answers from now on; a later start of the window finds
    // the bells running here, with no window of ours to show.
    EngineApi api(instance.server(), {paths.dataFolder(), true, {}});
    EngineCore *running = nullptr; // the core once made, until it goes
    engineapirelays::registerMethods(instance.server(), [&running] { return running; });

    SystemClock clock;
    LogMessages messages;
    EngineContext ctx;
    ctx.paths = paths;
    ctx.clock = &clock;
    ctx.messages = &messages;
    ctx.makePlayer = [](const QString &device) {
        return std::make_unique<MpvPlayer>(MpvPlayer::Output::System, device);
    };
    EngineCore core(ctx);
    api.setCore(&core);
    running = &core;
    // Cut from the core before it goes, whatever ends this function.
    const auto unlink = qScopeGuard([&api, &running] {
        api.setCore(nullptr);
        running = nullptr;
    });
    // The remote control, while its settings switch it on (webremote.h).
    WebRemote remote(instance.server(), core);
    ServiceNotify notify(core.engine().TimerShiJian);
    core.engine().start();
    qCInfo(lcService).noquote() << "ringing the bells of" << paths.dataFolder();
    const int rc = quitOnSignals.received() ? 0 : app.exec();
    ServiceNotify::stopping();
    return rc;
}
