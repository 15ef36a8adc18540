// The remote control's sessions and login throttle on a fake clock: a
// session ends at 30 idle minutes and at logout, a token or CSRF token
// that differs anywhere is refused; five failed logins lock the account or
// the address, each apart, for a minute.
#include "fakes.h"
#include "loginthrottle.h"
#include "websessions.h"

#include <QRegularExpression>
#include <QTest>

class WebSessionsTest : public QObject {
    Q_OBJECT

    static QString flipped(QString s, int at)
    {
        s[at] = s[at] == u'A' ? u'B' : u'A';
        return s;
    }

private slots:
    void tokensAreRandomAndUrlSafe()
    {
        FakeClock clock;
        WebSessions sessions(clock);
        const auto a = sessions.open("li", WebRole::Duty, "10.0.0.5");
        const auto b = sessions.open("li", WebRole::Duty, "10.0.0.5");
        const QRegularExpression urlSafe("^[A-Za-z0-9_-]{43}$");
        for (const QString &t : {a.token, b.token, a.session.csrf, b.session.csrf})
            QVERIFY2(urlSafe.match(t).hasMatch(), qPrintable(t));
        QVERIFY(a.token != b.token);
        QVERIFY(a.session.csrf != b.session.csrf);
        QVERIFY(a.token != a.session.csrf);
        QCOMPARE(sessions.count(), 2);
    }

    void foundOnlyByItsWholeToken_data()
    {
        QTest::addColumn<int>("change"); // how the cookie's value is spoiled
        QTest::newRow("first character") << 0;
        QTest::newRow("last character") << 42;
        QTest::newRow("cut by one") << -1;
        QTest::newRow("one more") << -2;
        QTest::newRow("padded") << -3;
        QTest::newRow("empty") << -4;
        QTest::newRow("the CSRF token") << -5;
    }
    void foundOnlyByItsWholeToken()
    {
        QFETCH(int, change);
        FakeClock clock;
        WebSessions sessions(clock);
        const auto opened = sessions.open("wang", WebRole::Viewer, "10.0.0.7");
        QString spoiled;
        switch (change) {
        case -1: spoiled = opened.token.chopped(1); break;
        case -2: spoiled = opened.token + "A"; break;
        case -3: spoiled = opened.token + "="; break;
        case -4: break;
        case -5: spoiled = opened.session.csrf; break;
        default: spoiled = flipped(opened.token, change);
        }
        QVERIFY(!sessions.find(spoiled));
        const auto found = sessions.find(opened.token);
        QVERIFY(found);
        QCOMPARE(found->account, QString("wang"));
        QCOMPARE(found->role, WebRole::Viewer);
        QCOMPARE(found->address, QString("10.0.0.7"));
        QCOMPARE(found->csrf, opened.session.csrf);
    }

    void endsAfterThirtyIdleMinutes()
    {
        FakeClock clock;
        WebSessions sessions(clock);
        const auto kept = sessions.open("zhao", WebRole::Duty, "a");
        const auto idle = sessions.open("qian", WebRole::Duty, "b");
        clock.advanceMs((29 * 60 + 59) * 1000);
        QVERIFY(sessions.find(kept.token)); // its use starts the 30 minutes again
        clock.advanceMs(1000);
        QVERIFY(!sessions.find(idle.token)); // 30:00 since its last use
        QCOMPARE(sessions.count(), 1);
        clock.advanceMs((29 * 60 + 58) * 1000); // 29:59 since its last use
        QVERIFY(sessions.find(kept.token));
        clock.advanceMs(30 * 60 * 1000);
        QCOMPARE(sessions.expire(), 0);
        QVERIFY(!sessions.find(kept.token));
    }

    void logoutEndsOnlyItsOwnSession()
    {
        FakeClock clock;
        WebSessions sessions(clock);
        const auto a = sessions.open("sun", WebRole::Admin, "a");
        const auto b = sessions.open("sun", WebRole::Admin, "b");
        QVERIFY(!sessions.close(flipped(a.token, 3)));
        QVERIFY(sessions.close(a.token));
        QVERIFY(!sessions.find(a.token));
        QVERIFY(!sessions.close(a.token));
        QVERIFY(sessions.find(b.token));
        sessions.open("li", WebRole::Viewer, "c");
        QCOMPARE(sessions.closeAccount("sun"), 1);
        QVERIFY(!sessions.find(b.token));
        QCOMPARE(sessions.count(), 1);
    }

