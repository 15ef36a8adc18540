// `dalingd --web-account NAME ROLE` run for real, in a home of its own: the
// password from a pipe, the row it writes verified by the accounts' own
// check, each refusal with its exit code and text, and the account set
// while another process holds the folder's lock and the store open (as a
// running engine does).
#include "bellstore.h"
#include "fakes.h"
#include "instance.h"
#include "webaccounts.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class WebAccountCommandTest : public QObject {
    Q_OBJECT

    struct Run {
        int code = -1;
        QString out;
        QString err;
    };

    struct Home {
        TempHome home;
        QTemporaryDir runtime;
        QString exe = home.place(QStringLiteral(DALINGD_BIN));

        Run run(const QStringList &args, const QByteArray &input)
        {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("XDG_RUNTIME_DIR", runtime.path());
            env.remove("NOTIFY_SOCKET");
            p.setProcessEnvironment(env);
            p.start(exe, QStringList{"--web-account"} + args);
            if (!p.waitForStarted(5000))
                return {};
            p.write(input);
            p.closeWriteChannel();
            if (!p.waitForFinished(30000)) {
                p.kill();
                p.waitForFinished();
                return {};
            }
            return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                    QString::fromUtf8(p.readAllStandardOutput()).trimmed(),
                    QString::fromUtf8(p.readAllStandardError()).trimmed()};
        }
    };

private slots:
    void setFromAPipe()
    {
        Home h;
        QVERIFY(!h.exe.isEmpty());
        const Run r = h.run({"王老师", "值班"}, "correct horse battery\n");
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QString("账号“王老师”已设置，角色：值班。"));
        // Again with a new role and password, the line ended as on Windows.
        QCOMPARE(h.run({"admin", "管理"}, "first password\n").code, 0);
        QCOMPARE(h.run({"admin", "查看"}, "second password\r\nnot this line\n").code, 0);
        BellStore store;
        QVERIFY(store.open(h.home.db()).isEmpty());
        WebAccounts accounts(store);
        QCOMPARE(accounts.verify("王老师", "correct horse battery")->role, WebRole::Duty);
        QVERIFY(!accounts.verify("王老师", "correct horse battery\n"));
        QVERIFY(!accounts.verify("admin", "first password"));
        QCOMPARE(accounts.verify("admin", "second password")->role, WebRole::Viewer);
    }

    void refusedWithItsReason_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("text");
        QTest::newRow("unknown role") << QStringList{"li", "校长"} << QByteArray("long enough\n")
                                      << "角色“校长”不存在，应为 查看、值班、管理 之一。";
        QTest::newRow("empty name") << QStringList{" ", "查看"} << QByteArray("long enough\n")
                                    << "请填写账号名称。";
        QTest::newRow("short password") << QStringList{"li", "查看"} << QByteArray("short\n")
                                        << "口令至少需要 8 个字符。";
        QTest::newRow("no input") << QStringList{"li", "查看"} << QByteArray()
                                  << "没有读到口令：请在标准输入给出一行口令。";
        QTest::newRow("no role") << QStringList{"li"} << QByteArray("long enough\n")
                                 << "用法：dalingd --web-account 名称 角色（角色为 查看、值班、管理；口令从标准输入读取一行）";
    }
    void refusedWithItsReason()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, input);
        QFETCH(QString, text);
        Home h;
        const Run r = h.run(args, input);
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.endsWith(text), qPrintable(r.err));
        QVERIFY(r.out.isEmpty());
        if (QFile::exists(h.home.db())) {
            BellStore store;
            QVERIFY(store.open(h.home.db()).isEmpty());
            QVERIFY(WebAccounts(store).list().isEmpty());
        }
    }

    void setWhileTheEngineHoldsTheFolder()
    {
        Home h;
        QTemporaryDir socketDir;
        QVERIFY(QDir().mkpath(h.home.path() + "data"));
        Instance engine(h.home.path() + "data/", socketDir.filePath("daling.sock"));
        QCOMPARE(engine.claim(), Instance::Claim::First);
        BellStore store; // the engine's own connection, open throughout
        QVERIFY(store.open(h.home.db()).isEmpty());
        const Run r = h.run({"zhao", "管理"}, "password-zhao\n");
        QCOMPARE(r.code, 0);
        // Read through the connection that stayed open.
        QCOMPARE(WebAccounts(store).verify("zhao", "password-zhao")->role, WebRole::Admin);
    }
};

QTEST_GUILESS_MAIN(WebAccountCommandTest)
#include "tst_webaccountcommand.moc"
