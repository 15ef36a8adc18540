// Closing asks first, fades out without stopping the clock, and ends.
#include "closeguard.h"
#include "fakes.h"

#include <QApplication>
#include <QCloseEvent>
#include <QTimer>
#include <QWidget>
#include <QtTest>

namespace {
class Window : public QWidget {
public:
    explicit Window(Messages &m) : guard(this, m) { resize(800, 600); }
    CloseGuard guard;

protected:
    void closeEvent(QCloseEvent *e) override { guard.FormCloseQuery(e); }
};
} // namespace

class TestClosing : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // The offscreen platform cannot show opacity and says so at every step.
        static QtMessageHandler previous = nullptr;
        previous = qInstallMessageHandler(
            [](QtMsgType t, const QMessageLogContext &c, const QString &m) {
                if (!m.contains(QLatin1String("does not support setting window opacity")))
                    previous(t, c, m);
            });
    }

    void cancelChangesNothing()
    {
        FakeMessages messages;
        messages.answers = {Messages::Answer::Cancel};
        Window w(messages);
        // A second request while the box is open is answered by that box.
        messages.whileOpen = [&](const FakeMessages::Shown &) {
            QCloseEvent again;
            QCoreApplication::sendEvent(&w, &again);
            QVERIFY(!again.isAccepted());
        };
        w.show();
        QVERIFY(!w.close());
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown[0].kind, QString("okCancel"));
        QCOMPARE(messages.shown[0].caption, QString("系统提示 "));
        QCOMPARE(messages.shown[0].text,
                 QString("Quorlin学校铃声广播系统\r\r\r你确定要停止铃声广播系统？ "));
        QTest::qWait(100);
        QVERIFY(w.isVisible());
        QCOMPARE(w.windowOpacity(), 1.0);
        QVERIFY(!w.guard.fading());
    }

    // The bells run in the user's service: the window and the session's
    // end ask about the window alone.
    void whereTheBellsGoOnTheQuestionSaysSo()
    {
        FakeMessages messages;
        messages.answers = {Messages::Answer::Cancel, Messages::Answer::Cancel};
        Window w(messages);
        w.guard.setBellsGoOn(true);
        w.show();
        QVERIFY(!w.close());
        QVERIFY(!w.guard.sessionEndQuery());
        QCOMPARE(messages.shown.size(), 2);
        for (const FakeMessages::Shown &s : messages.shown)
            QCOMPARE(s.text, QString("Quorlin学校铃声广播系统\r\r\r关闭窗口后，铃声仍按时响起。\r你确定要关闭窗口吗？ "));
    }

    void okFadesOutWhileTimersRun()
    {
        FakeMessages messages; // answers OK
        Window w(messages);
        QSignalSpy closed(&w.guard, &CloseGuard::closed);
        w.show();
        int ticks = 0;
        QTimer clock;
        clock.setInterval(20);
        connect(&clock, &QTimer::timeout, [&] { ++ticks; });
        clock.start();

        QVERIFY(!w.close()); // not yet: the window fades first
        QCOMPARE(messages.shown.size(), 1);
        QVERIFY(w.guard.fading());
        QTRY_VERIFY(w.windowOpacity() < 0.8);
        QVERIFY(w.isVisible());
        QVERIFY(w.windowOpacity() > 0.0);
        QVERIFY(!w.close()); // a request during the fade asks nothing
        QCOMPARE(messages.shown.size(), 1);

        QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 3000);
        QCOMPARE(closed.count(), 1);
        QVERIFY(ticks >= 20); // the clock kept going through a second of fade
        QCOMPARE(messages.shown.size(), 1);
    }

    void sessionEndAsksTheSameQuestion()
    {
        FakeMessages messages;
        messages.answers = {Messages::Answer::Cancel, Messages::Answer::Ok};
        Window w(messages);
        w.guard.setFadeMs(50);
        w.show();
        QVERIFY(!w.guard.sessionEndQuery());
        QVERIFY(w.isVisible());
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown[0].caption, QString("系统提示 "));

        QVERIFY(w.guard.sessionEndQuery());
        QCOMPARE(messages.shown.size(), 2);
        // The session then closes the window: no second question, no wait.
        QVERIFY(w.close());
        QCOMPARE(messages.shown.size(), 2);
    }

    void cancelledLogOffIsForgotten()
    {
        FakeMessages messages;
        messages.answers = {Messages::Answer::Ok, Messages::Answer::Cancel};
        Window w(messages);
        w.guard.setSessionAgreementMs(100);
        w.show();
        QVERIFY(w.guard.sessionEndQuery());
        QVERIFY(w.guard.sessionAgreed());
        // Another program cancels the log-off: the session never closes us.
        QTRY_VERIFY_WITH_TIMEOUT(!w.guard.sessionAgreed(), 2000);
        QVERIFY(!w.close()); // the next close asks again; Cancel keeps it
        QCOMPARE(messages.shown.size(), 2);
        QVERIFY(w.isVisible());
    }

    void sessionEndWhileCloseBoxIsOpen()
    {
        FakeMessages messages;
        Window w(messages);
        bool sessionMayEnd = true;
        messages.answers = {Messages::Answer::Cancel};
        messages.whileOpen = [&](const FakeMessages::Shown &) {
            sessionMayEnd = w.guard.sessionEndQuery();
        };
        w.show();
        QVERIFY(!w.close());
        QVERIFY(!sessionMayEnd);
        QCOMPARE(messages.shown.size(), 1);
        QVERIFY(w.isVisible());
    }
};

QTEST_MAIN(TestClosing)
#include "tst_closing.moc"
