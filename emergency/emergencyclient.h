#pragma once
// The command line of the emergency broadcast, the caller's side:
//   daling --emergency [FILE] [--zones 教学楼A,操场]
//   daling --emergency-stop
// (and the same as daling-emergency [FILE] [--zones …] / daling-emergency --stop).
// It opens no window and asks nothing: it sends the engine a JSON-RPC
// request (Emergency.Start / Emergency.Stop, one line) through its local
// channel and exits 0 once the alarm sounds, or 1 with the reason on
// standard error. The engine is the process that holds the data folder's
// lock, reached only through a channel proven to be that process
// (enginefinder.h): a relay run as root never takes another account's
// answer for the alarm. When no engine runs, the command starts dalingd
// beside it (enginestart.h) and asks that one.
//
// Plain C++ and POSIX, no Qt (JSON through the header-only nlohmann-json):
// daling-emergency and the daling launcher (app/launcher.cpp) link nothing
// else, so that a fire-alarm relay's trigger does not wait for the dynamic
// loader to map the window's 240 libraries (about 60 ms of the ~100 ms an
// emergency may take to be heard).
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
// The request's id; the engine's notifications on the same connection carry none.
constexpr int kRequestId = 1;
// The request's line: Emergency.Start with its file, zones and who asks
// (by: for the record), or Emergency.Stop.
std::string request(const Args &a, const std::string &by);
// Who asks, as the record says it: the command line and the account.
std::string by();
// Whether a line read back is the answer to our request, not a notification
// or another request's answer (a line that is no JSON counts: it is shown).
bool isAnswer(const std::string &line);
// The exit code for the engine's answer line, with what the operator reads.
int answer(const std::string &reply, std::string *err);
// Whether the answer says the engine is still starting (worth asking again).
bool stillStarting(const std::string &reply);

// One request over a connection to socketPath, believed without any check:
// for a channel the caller made itself. Nothing when no program answers in time.
std::optional<std::string> send(const std::string &socketPath, const std::string &line, int timeoutMs);
// One request to the engine that holds dataFolder's lock, through a
// connection enginefinder has verified. Nothing when it is not reached; then
// *why says why (empty: no engine runs).
std::optional<std::string> ask(const std::string &dataFolder, const std::string &line, int timeoutMs,
                               std::string *why);

// How long the command waits for its answer: the program gives its zones
// 1.5 s to start, plus a margin.
constexpr int kAnswerTimeoutMs = 4000;

// Sends a request line and returns the answer line; nothing when it did not
// reach the program, with *why set when the reason is more than that no
// program runs.
using Sender = std::function<std::optional<std::string>(const std::string &line, std::string *why)>;
// Sends and returns the exit code; what the operator should read goes to err.
int run(const Args &a, const Sender &send, std::string *err);

// The whole command: the engine of the data folder beside the executable
// (started first when none runs and an emergency is asked for), asked, the
// message printed. Returns the exit code.
int main(const std::vector<std::string> &args, bool standalone);

} // namespace emergencyclient
