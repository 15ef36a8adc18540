#pragma once
// Runs an operator's command: what it throws goes to the general error box
// (AppError with its own text, anything else with what() in the locale's
// encoding), and the program goes on with the next event. The one home of
// that rule for every window. beforeBox, when given, runs after a failure
// and before its box opens (a window shows its state first).
#include "seams.h"

#include <exception>
#include <functional>

template <typename Fn>
void runGuarded(Messages &messages, Fn &&fn, const std::function<void()> &beforeBox = {})
{
    QString text;
    try {
        fn();
        return;
    } catch (const AppError &e) {
        text = e.text();
    } catch (const std::exception &e) {
        text = QString::fromLocal8Bit(e.what());
    }
    if (beforeBox)
        beforeBox();
    messages.generalError(text);
}
