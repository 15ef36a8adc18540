// The main window's part: the red button in both modes, its question with
// No the default, the band that counts and ends it, the tray's item, the
// same button in the ad-hoc window, the record of how it started and ended,
// and what the command line is told.
#include "engineapi.h"
#include "emergencyclient.h"
#include "fakes.h"
#include "formlinshiguangbo.h"
#include "instance.h"
#include "testcontext.h"
#include "noticeband.h"
#include "ringhistory.h"
#include "tformmain.h"
#include "trayicon.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <QTest>
#include <atomic>
#include <thread>

class EmergencyWindowTest : public QObject {
    Q_OBJECT
private slots:
    void theButtonAsksOnceTheBandCountsAndEndsIt()
    {
        TempHome home;
        FakeClock clock;
        FakeMessages messages;
        FakeFileDialogs dialogs;
        TFormMain form(testContext(home, clock, messages, dialogs));
        form.show();
        QVERIFY(settleWindow(form.app()));
        QPushButton &button = form.emergencyButton();
        // There and usable in both modes.
        for (int mode = 0; mode < 2; ++mode) {
            QVERIFY(button.isVisible() && button.isEnabled());
            QCOMPARE(button.text(), QStringLiteral("紧急广播"));
            form.ButtonPlayClick();
            QVERIFY(settleWindow(form.app()));
        }

        messages.answers = {Messages::Answer::No};
        button.click();
        QCOMPARE(messages.shown.last().text, QStringLiteral("确定开始紧急广播吗？"));
        QCOMPARE(messages.shown.last().caption, QStringLiteral("&No")); // the default
        QVERIFY(!form.app().core().emergency().active());

        messages.answers = {Messages::Answer::Yes};
        button.click();
        QTRY_VERIFY(form.app().core().emergency().active());
        QVERIFY(settleWindow(form.app()));
        QVERIFY(form.emergencyBand().isVisible());
        QCOMPARE(form.emergencyBand().text(), QStringLiteral("紧急广播中 · 已持续 00:00"));
        QCOMPARE(form.emergencyTrayItem().text(), QStringLiteral("结束紧急广播"));
        QVERIFY(!button.isEnabled());
        QVERIFY(form.trayIcon().menu()->actions().contains(&form.emergencyTrayItem()));
        QVERIFY(form.trayIcon().icon()->toolTip().startsWith(QStringLiteral("紧急广播中")));
        // Nothing else sounds over it: a row's double-click is refused.
        form.StringGridshowDblClick();
        QCOMPARE(messages.shown.last().text, EmergencyBroadcast::kPlayRefused);
        clock.advanceMs(65'000);
        QTRY_COMPARE(form.emergencyBand().text(), QStringLiteral("紧急广播中 · 已持续 01:05"));

        messages.answers = {Messages::Answer::No};
        form.emergencyBand().button()->click();
        QCOMPARE(messages.shown.last().text, QStringLiteral("确定结束紧急广播吗？"));
        QVERIFY(form.app().core().emergency().active());
        messages.answers = {Messages::Answer::Yes};
        form.emergencyBand().button()->click();
        QTRY_VERIFY(!form.app().core().emergency().active());
        QVERIFY(settleWindow(form.app()));
        QVERIFY(!form.emergencyBand().isVisible());
        QVERIFY(button.isEnabled());
        QCOMPARE(form.trayIcon().icon()->toolTip(), form.windowTitle());
        QCOMPARE(form.history().day(clock.now().date()).last().name, QStringLiteral("紧急广播"));
    }

    // The ad-hoc window is modal and covers the main window's button: it
    // shows the same one, with the same question, and ends it too.
    void theAdhocWindowHasTheSameButton()
    {
        TempHome home;
        FakeClock clock;
        FakeMessages messages;
        FakeFileDialogs dialogs;
        TFormMain form(testContext(home, clock, messages, dialogs));
        form.show();
        QVERIFY(settleWindow(form.app()));
        form.adhoc().show();
        QPushButton *button = form.adhoc().ButtonJinJi;
        QVERIFY(button->isVisible() && button->isEnabled());
        QCOMPARE(button->text(), QStringLiteral("紧急广播"));
        QCOMPARE(button->styleSheet(), form.emergencyButton().styleSheet());
        // Clear of the other buttons and inside the window.
        for (QPushButton *other : {form.adhoc().ButtonPlay, form.adhoc().ButtonPaused, form.adhoc().ButtonOpen,
                                   form.adhoc().Button1, form.adhoc().Button2})
            QVERIFY(!button->geometry().intersects(other->geometry()));
        QVERIFY(form.adhoc().rect().contains(button->geometry()));

        messages.answers = {Messages::Answer::No};
        button->click();
        QCOMPARE(messages.shown.last().text, EmergencyBroadcast::kStartQuestion);
        QCOMPARE(messages.shown.last().caption, QStringLiteral("&No"));
        QVERIFY(!form.app().core().emergency().active());
        messages.answers = {Messages::Answer::Yes};
        button->click();
        QTRY_VERIFY(form.app().core().emergency().active());
        QVERIFY(settleWindow(form.app()));
        QCOMPARE(button->text(), QStringLiteral("结束紧急广播"));
        QVERIFY(!form.emergencyButton().isEnabled());

        messages.answers = {Messages::Answer::Yes};
        button->click();
        QCOMPARE(messages.shown.last().text, EmergencyBroadcast::kStopQuestion);
        QTRY_VERIFY(!form.app().core().emergency().active());
        QVERIFY(settleWindow(form.app()));
        QCOMPARE(button->text(), QStringLiteral("紧急广播"));
        form.adhoc().close();
    }

    // The record names the way it started and the way it ended.
    void theRecordSaysHowItStartedAndEnded_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("started");
        QTest::addColumn<QString>("ended");
        QTest::newRow("tray, tray") << "tray" << "tray" << "由托盘菜单开始" << "由托盘菜单结束";
        QTest::newRow("button, band") << "button" << "band" << "由主窗口按钮开始" << "由主窗口按钮结束";
        QTest::newRow("button, tray") << "button" << "tray" << "由主窗口按钮开始" << "由托盘菜单结束";
        QTest::newRow("tray, ad-hoc window") << "tray" << "adhoc" << "由托盘菜单开始" << "由临时广播窗口按钮结束";
        QTest::newRow("ad-hoc window, band") << "adhoc" << "band" << "由临时广播窗口按钮开始" << "由主窗口按钮结束";
    }
    void theRecordSaysHowItStartedAndEnded()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, started);
        QFETCH(QString, ended);
        TempHome home;
        FakeClock clock;
        FakeMessages messages;
        FakeFileDialogs dialogs;
        TFormMain form(testContext(home, clock, messages, dialogs));
        form.show();
        QVERIFY(settleWindow(form.app()));
        const auto press = [&form](const QString &way) {
            if (way == "tray")
                form.emergencyTrayItem().trigger();
            else if (way == "button")
                form.emergencyButton().click();
            else if (way == "band")
                form.emergencyBand().button()->click();
            else
                form.adhoc().ButtonJinJi->click();
        };
        messages.answers = {Messages::Answer::Yes, Messages::Answer::Yes};
        press(from);
        QTRY_VERIFY(form.app().core().emergency().active());
        QVERIFY(settleWindow(form.app()));
        clock.advanceMs(3000);
        press(to);
        QTRY_VERIFY(!form.app().core().emergency().active());
        form.history().flush();
        const QString reason = form.history().day(clock.now().date()).last().reason;
        QVERIFY2(reason.startsWith(started + "；") && reason.contains(ended + "，持续 00:03"), qPrintable(reason));
    }

    // daling --emergency with a file that is no sound: the alarm tone
    // plays, the command exits 0 and says so, and why, on standard error.
    void theCommandSaysWhyTheTonePlaysInstead()
    {
        TempHome home;
        FakeClock clock;
        FakeMessages messages;
        FakeFileDialogs dialogs;
        QTemporaryDir runtime;
        TFormMain form(testContext(home, clock, messages, dialogs));
        Instance instance(home.path() + "data", runtime.filePath("daling.sock"));
        QCOMPARE(instance.claim(), Instance::Claim::First);
        // The engine's side of the channel, as the program serves it.
        EngineApi api(instance.server(), {home.path() + "data", false, {}});
        api.setCore(&form.app().core());
        const auto unlink = qScopeGuard([&api] { api.setCore(nullptr); });
        const QString notes = home.touchMusic("通知.txt", "这不是声音");
        const auto args = emergencyclient::parse({"--emergency", notes.toStdString()}, "/", false);
        std::string err;
        int rc = -1;
        std::atomic<bool> done = false;
        // The command waits for its answer; the program answers from this
        // thread's event loop.
        std::thread command([&] {
            rc = emergencyclient::run(args, [&](const std::string &line, std::string *) {
                return emergencyclient::send(runtime.filePath("daling.sock").toStdString(), line,
                                             emergencyclient::kAnswerTimeoutMs);
            }, &err);
            done = true;
        });
        const bool answered = QTest::qWaitFor([&] { return done.load(); }, 10000);
        command.join();
        QVERIFY(answered);
        QCOMPARE(rc, 0);
        const QString said = QString::fromStdString(err);
        QVERIFY2(said.startsWith(EmergencyBroadcast::toneInsteadText({})) && said.contains("不是可以播放的音频文件")
                     && said.contains(notes),
                 qPrintable(said));
        QVERIFY(form.app().core().emergency().active());
        form.app().core().emergency().stop(EmergencyBroadcast::Origin::Command);
    }
};

QTEST_MAIN(EmergencyWindowTest)
#include "tst_window.moc"
