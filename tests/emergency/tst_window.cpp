// The main window's part: the red button in both modes, its question with
// No the default, the band that counts and ends it, the tray's item.
#include "fakes.h"
#include "testcontext.h"
#include "noticeband.h"
#include "ringhistory.h"
#include "tformmain.h"
#include "trayicon.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>

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
        QPushButton &button = form.emergencyButton();
        // There and usable in both modes.
        for (int mode = 0; mode < 2; ++mode) {
            QVERIFY(button.isVisible() && button.isEnabled());
            QCOMPARE(button.text(), QStringLiteral("紧急广播"));
            form.ButtonPlayClick();
        }

        messages.answers = {Messages::Answer::No};
        button.click();
        QCOMPARE(messages.shown.last().text, QStringLiteral("确定开始紧急广播吗？"));
        QCOMPARE(messages.shown.last().caption, QStringLiteral("&No")); // the default
        QVERIFY(!form.app().emergency().active());

        messages.answers = {Messages::Answer::Yes};
        button.click();
        QVERIFY(form.app().emergency().active());
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
        QVERIFY(form.app().emergency().active());
        messages.answers = {Messages::Answer::Yes};
        form.emergencyBand().button()->click();
        QVERIFY(!form.app().emergency().active());
        QVERIFY(!form.emergencyBand().isVisible());
        QVERIFY(button.isEnabled());
        QCOMPARE(form.trayIcon().icon()->toolTip(), form.windowTitle());
        QCOMPARE(form.history().day(clock.now().date()).last().name, QStringLiteral("紧急广播"));
    }
};

QTEST_MAIN(EmergencyWindowTest)
#include "tst_window.moc"