    void csrfMustMatchItsSession()
    {
        FakeClock clock;
        WebSessions sessions(clock);
        const WebSession s = sessions.open("zhou", WebRole::Duty, "a").session;
        const WebSession other = sessions.open("wu", WebRole::Duty, "b").session;
        QVERIFY(WebSessions::csrfMatches(s, s.csrf));
        QVERIFY(WebSessions::csrfMatches(s, " " + s.csrf + " "));
        for (const QString &wrong : {QString(), other.csrf, flipped(s.csrf, 0), flipped(s.csrf, 42),
                                     s.csrf.chopped(1), s.csrf + "A"})
            QVERIFY2(!WebSessions::csrfMatches(s, wrong), qPrintable(wrong));
        WebSession none = s;
        none.csrf.clear();
        QVERIFY(!WebSessions::csrfMatches(none, QString()));
    }

    // Attempt i of five comes as (account, address); then one login that
    // must be refused and one that must not.
    void fiveFailuresLockForAMinute_data()
    {
        QTest::addColumn<bool>("sameAccount");
        QTest::addColumn<QString>("refusedAccount");
        QTest::addColumn<QString>("refusedAddress");
        QTest::addColumn<QString>("allowedAccount");
        QTest::addColumn<QString>("allowedAddress");
        // One name guessed from five places: the name is locked everywhere.
        QTest::newRow("per account") << true << "admin" << "10.0.0.99" << "other" << "10.0.0.1";
        // Five names from one place: that place is locked for every name.
        QTest::newRow("per address") << false << "new name" << "10.0.0.1" << "name 0" << "10.0.0.2";
    }
    void fiveFailuresLockForAMinute()
    {
        QFETCH(bool, sameAccount);
        QFETCH(QString, refusedAccount);
        QFETCH(QString, refusedAddress);
        QFETCH(QString, allowedAccount);
        QFETCH(QString, allowedAddress);
        FakeClock clock;
        LoginThrottle throttle(clock);
        auto attempt = [&](int i) {
            return sameAccount ? std::pair<QString, QString>("admin", QString("10.0.1.%1").arg(i))
                               : std::pair<QString, QString>(QString("name %1").arg(i), "10.0.0.1");
        };
        for (int i = 0; i < LoginThrottle::kMaxFailures; ++i) {
            const auto [account, address] = attempt(i);
            QVERIFY2(throttle.refusal(account, address).isEmpty(), qPrintable(QString::number(i)));
            if (i == LoginThrottle::kMaxFailures - 1)
                QTest::ignoreMessage(QtWarningMsg, QRegularExpression("5 failed logins for .* locked for 60 seconds"));
            throttle.failed(account, address);
        }
        QCOMPARE(throttle.refusal(refusedAccount, refusedAddress), LoginThrottle::lockedText());
        QCOMPARE(throttle.refusal(allowedAccount, allowedAddress), QString());
        clock.advanceMs(59 * 1000);
        QCOMPARE(throttle.refusal(refusedAccount, refusedAddress), LoginThrottle::lockedText());
        clock.advanceMs(1000);
        QCOMPARE(throttle.refusal(refusedAccount, refusedAddress), QString());
        // Released with a fresh count: one more failure does not lock again.
        const auto [account, address] = attempt(0);
        throttle.failed(account, address);
        QCOMPARE(throttle.refusal(refusedAccount, refusedAddress), QString());
    }

    void successClearsTheAccountNotTheAddress()
    {
        FakeClock clock;
        LoginThrottle throttle(clock);
        for (int i = 0; i < 4; ++i)
            throttle.failed("admin", "10.0.0.1");
        throttle.succeeded("admin");
        throttle.failed("admin", "10.0.0.2"); // the account's count starts again
        QCOMPARE(throttle.refusal("admin", "10.0.0.3"), QString());
        // The address still has four: a fifth under any name locks it.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("locked for 60 seconds"));
        throttle.failed("guess", "10.0.0.1");
        QCOMPARE(throttle.refusal("admin", "10.0.0.1"), LoginThrottle::lockedText());
    }

    void failuresFarApartAreForgotten()
    {
        FakeClock clock;
        LoginThrottle throttle(clock);
        for (int i = 0; i < 4; ++i)
            throttle.failed("admin", "10.0.0.1");
        clock.advanceMs((LoginThrottle::kWindowMinutes * 60 + 1) * 1000);
        throttle.failed("admin", "10.0.0.1");
        QCOMPARE(throttle.refusal("admin", "10.0.0.1"), QString());
        // What is neither locked nor recent is not kept.
        clock.advanceMs((LoginThrottle::kWindowMinutes * 60 + 1) * 1000);
        throttle.failed("x", "y");
        QCOMPARE(throttle.remembered(), 2);
    }
};

QTEST_GUILESS_MAIN(WebSessionsTest)
#include "tst_websessions.moc"
