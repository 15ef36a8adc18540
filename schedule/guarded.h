#pragma once
// Runs an operator's command: what it throws goes to the general error box
// (AppError with its own text, anything else with what() in the locale's
// encoding), and the program goes on with the next event. The one home of
// that rule for every window.
#include "seams.h"

#include <exception>

template <typename Fn>
void runGuarded(Messages &messages, Fn &&fn)
{
    try {
        fn();
    } catch (const AppError &e) {
        messages.generalError(e.text());
    } catch (const std::exception &e) {
        messages.generalError(QString::fromLocal8Bit(e.what()));
    }
}
