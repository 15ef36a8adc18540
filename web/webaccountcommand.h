#pragma once
// `dalingd --web-account NAME ROLE`: sets a remote control account from a
// shell (the first setup over SSH, tests). The password is one line on
// standard input, read without echo when that is a terminal. It writes the
// store through a connection of its own (SQLite lets the running engine
// keep its own meanwhile) and neither takes the data folder's lock nor
// starts the engine.
#include "apppaths.h"

#include <QStringList>
#include <cstdio>
#include <optional>

namespace webaccountcommand {

inline constexpr const char *kOption = "--web-account";

// args: what follows the option. Reads the password from in (a descriptor),
// writes the outcome in Chinese to out or err. Returns the exit code: 0 when
// the account was set, 1 with the reason otherwise.
int run(const AppPaths &paths, const QStringList &args, int in, FILE *out, FILE *err);

// One line from the descriptor without its line end; echo off while it is
// read from a terminal. nullopt at the end of input before any character.
std::optional<QString> readPassword(int fd, FILE *prompt);

} // namespace webaccountcommand
