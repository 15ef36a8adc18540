#include "webaccountcommand.h"

#include "bellstore.h"
#include "webaccounts.h"
#include "weblog.h"

#include <QDir>
#include <cerrno>
#include <optional>
#include <termios.h>
#include <unistd.h>

namespace webaccountcommand {

namespace {

void say(FILE *to, const QString &text)
{
    std::fprintf(to, "%s\n", text.toLocal8Bit().constData());
    std::fflush(to);
}

// Terminal echo off while it lives, back as it was after.
class NoEcho {
public:
    explicit NoEcho(int fd) : m_fd(fd)
    {
        if (::tcgetattr(fd, &m_saved) != 0)
            return;
        termios quiet = m_saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        quiet.c_lflag |= ECHONL;
        m_active = ::tcsetattr(fd, TCSAFLUSH, &quiet) == 0;
    }
    ~NoEcho()
    {
        if (m_active)
            ::tcsetattr(m_fd, TCSAFLUSH, &m_saved);
    }
    NoEcho(const NoEcho &) = delete;
    NoEcho &operator=(const NoEcho &) = delete;

private:
    int m_fd;
    termios m_saved{};
    bool m_active = false;
};

} // namespace

std::optional<QString> readPassword(int fd, FILE *prompt)
{
    std::optional<NoEcho> quiet;
    if (::isatty(fd)) {
        say(prompt, QStringLiteral("请输入口令（输入时不显示）："));
        quiet.emplace(fd);
    }
    // Byte by byte: nothing after the line is taken from the descriptor.
    QByteArray line;
    bool any = false;
    for (char c; ;) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || c == '\n')
            break;
        any = true;
        line.append(c);
    }
    if (line.endsWith('\r'))
        line.chop(1);
    const QString text = QString::fromUtf8(line);
    line.fill('\0');
    if (!any)
        return std::nullopt;
    return text;
}

int run(const AppPaths &paths, const QStringList &args, int in, FILE *out, FILE *err)
{
    if (args.size() != 2) {
        say(err, QStringLiteral("用法：dalingd %1 名称 角色（角色为 %2；口令从标准输入读取一行）")
                     .arg(QLatin1String(kOption), webroles::allTexts()));
        return 1;
    }
    const QString name = args.at(0).trimmed();
    const QString roleText = args.at(1);
    // The name and role are checked before the password is asked for.
    if (const QString problem = WebAccounts::nameProblem(name); !problem.isEmpty()) {
        say(err, problem);
        return 1;
    }
    const std::optional<WebRole> role = webroles::fromText(roleText);
    if (!role) {
        say(err, WebAccounts::unknownRoleText(roleText));
        return 1;
    }
    const std::optional<QString> password = readPassword(in, err);
    if (!password) {
        say(err, QStringLiteral("没有读到口令：请在标准输入给出一行口令。"));
        return 1;
    }
    if (const QString problem = WebAccounts::passwordProblem(*password); !problem.isEmpty()) {
        say(err, problem);
        return 1;
    }
    if (!QDir().mkpath(paths.dataFolder())) {
        say(err, QStringLiteral("无法创建数据文件夹 %1。").arg(paths.dataFolder()));
        return 1;
    }
    BellStore store;
    if (const QString error = store.open(paths.databaseFile()); !error.isEmpty()) {
        say(err, QStringLiteral("账号没有保存：%1").arg(error));
        return 1;
    }
    try {
        WebAccounts(store).set(name, *role, *password);
    } catch (const StoreError &e) {
        qCWarning(lcWeb).noquote() << "account" << name << "not set:" << e.text();
        say(err, QStringLiteral("账号没有保存：%1").arg(e.text()));
        return 1;
    }
    say(out, QStringLiteral("账号“%1”已设置，角色：%2。").arg(name, webroles::text(*role)));
    return 0;
}

} // namespace webaccountcommand
