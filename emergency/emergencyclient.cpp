#include "emergencyclient.h"

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

const char *const kUsage = "用法：daling --emergency [声音文件] [--zones 分区1,分区2]\n"
                           "      daling --emergency-stop";

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

// A folder only this user (and root) can enter.
bool privateFolder(const std::string &dir)
{
    struct stat st {};
    return !dir.empty() && ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()
        && (st.st_mode & 077) == 0;
}

std::string tempFolder()
{
    const char *t = std::getenv("TMPDIR");
    std::string dir = t && *t ? t : "/tmp";
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

long long nowMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
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
                a.error = std::string("--zones 后面要写分区名称，多个用逗号隔开。\n") + kUsage;
                return a;
            }
        } else if (!startsWith(s, "--") && a.file.empty() && !s.empty()) {
            a.file = s;
        } else {
            a.error = "不认识的参数「" + s + "」。\n" + kUsage;
            return a;
        }
    }
    if (a.stop && ((emergency && !standalone) || !a.file.empty() || !a.zones.empty())) {
        a.error = std::string("结束紧急广播的命令不带其他参数。\n") + kUsage;
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

std::vector<std::string> socketPaths(const std::string &dataFolder)
{
    std::vector<std::string> paths;
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string own = tempFolder() + "/daling-" + std::to_string(::geteuid());
    if (runtime && privateFolder(runtime))
        paths.push_back(std::string(runtime) + "/daling.sock");
    else if (privateFolder(own))
        paths.push_back(own + "/daling.sock");
    // The lock file's line: "<user> <uid> <pid>".
    const int fd = ::open((dataFolder + "/daling.lock").c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return paths;
    char buf[256] = {};
    const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
    ::close(fd);
    char user[200] = {};
    long long uid = -1;
    if (n <= 0 || std::sscanf(buf, "%199s %lld", user, &uid) != 2 || uid < 0 || uid == (long long)::geteuid())
        return paths;
    for (const std::string &p : {"/run/user/" + std::to_string(uid) + "/daling.sock",
                                 tempFolder() + "/daling-" + std::to_string(uid) + "/daling.sock"})
        paths.push_back(p);
    return paths;
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
    const long long deadline = nowMs() + timeoutMs;
    std::string reply;
    const std::string out = text + "\n";
    bool ok = ::connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0
        && ::send(fd, out.data(), out.size(), MSG_NOSIGNAL) == ssize_t(out.size());
    while (ok && reply.find('\n') == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        const long long left = deadline - nowMs();
        if (left <= 0 || ::poll(&p, 1, int(left)) <= 0) {
            ok = false;
            break;
        }
        char buf[1024];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        reply.append(buf, size_t(n));
    }
    ::close(fd);
    const size_t end = reply.find('\n');
    if (!ok || end == std::string::npos)
        return std::nullopt;
    return reply.substr(0, end);
}

int run(const Args &a, const Sender &sendLine, std::string *err)
{
    if (!a.error.empty()) {
        *err = a.error;
        return 1;
    }
    const std::optional<std::string> reply = sendLine(line(a));
    if (!reply) {
        *err = a.stop ? "铃声系统没有运行（或没有回答），没有紧急广播可以结束。"
                      : "铃声系统没有运行（或没有回答），紧急广播没有开始。";
        return 1;
    }
    const size_t space = reply->find(' ');
    const std::string text = space == std::string::npos ? std::string() : reply->substr(space + 1);
    if (*reply == "ok" || startsWith(*reply, "ok ")) {
        *err = text;
        return 0;
    }
    *err = text == "unknown command" ? "运行中的铃声系统不支持紧急广播命令，请先更新它。"
         : startsWith(*reply, "error ") ? text
                                        : "铃声系统的回答看不懂：" + *reply;
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
    const std::vector<std::string> sockets = socketPaths(folder + "/data");
    std::string message;
    const int rc = run(a, [&sockets](const std::string &l) -> std::optional<std::string> {
        for (const std::string &s : sockets)
            if (auto reply = send(s, l, kAnswerTimeoutMs))
                return reply;
        return std::nullopt;
    }, &message);
    if (!message.empty())
        std::fprintf(stderr, "%s\n", message.c_str());
    return rc;
}

} // namespace emergencyclient
