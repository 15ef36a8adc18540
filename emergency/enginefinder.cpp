#include "enginefinder.h"
#include "clienttext.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

namespace enginefinder {

namespace {

const char *const kLockFile = "/daling.lock";
const char *const kSocketName = "daling.sock";

long long nowMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

std::string tempFolder()
{
    const char *t = std::getenv("TMPDIR");
    std::string dir = t && *t ? t : "/tmp";
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

std::string folderOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The paths of the unix sockets that pid listens on under our name: its
// descriptors' socket inodes, looked up in the kernel's table.
std::vector<std::string> listeningPaths(pid_t pid)
{
    std::vector<std::string> inodes;
    const std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
    if (DIR *d = ::opendir(fdDir.c_str())) {
        while (const dirent *e = ::readdir(d)) {
            char target[64] = {};
            const std::string link = fdDir + "/" + e->d_name;
            if (::readlink(link.c_str(), target, sizeof target - 1) > 0
                && std::strncmp(target, "socket:[", 8) == 0)
                inodes.emplace_back(target + 8, std::strcspn(target + 8, "]"));
        }
        ::closedir(d);
    }
    std::vector<std::string> paths;
    FILE *table = inodes.empty() ? nullptr : std::fopen("/proc/net/unix", "re");
    if (!table)
        return paths;
    char row[4200];
    while (std::fgets(row, sizeof row, table)) {
        unsigned flags = 0;
        char inode[32] = {};
        int pathAt = 0;
        // Num RefCount Protocol Flags Type St Inode Path; 0x10000: listening.
        if (std::sscanf(row, "%*s %*s %*s %x %*s %*s %31s %n", &flags, inode, &pathAt) != 2 || !(flags & 0x10000)
            || pathAt <= 0 || row[pathAt] != '/')
            continue;
        std::string path(row + pathAt);
        while (!path.empty() && (path.back() == '\n' || path.back() == '\r'))
            path.pop_back();
        // Qt binds a socket with access options in a temporary folder
        // beside it ("<folder>/.XXXXXX/s") and renames it into place; the
        // table keeps the first path.
        const std::string name = std::string("/") + kSocketName;
        const size_t slash = path.rfind('/');
        const size_t parent = slash == std::string::npos || slash == 0 ? std::string::npos : path.rfind('/', slash - 1);
        std::string socket;
        if (path.size() > name.size() && path.compare(path.size() - name.size(), name.size(), name) == 0)
            socket = path;
        else if (parent != std::string::npos && path.compare(slash, std::string::npos, "/s") == 0
                 && path[parent + 1] == '.')
            socket = path.substr(0, parent) + name;
        for (const std::string &i : inodes)
            if (!socket.empty() && i == inode)
                paths.push_back(socket);
    }
    std::fclose(table);
    return paths;
}

// The one place a path is judged: its owner, its mode, its kind. Empty
// when it may be trusted, or is not there at all.
std::string judge(const std::string &path, const Holder &h, bool folder)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return {};
    if (S_ISLNK(st.st_mode))
        return clienttext::isLink(path);
    if (folder ? !S_ISDIR(st.st_mode) : !S_ISSOCK(st.st_mode))
        return clienttext::notASocket(path);
    if (st.st_uid != h.uid)
        return clienttext::ownedByOther(path, userName(st.st_uid), h.user);
    if (st.st_mode & 022)
        return clienttext::openToOthers(path);
    return {};
}

} // namespace

std::string userName(uid_t uid)
{
    if (const passwd *pw = ::getpwuid(uid); pw && pw->pw_name && *pw->pw_name)
        return pw->pw_name;
    return std::to_string(uid);
}

std::optional<uid_t> processUid(pid_t pid)
{
    // The status file, not the folder's owner: /proc/<pid> belongs to root
    // for a process that changed its user without a new program.
    FILE *f = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "re");
    if (!f)
        return std::nullopt;
    std::optional<uid_t> uid;
    char row[256];
    while (std::fgets(row, sizeof row, f)) {
        unsigned long real = 0, effective = 0;
        if (std::sscanf(row, "Uid: %lu %lu", &real, &effective) == 2) {
            uid = uid_t(effective);
            break;
        }
    }
    std::fclose(f);
    return uid;
}

