#include "appicon.h"
#include "childengine.h"
#include "engineapi.h"
#include "enginelink.h"
#include "servicesetup.h"
#include "autostart.h"
#include "instance.h"
#include "mpvplayer.h"
#include "quitsignals.h"
#include "qtseams.h"
#include "rpcclient.h"
#include "sheetcheck.h"
#include "tformmain.h"

#include <QApplication>
#include <QFont>
#include <QPointer>
#include <QJsonObject>
#include <QScreen>
#include <clocale>
#include <malloc.h>

// The window program (and the commands that need Qt), loaded by the daling
// launcher (launcher.cpp) from libdaling-window.so beside it: the process
// stays daling, so its data folder, title and autostart entry are daling's.
extern "C" __attribute__((visibility("default"))) int daling_window_main(int argc, char *argv[])
{
    // A check from the command line: no window, no sound.
    if (SheetCheck::wanted(argc, argv))
        return SheetCheck::main(argc, argv);
    // Each audio thread would otherwise get a malloc arena of its own, which
    // costs tens of MB of resident memory for nothing on a machine that only
    // plays a bell now and then.
    mallopt(M_ARENA_MAX, 2);
    QApplication app(argc, argv);
    // libmpv refuses to start under a locale whose decimal point is not '.'.
    std::setlocale(LC_NUMERIC, "C");
    // The windows ask for the classic Chinese faces; map them to the CJK
    // faces installed here, or Qt falls back to Japanese glyph shapes.
    QFont::insertSubstitutions(QStringLiteral("宋体"), {QStringLiteral("Noto Serif CJK SC"),
                                                       QStringLiteral("Noto Sans CJK SC")});
    QFont::insertSubstitutions(QStringLiteral("黑体"), {QStringLiteral("Noto Sans CJK SC")});

    // Qt's own dialogs and menus in the operator's language.
    installQtChinese();

    QApplication::setWindowIcon(appIcon());
    const QString title = applicationTitle(QCoreApplication::applicationFilePath());
    QApplication::setApplicationDisplayName(QString());
    QApplication::setApplicationName(title);

    QtMessages messages(title);
    const AppPaths paths = AppPaths::besideExecutable();
    const QString engineSocket = Instance::defaultSocketPath();
    // One window per desktop: the window keeps a lock and a channel of its
    // own beside the engine's; a second start shows the first window.
    Instance instance(paths.dataFolder(), Instance::windowSocketPath(engineSocket));
    instance.setLockName(Instance::windowLockFileName());
    if (const Instance::Claim claim = instance.claim(); claim != Instance::Claim::First) {
        if (claim == Instance::Claim::Refused) {
            messages.typedOk(Messages::Kind::Warning, instance.refusalText());
            return 1;
        }
        if (const RpcResult r = rpcCall(instance.socketPath(), QStringLiteral("Window.Raise")); r.isError())
            messages.typedOk(Messages::Kind::Information, r.error().message);
        return 0;
    }
    QuitOnSignals quitOnSignals;
    // Asked by a later start; a window still being made (a start-up box is
    // open) shows itself anyway.
    QPointer<QWidget> window;
    EngineApi windowChannel(instance.server(), {paths.dataFolder(), false, [&window] {
                                for (QWidget *w : {window.data(), QApplication::activeModalWidget()}) {
                                    if (w) {
                                        w->showNormal();
                                        w->raise();
                                        w->activateWindow();
                                    }
                                }
                            }});

    // The engine of this folder where one runs (the user's service), else
    // dalingd as our child, which ends with the window.
    std::unique_ptr<EngineHost> host;
    if (const RpcResult r = rpcCall(engineSocket, QStringLiteral("Engine.GetStatus"), QJsonValue(), 2000); !r.isError()) {
        const QJsonObject status = r.value().toObject();
        const QString folder = status.value(QStringLiteral("dataFolder")).toString();
        if (!EngineLink::sameFolder(folder, paths.dataFolder())) {
            messages.typedOk(Messages::Kind::Warning, EngineLink::kOtherFolder.arg(folder));
            return 1;
        }
        host = std::make_unique<RunningEngine>(engineSocket, status.value(QStringLiteral("service")).toBool());
    } else {
        auto child = std::make_unique<ChildEngine>(ChildEngine::besideExecutable(), engineSocket);
        if (const QString why = child->start(); !why.isEmpty()) {
            messages.typedOk(Messages::Kind::Error, why);
            return 1;
        }
        host = std::move(child);
    }

    SystemClock clock;
    QtFileDialogs dialogs;
    MainContext ctx;
    ctx.paths = paths;
    ctx.clock = &clock;
    ctx.messages = &messages;
    ctx.dialogs = &dialogs;
    ctx.makePlayer = [](const QString &device) {
        return std::make_unique<MpvPlayer>(MpvPlayer::Output::System, device);
    };
    ctx.executablePath = QCoreApplication::applicationFilePath();
    ctx.autostartFolder = Autostart::userFolder();
    ctx.makeHost = [&host](const MainContext &) { return std::move(host); };
    ProcessRunner commands;
    ctx.commands = &commands;

    TFormMain FormMain(ctx);
    messages.setOwner(&FormMain);
    dialogs.setOwner(&FormMain);
    // Centred on the screen when first shown.
    if (QScreen *s = FormMain.screen())
        FormMain.move(s->availableGeometry().center() - FormMain.rect().center());
    FormMain.show();
    window = &FormMain;
    return quitOnSignals.received() ? 0 : app.exec();
}
