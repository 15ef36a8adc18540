#include "servicesetup.h"
#include "clientlog.h"

#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <pwd.h>
#include <unistd.h>

CommandRunner::Result ProcessRunner::run(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.start(program, arguments);
    Result r;
    if (!p.waitForStarted(m_timeoutMs)) {
        qCWarning(lcClient).noquote() << program << "did not start:" << p.errorString();
        r.err = p.errorString();
        return r;
    }
    r.started = true;
    if (!p.waitForFinished(m_timeoutMs)) {
        qCWarning(lcClient).noquote() << program << arguments.join(u' ') << "did not finish in time";
        p.kill();
        p.waitForFinished(1000);
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

namespace {
// "Key=value" lines as systemctl show and loginctl show-user print them.
QHash<QString, QString> properties(const QString &text)
{
    QHash<QString, QString> out;
    for (const QString &line : text.split(u'\n', Qt::SkipEmptyParts)) {
        const qsizetype eq = line.indexOf(u'=');
        if (eq > 0)
            out.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
    }
    return out;
}

QString said(const CommandRunner::Result &r)
{
    const QString text = (r.err.trimmed().isEmpty() ? r.out : r.err).trimmed();
    return text.isEmpty() ? QStringLiteral("退出码 %1").arg(r.exitCode) : text;
}
} // namespace

ServiceSetup::ServiceSetup(CommandRunner &runner, QString user)
    : m_runner(runner), m_user(user.isEmpty() ? currentUser() : std::move(user))
{
}

QString ServiceSetup::currentUser()
{
    if (const passwd *pw = ::getpwuid(::geteuid()))
        return QString::fromLocal8Bit(pw->pw_name);
    return qEnvironmentVariable("USER");
}

ServiceSetup::State ServiceSetup::read() const
{
    State s;
    s.user = m_user;
    const CommandRunner::Result unit = m_runner.run(
        QStringLiteral("systemctl"),
        {QStringLiteral("--user"), QStringLiteral("show"), kUnit, QStringLiteral("-p"), QStringLiteral("LoadState"),
         QStringLiteral("-p"), QStringLiteral("ActiveState"), QStringLiteral("-p"), QStringLiteral("UnitFileState")});
    const QHash<QString, QString> p = properties(unit.out);
    s.userManager = unit.started && unit.exitCode == 0 && p.contains(QStringLiteral("LoadState"));
    if (!s.userManager) {
        s.managerError = unit.started ? said(unit) : QStringLiteral("没有 systemctl");
        qCInfo(lcClient).noquote() << "the user's systemd does not answer:" << s.managerError;
    } else {
        s.installed = p.value(QStringLiteral("LoadState")) == u"loaded";
        // enabled-runtime lasts until the next boot only: not what is wanted.
        s.enabled = p.value(QStringLiteral("UnitFileState")) == u"enabled";
        const QString active = p.value(QStringLiteral("ActiveState"));
        s.active = active == u"active" || active == u"reloading";
    }

    // A user who neither lingers nor is logged in is unknown to logind: not lingering.
    const CommandRunner::Result linger = m_runner.run(
        QStringLiteral("loginctl"), {QStringLiteral("show-user"), m_user, QStringLiteral("-p"), QStringLiteral("Linger")});
    s.lingering = linger.started && linger.exitCode == 0
        && properties(linger.out).value(QStringLiteral("Linger")) == u"yes";

    const CommandRunner::Result groups = m_runner.run(QStringLiteral("id"), {QStringLiteral("-nG"), m_user});
    s.inAudioGroup = groups.started && groups.exitCode == 0
        && groups.out.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts).contains(kAudioGroup);
    if (groups.exitCode != 0)
        qCWarning(lcClient).noquote() << "the groups of" << m_user << "not read:" << said(groups);
    return s;
}

QString ServiceSetup::change(const QString &verb, const QString &failedText) const
{
    const CommandRunner::Result r = m_runner.run(
        QStringLiteral("systemctl"), {QStringLiteral("--user"), verb, QStringLiteral("--now"), kUnit});
    if (r.started && r.exitCode == 0)
        return {};
    const QString why = r.started ? said(r) : QStringLiteral("没有 systemctl");
    qCWarning(lcClient).noquote() << "systemctl --user" << verb << "--now" << kUnit << "failed:" << why;
    return failedText.arg(why);
}

QString ServiceSetup::enable() const
{
    return change(QStringLiteral("enable"), kEnableFailed);
}

QString ServiceSetup::disable() const
{
    return change(QStringLiteral("disable"), kDisableFailed);
}

QString ServiceSetup::rootSteps(const State &state)
{
    QStringList steps;
    if (!state.inAudioGroup)
        steps << QStringLiteral("  %1    （%2）").arg(kAudioStep.arg(state.user), kAudioWhy);
    if (!state.lingering)
        steps << QStringLiteral("  %1    （%2）").arg(kLingerStep.arg(state.user), kLingerWhy);
    if (steps.isEmpty())
        return {};
    return kRootIntro + u'\n' + steps.join(u'\n');
}

QString ServiceSetup::summary(const State &state)
{
    if (!state.userManager)
        return kNoUserManager.arg(state.user);
    if (!state.installed)
        return kNotInstalled;
    QString text = state.enabled
        ? (state.active ? QStringLiteral("铃声服务已设为开机启动，正在运行。")
                        : QStringLiteral("铃声服务已设为开机启动，但现在没有运行。"))
        : QStringLiteral("铃声服务没有设为开机启动。");
    const QString steps = rootSteps(state);
    if (state.enabled && !steps.isEmpty())
        text += u'\n' + steps;
    return text;
}
