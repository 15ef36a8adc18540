#pragma once
// What 系统 → 开机启动 offers where systemd runs the user's session: the
// engine as the user's service (daling.service, the user unit the package
// installs), so that the bells ring after a power cut with nobody logged in
// ("无人登录时也打铃").
//
// It reads, for the user running the program: whether the user's systemd
// answers (systemctl --user), whether the unit is known, enabled and
// running, whether lingering is on (loginctl show-user USER -p Linger: the
// user's systemd starts at boot), and whether the user is in group audio
// (the sound card without a session). It enables or disables the unit
// (systemctl --user enable|disable --now daling.service). The two steps only
// root can take are told in plain Chinese with their commands (rootSteps()).
//
// The commands run through CommandRunner, so tests answer for them.
#include <QString>
#include <QStringList>

class CommandRunner {
public:
    struct Result {
        bool started = false; // false: the program is missing or did not start
        int exitCode = -1;
        QString out;
        QString err;
    };
    virtual ~CommandRunner() = default;
    virtual Result run(const QString &program, const QStringList &arguments) = 0;
};

// Runs the command for real, waiting at most timeoutMs.
class ProcessRunner : public CommandRunner {
public:
    explicit ProcessRunner(int timeoutMs = 15000) : m_timeoutMs(timeoutMs) {}
    Result run(const QString &program, const QStringList &arguments) override;

private:
    int m_timeoutMs;
};

class ServiceSetup {
public:
    static inline const QString kUnit = QStringLiteral("daling.service");
    static inline const QString kAudioGroup = QStringLiteral("audio");
    static inline const QString kNoUserManager =
        QStringLiteral("这台电脑没有为用户「%1」运行 systemd（systemctl --user 连不上），不能设置“无人登录时也打铃”。");
    static inline const QString kNotInstalled =
        QStringLiteral("没有找到铃声服务 daling.service：请用安装包安装铃声系统。");
    static inline const QString kRootIntro = QStringLiteral("要让铃声在无人登录时也响，还需要管理员（root）执行：");
    static inline const QString kAudioStep = QStringLiteral("adduser %1 audio");
    static inline const QString kAudioWhy = QStringLiteral("不登录也能使用声卡");
    static inline const QString kLingerStep = QStringLiteral("loginctl enable-linger %1");
    static inline const QString kLingerWhy = QStringLiteral("开机时就启动这个用户的 systemd");
    static inline const QString kEnableFailed = QStringLiteral("铃声服务没有设为开机启动：%1");
    static inline const QString kDisableFailed = QStringLiteral("铃声服务没有取消开机启动：%1");

    struct State {
        QString user;
        bool userManager = false; // the user's systemd answers
        QString managerError;     // what systemctl said when it did not
        bool installed = false;   // the unit is known to it
        bool enabled = false;
        bool active = false;
        bool lingering = false;
        bool inAudioGroup = false;
        // Offered in the menu only where the user's systemd answers.
        bool offered() const { return userManager; }
        // Rings with nobody logged in after the next boot.
        bool complete() const { return installed && enabled && lingering && inAudioGroup; }
    };

    // user: the account that runs the bells (empty: this process's user).
    explicit ServiceSetup(CommandRunner &runner, QString user = {});

    QString user() const { return m_user; }
    State read() const;
    // Enables (and starts) or disables (and stops) the unit; the text the
    // operator is told when it failed, empty when done.
    QString enable() const;
    QString disable() const;

    // What root must still do for this state, one line per step with its
    // command; empty when nothing.
    static QString rootSteps(const State &state);
    // What the menu's note says of the state as a whole.
    static QString summary(const State &state);

    static QString currentUser();

private:
    QString change(const QString &verb, const QString &failedText) const;
    CommandRunner &m_runner;
    QString m_user;
};
