#pragma once
// The command line of the emergency broadcast, the caller's side:
//   daling --emergency [FILE] [--zones 教学楼A,操场]
//   daling --emergency-stop
// (and the same as daling-emergency [FILE] [--zones …] / daling-emergency --stop).
// It opens no window and asks nothing: it tells the running program through
// its local channel and exits 0 once the alarm sounds, or 1 with the reason
// on standard error.
//
// Plain C++ and POSIX, no Qt: the small daling-emergency executable links
// nothing else, so that a fire-alarm relay's trigger does not wait for the
// dynamic loader to map the program's 240 libraries (about 60 ms of the
// ~100 ms an emergency may take to be heard).
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace emergencyclient {

struct Args {
    bool wanted = false; // --emergency or --emergency-stop was given
    bool stop = false;
    std::string file;    // made absolute when it names a file from the caller's folder
    std::vector<std::string> zones;
    std::string error;   // a usage error, in the operator's words
};

// argv without the program's name. standalone: daling-emergency, where the
// command word is implied (--stop ends it).
Args parse(const std::vector<std::string> &args, const std::string &cwd, bool standalone = false);
// The channel's line: "emergency {json}" or "emergency-stop".
std::string line(const Args &a);

// The channel of the copy that rings dataFolder: this user's (the runtime
// folder, as Instance::defaultSocketPath makes it), then, when the folder's
// lock is held by another user (root runs the command for the desktop's
// user), that user's.
std::vector<std::string> socketPaths(const std::string &dataFolder);
// One command over one connection; nothing when no program answers in time.
std::optional<std::string> send(const std::string &socketPath, const std::string &line, int timeoutMs);

// How long the command waits for its answer: the program gives its zones
// 1.5 s to start, plus a margin.
constexpr int kAnswerTimeoutMs = 4000;

using Sender = std::function<std::optional<std::string>(const std::string &line)>;
// Sends and returns the exit code; what the operator should read goes to err.
int run(const Args &a, const Sender &send, std::string *err);

// The whole command: the data folder beside the executable, every channel
// tried, the message printed. Returns the exit code.
int main(const std::vector<std::string> &args, bool standalone);

} // namespace emergencyclient
