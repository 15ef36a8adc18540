// ServiceSetup through its command seam. The user's systemd does not run in
// this test's container (systemd --user exits at once: PID 1 is no
// systemd), so the answers are recorded: the failures as systemctl,
// loginctl and id printed them here, the successes in the Key=value form
// systemctl show and loginctl show-user print.
#include "servicesetup.h"

#include <QTest>

namespace {
using Result = CommandRunner::Result;

Result ok(const QString &out)
{
    return {true, 0, out, {}};
}
Result failed(const QString &err, int code = 1)
{
    return {true, code, {}, err};
}

// Recorded here.
const Result kNoBus = failed("Failed to connect to bus: No such file or directory\n");
const Result kNoLogind = failed("System has not been booted with systemd as init system (PID 1). Can't operate.\n"
                                "Failed to connect to bus: Host is down\n");
const Result kNoUnitToEnable = failed("Failed to enable unit, unit daling.service does not exist.\n");

class ScriptedRunner : public CommandRunner {
public:
    QHash<QString, Result> answers; // by program name
    QStringList ran;                // "program arg …"
    Result run(const QString &program, const QStringList &arguments) override
    {
        ran << (QStringList{program} + arguments).join(u' ');
        return answers.value(program, Result{});
    }
};
} // namespace

Q_DECLARE_METATYPE(CommandRunner::Result)

class TestServiceSetup : public QObject {
    Q_OBJECT
private slots:
    void read_data()
    {
        QTest::addColumn<Result>("systemctl");
        QTest::addColumn<Result>("loginctl");
        QTest::addColumn<Result>("id");
        QTest::addColumn<QString>("expected"); // offered installed enabled active lingering audio

        const Result loadedOn = ok("LoadState=loaded\nActiveState=active\nUnitFileState=enabled\n");
        QTest::newRow("no user systemd (as here)") << kNoBus << kNoLogind << ok("teacher audio\n") << "000001";
        QTest::newRow("no systemctl at all") << Result{} << Result{} << ok("teacher\n") << "000000";
        QTest::newRow("all set") << loadedOn << ok("Linger=yes\n") << ok("teacher cdrom audio plugdev\n")
                                 << "111111";
        QTest::newRow("enabled, stopped, no linger")
            << ok("ActiveState=failed\nUnitFileState=enabled\nLoadState=loaded\n") << ok("Linger=no\n")
            << ok("teacher audio\n") << "111001";
        QTest::newRow("not installed") << ok("LoadState=not-found\nActiveState=inactive\nUnitFileState=\n")
                                       << ok("Linger=yes\n") << ok("teacher\n") << "100010";
        QTest::newRow("enabled until the next boot only")
            << ok("LoadState=loaded\nActiveState=active\nUnitFileState=enabled-runtime\n") << ok("Linger=yes\n")
            << ok("teacher audio\n") << "110111";
        QTest::newRow("unknown to logind: not lingering, another group")
            << loadedOn << failed("Failed to get user: User ID 1000 is not logged in or lingering\n")
            << ok("teacher audiovisual\n") << "111100";
    }
    void read()
    {
        QFETCH(Result, systemctl);
        QFETCH(Result, loginctl);
        QFETCH(Result, id);
        QFETCH(QString, expected);
        ScriptedRunner runner;
        runner.answers = {{"systemctl", systemctl}, {"loginctl", loginctl}, {"id", id}};
        const ServiceSetup::State s = ServiceSetup(runner, "teacher").read();
        QString bits;
        for (bool b : {s.offered(), s.installed, s.enabled, s.active, s.lingering, s.inAudioGroup})
            bits += b ? u'1' : u'0';
        QCOMPARE(bits, expected);
        QCOMPARE(runner.ran, QStringList({"systemctl --user show daling.service -p LoadState -p ActiveState -p "
                                          "UnitFileState",
                                          "loginctl show-user teacher -p Linger", "id -nG teacher"}));
    }

    void whatRootMustDo()
    {
        ServiceSetup::State s;
        s.user = "teacher";
        s.userManager = s.installed = s.enabled = s.active = true;
        QCOMPARE(ServiceSetup::rootSteps(s),
                 "要让铃声在无人登录时也响，还需要管理员（root）执行：\n"
                 "  adduser teacher audio    （不登录也能使用声卡）\n"
                 "  loginctl enable-linger teacher    （开机时就启动这个用户的 systemd）");
        s.inAudioGroup = true;
        QCOMPARE(ServiceSetup::rootSteps(s),
                 "要让铃声在无人登录时也响，还需要管理员（root）执行：\n"
                 "  loginctl enable-linger teacher    （开机时就启动这个用户的 systemd）");
        QCOMPARE(ServiceSetup::summary(s), "铃声服务已设为开机启动，正在运行。\n" + ServiceSetup::rootSteps(s));
        s.lingering = true;
        QVERIFY(ServiceSetup::rootSteps(s).isEmpty());
        QVERIFY(s.complete());
        QCOMPARE(ServiceSetup::summary(s), "铃声服务已设为开机启动，正在运行。");
        s.userManager = false;
        QCOMPARE(ServiceSetup::summary(s),
                 "这台电脑没有为用户「teacher」运行 systemd（systemctl --user 连不上），不能设置“无人登录时也打铃”。");
    }

    void enableAndDisable()
    {
        ScriptedRunner runner;
        ServiceSetup setup(runner, "teacher");
        runner.answers["systemctl"] = ok("");
        QCOMPARE(setup.enable(), QString());
        QCOMPARE(setup.disable(), QString());
        QCOMPARE(runner.ran, QStringList({"systemctl --user enable --now daling.service",
                                          "systemctl --user disable --now daling.service"}));
        runner.answers["systemctl"] = kNoUnitToEnable;
        QCOMPARE(setup.enable(), "铃声服务没有设为开机启动：Failed to enable unit, unit daling.service does not exist.");
        runner.answers["systemctl"] = Result{};
        QCOMPARE(setup.disable(), "铃声服务没有取消开机启动：没有 systemctl");
    }

    // The real runner: a missing program is told as not started, a real
    // one's output and exit code come back.
    void processRunner()
    {
        ProcessRunner runner(5000);
        QVERIFY(!runner.run("/nonexistent/systemctl", {}).started);
        const Result id = runner.run("id", {"-nG", ServiceSetup::currentUser()});
        QVERIFY(id.started);
        QCOMPARE(id.exitCode, 0);
        QVERIFY(!id.out.trimmed().isEmpty());
        const Result bad = runner.run("id", {"-nG", "no-such-user-of-daling"});
        QVERIFY(bad.started);
        QVERIFY(bad.exitCode != 0);
    }
};

QTEST_GUILESS_MAIN(TestServiceSetup)
#include "tst_servicesetup.moc"
