#pragma once
// The emergency command's answer to "no engine runs": it starts dalingd
// (installed beside it) for the data folder, detached, and asks that one.
// An alarm from a relay must not depend on an operator having started the
// bells first.
//
// The engine outlives the command: its own session (setsid, so a terminal's
// hangup or ^C does not reach it), standard input from /dev/null, its log to
// the journal (tagged dalingd) where one runs, else to /dev/null. It goes on
// ringing the alarm and then the day's bells as a service would.
//
// Run by root (a fire-alarm relay), the engine is not started as root when
// an account to run it can be told (accountFor): an engine of root would
// hold the folder's lock against every operator's window, play where root
// has no sound server, and leave files the operators cannot remove in the
// sticky data/. The account that runs the bells is the data folder's owner
// when that is not root (a folder an operator unpacked), else the operator
// named in the lock file by the last engine, when that account is in the
// folder's group (the text is the operators' to change, so it can only name
// another operator). The engine then gets that account's groups, home and,
// when it has one, its runtime folder /run/user/<uid> (its sound server and
// channel are there). Only when neither is known does root start it as
// itself, with the umask 0002: in the setgid data/ what it makes joins the
// operators' group and stays writable by them (the store and the lock are
// root's in the package anyway).
//
// Plain C++ and POSIX, as the rest of the command.
#include <optional>
#include <string>
#include <sys/types.h>

namespace enginestart {

struct Account {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string name;
    std::string home;
};

// Whom an engine started by root runs as; nothing: root itself.
std::optional<Account> accountFor(const std::string &dataFolder);

// Starts enginePath detached (as accountFor says when we are root);
// returns its pid, or 0 with *why set.
pid_t start(const std::string &enginePath, const std::string &dataFolder, std::string *why);

// How long a started engine is given to open its channel and its emergency.
constexpr int kStartTimeoutMs = 15000;

// Starts the engine and sends it the request line once its channel is
// verified (enginefinder), asking again while it answers that it is still
// starting. The answer line; nothing with *why set when none came.
std::optional<std::string> startAndAsk(const std::string &enginePath, const std::string &dataFolder,
                                       const std::string &line, std::string *why);

} // namespace enginestart
