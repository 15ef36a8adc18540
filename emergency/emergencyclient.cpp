#include "emergencyclient.h"
#include "clienttext.h"
#include "enginefinder.h"

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

std::string jsonString(const std::string &s)
{
    std::string out = "\"";
    for (const unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += char(c);
        }
    }
    return out + '"';
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

std::string line(const Args &a)
{
    if (a.stop)
        return "emergency-stop";
    std::string json = "{";
    if (!a.file.empty())
        json += "\"file\":" + jsonString(a.file);
    if (!a.zones.empty()) {
        json += std::string(json.size() > 1 ? "," : "") + "\"zones\":[";
        for (size_t i = 0; i < a.zones.size(); ++i)
            json += (i ? "," : "") + jsonString(a.zones[i]);
        json += "]";
    }
    return "emergency " + json + "}";
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
        reply = enginefinder::talk(fd, text, timeoutMs);
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
    std::optional<std::string> reply = enginefinder::talk(c.fd, text, timeoutMs);
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
    const std::optional<std::string> reply = sendLine(line(a), &why);
    if (!reply) {
        *err = !why.empty() ? why + (a.stop ? clienttext::kNotStopped : clienttext::kNotStarted)
             : a.stop       ? clienttext::kNotRunningStop
                            : clienttext::kNotRunningStart;
        return 1;
    }
    const size_t space = reply->find(' ');
    const std::string text = space == std::string::npos ? std::string() : reply->substr(space + 1);
    if (*reply == "ok" || startsWith(*reply, "ok ")) {
        *err = text;
        return 0;
    }
    *err = text == "unknown command"     ? clienttext::kOldProgram
         : startsWith(*reply, "error ") ? text
                                        : clienttext::unreadableAnswer(*reply);
    return 1;
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
    const int rc = run(a, [&folder](const std::string &l, std::string *why) {
        return ask(folder + "/data", l, kAnswerTimeoutMs, why);
    }, &message);
    if (!message.empty())
        std::fprintf(stderr, "%s\n", message.c_str());
    return rc;
}

} // namespace emergencyclient