std::optional<Holder> holderOf(int fd, std::string *why)
{
    struct flock lock {};
    lock.l_type = F_WRLCK; // meets any lock
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_GETLK, &lock) != 0) {
        *why = clienttext::lockUnreadable(kLockFile + 1, std::strerror(errno));
        return std::nullopt;
    }
    Holder h;
    if (lock.l_type == F_UNLCK)
        return h;
    // An open-file-description lock carries no pid; the engine takes none.
    const std::optional<uid_t> uid = lock.l_pid > 0 ? processUid(lock.l_pid) : std::nullopt;
    if (!uid) {
        *why = clienttext::holderUnknown(lock.l_pid);
        return std::nullopt;
    }
    h.pid = lock.l_pid;
    h.uid = *uid;
    h.user = userName(h.uid);
    if (lock.l_type != F_WRLCK) {
        *why = clienttext::lockNotAnEngine(h.pid, h.user);
        return std::nullopt;
    }
    return h;
}

std::optional<Holder> holder(const std::string &lockFile, std::string *why)
{
    const int fd = ::open(lockFile.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT)
            return Holder{};
        *why = clienttext::lockUnreadable(lockFile, std::strerror(errno));
        return std::nullopt;
    }
    struct stat st {};
    std::optional<Holder> h;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        *why = clienttext::lockUnreadable(lockFile, std::strerror(S_ISREG(st.st_mode) ? errno : EINVAL));
    else
        h = holderOf(fd, why);
    ::close(fd);
    return h;
}

std::vector<std::string> socketPaths(const Holder &h)
{
    std::vector<std::string> paths = listeningPaths(h.pid);
    const std::string uid = std::to_string(h.uid);
    std::vector<std::string> more{"/run/user/" + uid + "/" + kSocketName};
    // A copy of our own user: the place Instance::defaultSocketPath picks here.
    if (h.uid == ::geteuid())
        if (const char *runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
            more.push_back(std::string(runtime) + "/" + kSocketName);
    more.push_back(tempFolder() + "/daling-" + uid + "/" + kSocketName);
    for (const std::string &p : more)
        if (std::find(paths.begin(), paths.end(), p) == paths.end())
            paths.push_back(p);
    return paths;
}

Connection connect(const std::string &dataFolder)
{
    Connection c;
    const std::string lockFile = dataFolder + kLockFile;
    const std::optional<Holder> h = holder(lockFile, &c.why);
    if (!h || h->pid == 0)
        return c;
    if (h->uid != ::geteuid() && ::geteuid() != 0) {
        c.why = clienttext::notAllowed(h->user);
        return c;
    }
    std::string rejected; // the first path that was not believed, and why
    for (const std::string &path : socketPaths(*h)) {
        sockaddr_un addr{};
        if (path.size() >= sizeof addr.sun_path)
            continue;
        std::string why = judge(folderOf(path), *h, true);
        if (why.empty())
            why = judge(path, *h, false);
        if (!why.empty()) {
            if (rejected.empty())
                rejected = why;
            continue;
        }
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0)
            continue;
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, path.c_str(), path.size());
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0) {
            if (fd >= 0)
                ::close(fd);
            continue;
        }
        ucred peer{};
        socklen_t size = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.pid != h->pid || peer.uid != h->uid) {
            if (rejected.empty())
                rejected = clienttext::peerNotHolder(path, peer.pid, userName(peer.uid), h->pid);
            ::close(fd);
            continue;
        }
        // The pid may have been reused since the lock was read: the peer
        // must hold the lock still.
        const std::optional<Holder> now = holder(lockFile, &why);
        if (!now || now->pid != h->pid) {
            c.why = clienttext::kHolderChanged;
            ::close(fd);
            return c;
        }
        c.fd = fd;
        return c;
    }
    c.why = rejected.empty() ? clienttext::noChannel(h->pid, h->user) : rejected;
    return c;
}

std::optional<std::string> talk(int fd, const std::string &text, int timeoutMs,
                                const std::function<bool(const std::string &)> &isAnswer)
{
    const long long deadline = nowMs() + timeoutMs;
    const std::string out = text + "\n";
    if (::send(fd, out.data(), out.size(), MSG_NOSIGNAL) != ssize_t(out.size()))
        return std::nullopt;
    std::string pending;
    for (;;) {
        // Every whole line read so far, the first that answers taken.
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (!line.empty() && (!isAnswer || isAnswer(line)))
                return line;
        }
        pollfd p{fd, POLLIN, 0};
        const long long left = deadline - nowMs();
        if (left <= 0 || ::poll(&p, 1, int(left)) <= 0)
            return std::nullopt;
        char buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            return std::nullopt;
        pending.append(buf, size_t(n));
    }
}

} // namespace enginefinder
