#include "emergencyclient.h"
#include "clienttext.h"
#include "enginefinder.h"
#include "enginestart.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

namespace emergencyclient {

namespace {

bool startsWith(const std::string &s, const char *prefix)
{
    return s.rfind(prefix, 0) == 0;
}

std::string trimmed(const std::string &s)
{
    const auto b = s.find_first_not_of(" \t");
    return b == std::string::npos ? std::string() : s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

bool isBareName(const std::string &s)
{
    return !s.empty() && s.find('/') == std::string::npos && s.find('\\') == std::string::npos && s != "."
        && s != "..";
}

} // namespace

Args parse(const std::vector<std::string> &args, const std::string &cwd, bool standalone)
{
    Args a;
    a.wanted = standalone;
    bool emergency = standalone;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &s = args[i];
        if (s == "--emergency") {
            a.wanted = emergency = true;
        } else if (s == "--emergency-stop" || (standalone && s == "--stop")) {
            a.wanted = a.stop = true;
        } else if (s == "--zones" || startsWith(s, "--zones=")) {
            const std::string list = s == "--zones" ? (i + 1 < args.size() ? args[++i] : std::string()) : s.substr(8);
            size_t from = 0;
            while (from <= list.size()) {
                const size_t comma = list.find(',', from);
                const std::string name = trimmed(list.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
                if (!name.empty())
                    a.zones.push_back(name);
                if (comma == std::string::npos)
                    break;
                from = comma + 1;
            }
            if (a.zones.empty()) {
                a.error = std::string("--zones 后面要写分区名称，多个用逗号隔开。\n") + clienttext::kUsage;
                return a;
            }
        } else if (!startsWith(s, "--") && a.file.empty() && !s.empty()) {
            a.file = s;
        } else {
            a.error = "不认识的参数「" + s + "」。\n" + clienttext::kUsage;
            return a;
        }
    }
    if (a.stop && ((emergency && !standalone) || !a.file.empty() || !a.zones.empty())) {
        a.error = std::string("结束紧急广播的命令不带其他参数。\n") + clienttext::kUsage;
        return a;
    }
    // A name found from the caller's folder is sent as a full path; any
    // other bare name is a file of the program's music folder.
    if (!a.file.empty() && a.file[0] != '/') {
        const std::string here = cwd + "/" + a.file;
        struct stat st {};
        if (::stat(here.c_str(), &st) == 0 || !isBareName(a.file))
            a.file = here;
    }
    return a;
}

std::string request(const Args &a, const std::string &who)
{
    nlohmann::json r{{"jsonrpc", "2.0"}, {"id", kRequestId}};
    if (a.stop) {
        r["method"] = "Emergency.Stop";
    } else {
        nlohmann::json params = nlohmann::json::object();
        if (!a.file.empty())
            params["file"] = a.file;
        if (!a.zones.empty())
            params["zones"] = a.zones;
        if (!who.empty())
            params["by"] = who;
        r["method"] = "Emergency.Start";
        r["params"] = std::move(params);
    }
    // A name that is not UTF-8 (a file named in another encoding) is sent
    // with U+FFFD in its place rather than not at all: the engine then says
    // the file is missing.
    return r.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string by()
{
    return "命令行（" + enginefinder::userName(::geteuid()) + "）";
}

bool isAnswer(const std::string &text)
{
    const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    if (!j.is_object())
        return true; // shown to the operator as unreadable
    const auto id = j.find("id");
    if (id == j.end())
        return !j.contains("method"); // a notification is no answer
    // The engine answers a line it could not read with id null.
    return id->is_null() || (id->is_number_integer() && id->get<long long>() == kRequestId);
}

namespace {

// The answer's parts: a result's text, or an error's code and message.
struct Reading {
    bool readable = false;
    bool ok = false;
    long long code = 0;
    std::string text;
};

Reading read(const std::string &reply)
{
    Reading r;
    const nlohmann::json j = nlohmann::json::parse(reply, nullptr, false);
    if (!j.is_object())
        return r;
    if (const auto result = j.find("result"); result != j.end()) {
        r.readable = r.ok = true;
        if (result->is_object())
            if (const auto text = result->find("text"); text != result->end() && text->is_string())
                r.text = text->get<std::string>();
        return r;
    }
    const auto error = j.find("error");
    if (error == j.end() || !error->is_object())
        return r;
    const auto message = error->find("message");
    const auto code = error->find("code");
    if (message == error->end() || !message->is_string())
        return r;
    r.readable = true;
    r.text = message->get<std::string>();
    r.code = code != error->end() && code->is_number_integer() ? code->get<long long>() : 0;
    return r;
}

} // namespace

int answer(const std::string &reply, std::string *err)
{
    const Reading r = read(reply);
    if (r.ok) {
        *err = r.text;
        return 0;
    }
    // An engine that knows no such method, or still speaks the line
    // protocol of earlier versions, which answered any JSON line so.
    constexpr long long kMethodNotFound = -32601;
    *err = r.code == kMethodNotFound || reply == "error unknown command" ? clienttext::kOldProgram
         : r.readable                                                   ? r.text
                                                                        : clienttext::unreadableAnswer(reply);
    return 1;
}

bool stillStarting(const std::string &reply)
{
    const Reading r = read(reply);
    return r.readable && !r.ok && r.text == clienttext::kEngineStarting;
}

std::optional<std::string> send(const std::string &socketPath, const std::string &text, int timeoutMs)
{
    sockaddr_un addr{};
    if (socketPath.size() >= sizeof addr.sun_path)
        return std::nullopt;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    std::optional<std::string> reply;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0)
        reply = enginefinder::talk(fd, text, timeoutMs, isAnswer);
    ::close(fd);
    return reply;
}

std::optional<std::string> ask(const std::string &dataFolder, const std::string &text, int timeoutMs,
                               std::string *why)
{
    const enginefinder::Connection c = enginefinder::connect(dataFolder);
    if (c.fd < 0) {
        *why = c.why;
        return std::nullopt;
    }
    std::optional<std::string> reply = enginefinder::talk(c.fd, text, timeoutMs, isAnswer);
    ::close(c.fd);
    if (!reply) {
        // Who it was, for the operator: the holder did not answer in time.
        std::string ignored;
        const auto h = enginefinder::holder(dataFolder + "/daling.lock", &ignored);
        *why = h && h->pid ? clienttext::holderSilent(h->pid, h->user) : std::string();
    }
    return reply;
}

int run(const Args &a, const Sender &sendLine, std::string *err)
{
    if (!a.error.empty()) {
        *err = a.error;
        return 1;
    }
    std::string why;
    const std::optional<std::string> reply = sendLine(request(a, by()), &why);
    if (!reply) {
        *err = !why.empty() ? why + (a.stop ? clienttext::kNotStopped : clienttext::kNotStarted)
             : a.stop       ? clienttext::kNotRunningStop
                            : clienttext::kNotRunningStart;
        return 1;
    }
    return answer(*reply, err);
}

int main(const std::vector<std::string> &args, bool standalone)
{
    char exe[PATH_MAX] = {};
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    std::string folder = n > 0 ? std::string(exe, size_t(n)) : std::string(".");
    folder = folder.substr(0, folder.rfind('/'));
    char cwd[PATH_MAX] = {};
    const Args a = parse(args, ::getcwd(cwd, sizeof cwd) ? cwd : ".", standalone);
    std::string message;
    const int rc = run(a, [&folder, &a](const std::string &l, std::string *why) {
        const std::string data = folder + "/data";
        std::optional<std::string> reply = ask(data, l, kAnswerTimeoutMs, why);
        // Nobody holds the folder: an alarm must not wait for an operator to
        // start the bells, so the engine beside us is started for it.
        if (reply || !why->empty() || a.stop)
            return reply;
        return enginestart::startAndAsk(folder + "/dalingd", data, l, why);
    }, &message);
    if (!message.empty())
        std::fprintf(stderr, "%s\n", message.c_str());
    return rc;
}

} // namespace emergencyclient
