// The remote control's accounts in a real store file: each password
// verifies only itself, survives a reopen as an Argon2id string and never
// as itself; bad input is refused with its text; the check off the
// caller's thread answers on it.
#include "bellstore.h"
#include "fakes.h"
#include "webaccounts.h"

#include <QSqlQuery>
#include <QTest>
#include <QThread>
#include <QThreadPool>

class WebAccountsTest : public QObject {
    Q_OBJECT

    struct Fixture {
        TempHome home;
        BellStore store;
        std::unique_ptr<WebAccounts> accounts;
        Fixture()
        {
            QVERIFY(store.open(home.db()).isEmpty());
            accounts = std::make_unique<WebAccounts>(store);
        }
    };

private slots:
    void passwordsVerifyOnlyThemselves()
    {
        Fixture f;
        f.accounts->set("王老师", "值班", "correct horse");
        f.accounts->set("admin", "管理", "另一个很长的口令");
        const auto ok = f.accounts->verify("王老师", "correct horse");
        QVERIFY(ok);
        QCOMPARE(ok->name, QString("王老师"));
        QCOMPARE(ok->role, WebRole::Duty);
        QCOMPARE(f.accounts->verify(" admin ", "另一个很长的口令")->role, WebRole::Admin);
        // Another's password, a near miss, a name that is none.
        QVERIFY(!f.accounts->verify("王老师", "另一个很长的口令"));
        QVERIFY(!f.accounts->verify("王老师", "correct horsE"));
        QVERIFY(!f.accounts->verify("王老师", "correct horse "));
        QVERIFY(!f.accounts->verify("nobody", "correct horse"));
        QCOMPARE(f.accounts->list().size(), 2);
        QCOMPARE(f.accounts->list().at(0).name, QString("admin"));
    }

    void composedAndDecomposedAreOnePassword()
    {
        Fixture f;
        f.accounts->set("li", "查看", QString::fromUtf8("caf\u00e9-\u00e9t\u00e9-2026"));
        QVERIFY(f.accounts->verify("li", QString::fromUtf8("cafe\u0301-e\u0301te\u0301-2026")));
    }

    void settingAgainReplacesRoleAndPassword()
    {
        Fixture f;
        f.accounts->set("zhang", "查看", "first password");
        f.accounts->set("zhang", "管理", "second password");
        QCOMPARE(f.accounts->list().size(), 1);
        QVERIFY(!f.accounts->verify("zhang", "first password"));
        QCOMPARE(f.accounts->verify("zhang", "second password")->role, WebRole::Admin);
    }

    void keptAsArgon2idInTheFile()
    {
        TempHome home;
        {
            BellStore store;
            QVERIFY(store.open(home.db()).isEmpty());
            WebAccounts(store).set("zhao", "值班", "password-zhao");
        }
        BellStore store;
        QVERIFY(store.open(home.db()).isEmpty());
        QSqlQuery q(store.database());
        QVERIFY(q.exec("select 口令, 角色 from zhanghu where 名称 = 'zhao'"));
        QVERIFY(q.next());
        const QString hash = q.value(0).toString();
        QVERIFY2(hash.startsWith("$argon2id$"), qPrintable(hash));
        QVERIFY(!hash.contains("password-zhao"));
        QCOMPARE(q.value(1).toString(), QString("值班"));
        QVERIFY(WebAccounts(store).verify("zhao", "password-zhao"));
    }

    void badInputIsRefusedWithItsText_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("role");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("text");
        QTest::newRow("empty name") << "  " << "查看" << "long enough" << "请填写账号名称。";
        QTest::newRow("long name") << QString(65, u'a') << "查看" << "long enough" << "账号名称最长 64 个字符。";
        QTest::newRow("control in name") << "a\tb" << "查看" << "long enough" << "账号名称不能含控制字符。";
        QTest::newRow("unknown role") << "li" << "校长" << "long enough"
                                      << "角色“校长”不存在，应为 查看、值班、管理 之一。";
        QTest::newRow("empty role") << "li" << "" << "long enough" << "角色“”不存在，应为 查看、值班、管理 之一。";
        QTest::newRow("7 characters") << "li" << "查看" << "1234567" << "口令至少需要 8 个字符。";
        QTest::newRow("7 Chinese characters") << "li" << "查看" << "一二三四五六七" << "口令至少需要 8 个字符。";
        QTest::newRow("too long") << "li" << "查看" << QString(257, u'x') << "口令最长 256 个字符。";
    }
    void badInputIsRefusedWithItsText()
    {
        QFETCH(QString, name);
        QFETCH(QString, role);
        QFETCH(QString, password);
        QFETCH(QString, text);
        Fixture f;
        try {
            f.accounts->set(name, role, password);
            QFAIL("accepted");
        } catch (const StoreError &e) {
            QCOMPARE(e.text(), text);
        }
        QVERIFY(f.accounts->list().isEmpty());
    }

    void limitsThemselvesAreAccepted()
    {
        Fixture f;
        f.accounts->set(QString(64, u'名'), "查看", "一二三四五六七八");
        f.accounts->set("b", "查看", QString(256, u'x'));
        QVERIFY(f.accounts->verify(QString(64, u'名'), "一二三四五六七八"));
        QVERIFY(f.accounts->verify("b", QString(256, u'x')));
    }

    void removed()
    {
        Fixture f;
        f.accounts->set("sun", "查看", "password-sun");
        f.accounts->remove("sun");
        QVERIFY(!f.accounts->verify("sun", "password-sun"));
        QVERIFY(f.accounts->list().isEmpty());
        try {
            f.accounts->remove("sun");
            QFAIL("removed twice");
        } catch (const StoreError &e) {
            QCOMPARE(e.text(), QString("账号“sun”不存在。"));
        }
    }

    void aStoreWithoutTheTableHasNoAccounts()
    {
        Fixture f;
        QVERIFY(f.accounts->list().isEmpty());
        QVERIFY(!f.accounts->verify("admin", "whatever123"));
        QVERIFY(!f.accounts->find("admin"));
    }

    void verifiedLaterOnTheCallersThread()
    {
        Fixture f;
        f.accounts->set("qian", "值班", "password-qian");
        QObject context;
        QList<std::pair<std::optional<WebAccount>, QThread *>> answers;
        for (const char *pw : {"password-qian", "wrong-password"})
            f.accounts->verifyLater("qian", pw, &context, [&answers](std::optional<WebAccount> a) {
                answers.append({a, QThread::currentThread()});
            });
        f.accounts->verifyLater("nobody", "password-qian", &context,
                                [&answers](std::optional<WebAccount> a) { answers.append({a, QThread::currentThread()}); });
        QVERIFY(answers.isEmpty()); // never within the call
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 3, 20000);
        int verified = 0;
        for (const auto &[account, thread] : answers) {
            QCOMPARE(thread, QThread::currentThread());
            verified += account.has_value();
        }
        QCOMPARE(verified, 1);
    }

    void noAnswerToAContextThatIsGone()
    {
        Fixture f;
        f.accounts->set("zhou", "值班", "password-zhou");
        bool answered = false;
        auto context = std::make_unique<QObject>();
        f.accounts->verifyLater("zhou", "password-zhou", context.get(), [&answered](auto) { answered = true; });
        context.reset();
        QVERIFY(QThreadPool::globalInstance()->waitForDone(20000));
        QTest::qWait(50); // what the worker posted, delivered if it were
        QVERIFY(!answered);
    }
};

QTEST_GUILESS_MAIN(WebAccountsTest)
#include "tst_webaccounts.moc"
