#pragma once
// The program's context for a test of its windows: the temporary home, the
// fake clock, boxes and dialogs, a fake player for every output, and the
// autostart entry kept inside the home. The window is a client of an
// engine built in the test's process behind a real socket in the home, on
// the same fakes, so that the test drives it. A test replaces what it needs.
#include "application.h"
#include "fakes.h"
#include "dayfeed.h"
#include "enginelink.h"
#include "inprocessengine.h"

#include <QTest>

inline MainContext testContext(const TempHome &home, FakeClock &clock, FakeMessages &messages,
                               FakeFileDialogs &dialogs)
{
    MainContext c;
    c.paths = AppPaths(home.path());
    c.clock = &clock;
    c.messages = &messages;
    c.dialogs = &dialogs;
    c.makePlayer = [&clock](const QString &) { return std::make_unique<FakePlayer>(&clock); };
    c.autostartFolder = home.path() + "autostart";
    c.executablePath = home.path() + "daling";
    c.makeHost = [socket = home.path() + "engine.sock"](const MainContext &ctx) -> std::unique_ptr<EngineHost> {
        return std::make_unique<InProcessEngine>(ctx, socket);
    };
    return c;
}

// Waits until the window has taken in everything the engine has said so
// far: two round trips on its link (notifications come before the first
// answer; what they made the window ask again comes before the second).
inline bool settleWindow(DalingApp &app, int timeoutMs = 5000)
{
    if (!QTest::qWaitFor([&] { return app.link().isReady() && app.feed().current(); }, timeoutMs))
        return false;
    for (int round = 0; round < 2; ++round) {
        bool answered = false;
        app.link().getStatus([&](const LinkResult<EngineStatus> &) { answered = true; });
        if (!QTest::qWaitFor([&] { return answered; }, timeoutMs))
            return false;
    }
    return true;
}
