#pragma once
// The program's context for a test of its windows: the temporary home, the
// fake clock, boxes and dialogs, a fake player for every output, and the
// autostart entry kept inside the home. A test replaces what it needs.
#include "application.h"
#include "fakes.h"

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
    return c;
}
