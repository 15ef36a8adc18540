#pragma once
// Finds the engine that rings a data folder, for the emergency command, and
// believes nothing that another account could have put in its way.
//
// The engine holds a whole-file fcntl write lock on data/daling.lock (see
// Instance). A write lock needs the file open for writing, which only root
// and the operators' group have; anyone who may read it could take a read
// lock, so a read lock is never taken for the engine. The lock gives the
// holder's pid; its user comes from /proc/<pid>/status (the effective uid),
// never from the lock file's text, which any operator may rewrite.
//
// The channel is looked for where that process listens (its listening
// sockets named daling.sock, from /proc), then in that user's runtime
// folder and temporary folder. A path is used only when both the socket and
// its folder belong to the holder's user and no one else may write them,
// neither a symbolic link; and a connection counts only when its peer
// (SO_PEERCRED) is the holding process itself: the engine locks and listens
// in one process, and fcntl locks are never inherited by children, so no
// other process, not even one of the same user, can be the engine.
//
// Plain C++ and POSIX, linked into the small daling-emergency.
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace enginefinder {

struct Holder {
    pid_t pid = 0; // 0: nobody holds the lock, no engine runs
    uid_t uid = 0;
    std::string user; // the account's name, or the uid as text
};

// The holder of the lock that fd is open on; nothing, with *why set, when a
// holder cannot be told (a read lock, an unknown process).
std::optional<Holder> holderOf(int fd, std::string *why);
// The same for the file at path (a missing file: nobody holds it). Never call
// this in the process that holds the lock: closing any descriptor of the file
// drops that process's fcntl locks.
std::optional<Holder> holder(const std::string &lockFile, std::string *why);

std::string userName(uid_t uid);
// The effective uid of a process, from /proc/<pid>/status.
std::optional<uid_t> processUid(pid_t pid);
// Where the holder's channel may be, the surest first.
std::vector<std::string> socketPaths(const Holder &h);

struct Connection {
    int fd = -1;     // connected to the engine, verified; -1 when not
    std::string why; // when not: the reason; empty when no engine runs
};
// The verified connection to the engine that holds dataFolder's lock.
Connection connect(const std::string &dataFolder);

// Writes one line and reads lines back until one is the answer (isAnswer;
// without it the first line), returned without its end; nothing when none
// comes in time or the other end closes first. Closes nothing.
std::optional<std::string> talk(int fd, const std::string &line, int timeoutMs,
                                const std::function<bool(const std::string &)> &isAnswer = {});

} // namespace enginefinder
