// The dialog 系统 → 远程控制… without widgets, on a real store: what stops
// a save (a bad address, half of HTTPS, the first 管理 account missing or
// mistyped), what a save keeps, and when the plain-HTTP warning shows.
#include "bellstore.h"
#include "fakes.h"
#include "remoteform.h"
#include "settings.h"

#include <QFile>
#include <QTest>

class RemoteFormTest : public QObject {
    Q_OBJECT

    struct Fixture {
        TempHome home;
        BellStore store;
        Fixture() { QVERIFY(store.open(home.db()).isEmpty()); }
    };

    static RemoteForm::Input on(int port = RemoteSettings::kDefaultPort)
    {
        RemoteForm::Input in;
        in.settings.port = port;
        in.adminName = "校长";
        in.adminPassword = in.adminPassword2 = "一个足够长的口令";
        return in;
    }

private slots:
    void offByDefault()
    {
        Fixture f;
        RemoteForm form(f.store);
        QVERIFY(!form.settings().enabled());
        QVERIFY(RemoteForm::addressChoices().startsWith(QString()));
        Settings(f.store).setValue(RemoteSettings::kPortKey, "八千");
        QCOMPARE(form.settings().port, 0); // no number: off, never a guess
    }

    void whatStopsASave_data()
    {
        QTest::addColumn<RemoteForm::Input>("input");
        QTest::addColumn<QString>("problem"); // a part of the text
        RemoteForm::Input in = on();
        in.settings.address = "999.1.1.1";
        QTest::newRow("address") << in << "不是有效的网络地址";
        in = on();
        in.settings.certificate = "/etc/hostname";
        QTest::newRow("certificate without key") << in << "同时给出证书文件和密钥文件";
        in = on();
        in.settings.certificate = in.settings.key = "/nonexistent/cert.pem";
        QTest::newRow("unreadable") << in << "无法读取文件";
        in = on();
        in.adminName.clear();
        QTest::newRow("no admin") << in << "第一个管理账号";
        in = on();
        in.adminPassword2 = "一个足够长的口令！";
        QTest::newRow("mistyped") << in << "两次输入的口令不一样";
        in = on();
        in.adminPassword = in.adminPassword2 = "短";
        QTest::newRow("short") << in << "口令";
    }
    void whatStopsASave()
    {
        QFETCH(RemoteForm::Input, input);
        QFETCH(QString, problem);
        Fixture f;
        RemoteForm form(f.store);
        const QString why = form.save(input);
        QVERIFY2(why.contains(problem), qPrintable(why));
        QVERIFY(!form.settings().enabled()); // nothing kept
        QVERIFY(!form.hasAdmin());
    }

    void aSaveKeepsTheSettingsAndTheFirstAdmin()
    {
        Fixture f;
        RemoteForm form(f.store);
        RemoteForm::Input in = on(8421);
        in.settings.address = "127.0.0.1";
        QCOMPARE(form.save(in), QString());
        QCOMPARE(form.settings(), in.settings);
        QVERIFY(form.hasAdmin());
        QVERIFY(WebAccounts(f.store).verify("校长", in.adminPassword));
        // Once there is one, the name fields are not asked for again.
        RemoteForm::Input later = on(8422);
        later.adminName.clear();
        QCOMPARE(form.save(later), QString());
        QCOMPARE(form.settings().port, 8422);
        // Off needs no account at all.
        Fixture g;
        RemoteForm off(g.store);
        QCOMPARE(off.save(RemoteForm::Input{}), QString());
    }

    void theWarningShowsOnlyForPlainHttp()
    {
        RemoteSettings s;
        QVERIFY(RemoteForm::warning(s).isEmpty()); // off
        s.port = 8420;
        QCOMPARE(RemoteForm::warning(s), RemoteSettings::plainHttpWarning());
        QVERIFY(RemoteForm::urlText(s).startsWith("http://"));
        s.certificate = s.key = "/x.pem";
        QVERIFY(RemoteForm::warning(s).isEmpty());
        s.address = "::1";
        QCOMPARE(RemoteForm::urlText(s), QString("https://[::1]:8420/"));
    }
};

Q_DECLARE_METATYPE(RemoteForm::Input)
QTEST_MAIN(RemoteFormTest)
#include "tst_remoteform.moc"
