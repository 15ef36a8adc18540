#include "enginestart.h"
#include "clienttext.h"
#include "emergencyclient.h"
#include "enginefinder.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace enginestart {

namespace {

long long nowMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

void sleepMs(int ms)
{
    const timespec ts{0, ms * 1000000L};
    ::nanosleep(&ts, nullptr);
}

std::optional<Account> account(const passwd *pw)
{
    if (!pw || pw->pw_uid == 0 || !pw->pw_name || !*pw->pw_name)
        return std::nullopt;
    return Account{pw->pw_uid, pw->pw_gid, pw->pw_name, pw->pw_dir ? pw->pw_dir : "/"};
}

bool inGroup(const Account &a, gid_t group)
{
    if (a.gid == group)
        return true;
    int n = 64;
    std::vector<gid_t> groups(static_cast<size_t>(n));
    if (::getgrouplist(a.name.c_str(), a.gid, groups.data(), &n) < 0) {
        groups.resize(size_t(n));
        if (::getgrouplist(a.name.c_str(), a.gid, groups.data(), &n) < 0)
            return false;
    }
    for (int i = 0; i < n; ++i)
        if (groups[size_t(i)] == group)
            return true;
    return false;
}

// The journal's stream for our standard output and error, through
// libsystemd when it is there (loaded only on this path, never for the
// command's own start); -1 without a journal.
int journalStream()
{
    void *lib = ::dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!lib)
        return -1;
    using Open = int (*)(const char *, int, int);
    const auto open = reinterpret_cast<Open>(::dlsym(lib, "sd_journal_stream_fd"));
    return open ? open("dalingd", LOG_INFO, 1) : -1;
}

// The child's side, between fork and exec: only what a copy of a
// single-threaded command may do. Exits 127 when the engine cannot be run.
[[noreturn]] void becomeEngine(const std::string &enginePath, const std::optional<Account> &as)
{
    ::setsid();
    if (as) {
        if (::initgroups(as->name.c_str(), as->gid) != 0 || ::setgid(as->gid) != 0 || ::setuid(as->uid) != 0)
            ::_exit(126);
        ::setenv("HOME", as->home.c_str(), 1);
        ::setenv("USER", as->name.c_str(), 1);
        ::setenv("LOGNAME", as->name.c_str(), 1);
        // Its runtime folder holds its sound server and is where its
        // channel belongs; without one the engine uses its folder in /tmp.
        const std::string runtime = "/run/user/" + std::to_string(as->uid);
        struct stat st {};
        if (::lstat(runtime.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == as->uid)
            ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
        // Root's sound server and session bus are not the account's.
        ::unsetenv("PULSE_SERVER");
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    if (::geteuid() == 0)
        ::umask(0002);
    if (::chdir("/") != 0)
        ::_exit(126);
    const int null = ::open("/dev/null", O_RDWR);
    int log = journalStream();
    if (log < 0)
        log = null;
    if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(log, 1) < 0 || ::dup2(log, 2) < 0)
        ::_exit(126);
    ::close_range(3, ~0U, 0);
    char *const argv[] = {const_cast<char *>(enginePath.c_str()), nullptr};
    ::execv(enginePath.c_str(), argv);
    ::_exit(127);
}

// How a started engine that has gone ended, in the operator's words.
std::string ending(int status)
{
    if (WIFEXITED(status))
        return "退出了，退出码 " + std::to_string(WEXITSTATUS(status))
            + (WEXITSTATUS(status) == 127 ? "（无法运行）" : WEXITSTATUS(status) == 126 ? "（无法切换用户）" : "");
    return "被信号 " + std::to_string(WTERMSIG(status)) + " 结束了";
}

} // namespace

std::optional<Account> accountFor(const std::string &dataFolder)
{
    struct stat folder {};
    if (::stat(dataFolder.c_str(), &folder) != 0)
        return std::nullopt;
    if (folder.st_uid != 0)
        return account(::getpwuid(folder.st_uid));
    // The first word of the lock file's text: the account of the last engine.
    std::ifstream lock(dataFolder + "/daling.lock");
    std::string name;
    if (!(lock >> name))
        return std::nullopt;
    const std::optional<Account> named = account(::getpwnam(name.c_str()));
    if (named && inGroup(*named, folder.st_gid))
        return named;
    return std::nullopt;
}

pid_t start(const std::string &enginePath, const std::string &dataFolder, std::string *why)
{
    if (::access(enginePath.c_str(), X_OK) != 0) {
        *why = clienttext::engineNotStarted(enginePath, std::strerror(errno));
        return 0;
    }
    const std::optional<Account> as = ::geteuid() == 0 ? accountFor(dataFolder) : std::nullopt;
    const pid_t pid = ::fork();
    if (pid < 0) {
        *why = clienttext::engineNotStarted(enginePath, std::strerror(errno));
        return 0;
    }
    if (pid == 0)
        becomeEngine(enginePath, as);
    return pid;
}

std::optional<std::string> startAndAsk(const std::string &enginePath, const std::string &dataFolder,
                                       const std::string &line, std::string *why)
{
    const pid_t pid = start(enginePath, dataFolder, why);
    if (pid == 0)
        return std::nullopt;
    const long long deadline = nowMs() + kStartTimeoutMs;
    bool ended = false; // ours ended: another engine may have won the folder
    std::string ignored;
    while (nowMs() < deadline) {
        int status = 0;
        if (!ended && ::waitpid(pid, &status, WNOHANG) == pid) {
            ended = true;
            const std::optional<enginefinder::Holder> h = enginefinder::holder(dataFolder + "/daling.lock", &ignored);
            if (!h || h->pid == 0) {
                *why = clienttext::engineEnded(pid, ending(status));
                return std::nullopt;
            }
        }
        const enginefinder::Connection c = enginefinder::connect(dataFolder);
        if (c.fd < 0) {
            // Not holding the folder yet, or not listening yet.
            *why = c.why;
            sleepMs(2);
            continue;
        }
        std::optional<std::string> reply =
            enginefinder::talk(c.fd, line, emergencyclient::kAnswerTimeoutMs, emergencyclient::isAnswer);
        ::close(c.fd);
        if (!reply) {
            if (const auto h = enginefinder::holder(dataFolder + "/daling.lock", &ignored); h && h->pid)
                *why = clienttext::holderSilent(h->pid, h->user);
            return reply;
        }
        if (!emergencyclient::stillStarting(*reply))
            return reply;
        sleepMs(5);
    }
    if (why->empty())
        *why = clienttext::engineSilent(pid, kStartTimeoutMs / 1000);
    return std::nullopt;
}

} // namespace enginestart
