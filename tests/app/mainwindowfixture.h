#pragma once
// The main window on a temporary home, with a fake clock at 2026-12-09
// 08:00, fakes for the operator's boxes and file choosers, and fake players.
#include "fakes.h"
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
    void make() { form = std::make_unique<TFormMain>(context()); }
    template <class T> T *find(const char *name) { return form->findChild<T *>(QString::fromLatin1(name)); }
};
