#pragma once
// The main window on a temporary home, with a fake clock at 2026-12-09
// 08:00, fakes for the operator's boxes and file choosers, and fake
// players; its engine runs in the test's process behind a real socket.
#include "fakes.h"
#include "ringengine.h"
#include "testcontext.h"
#include "tformmain.h"

#include <memory>

struct MainWindowFixture {
    TempHome home;
    FakeClock clock{QDateTime(QDate(2026, 12, 9), QTime(8, 0, 0))};
    FakeMessages messages;
    FakeFileDialogs dialogs;
    std::unique_ptr<TFormMain> form;
    MainContext context() { return testContext(home, clock, messages, dialogs); }
    // The window, attached to its engine and showing the engine's list.
    void make()
    {
        form = std::make_unique<TFormMain>(context());
        settle();
    }
    // The window has taken in what the engine said (after driving the engine).
    bool settle() { return settleWindow(form->app()); }
    // One tick of the engine's clock, then the window has taken it in.
    void tick()
    {
        form->engine().TimerShiJianTimer();
        settle();
    }
    template <class T> T *find(const char *name) { return form->findChild<T *>(QString::fromLatin1(name)); }
};
