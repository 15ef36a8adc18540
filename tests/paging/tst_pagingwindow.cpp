// The main window's strip for the live announcement, mounted: the window's
// own ad-hoc broadcast paused while an announcement (told on the engine's
// channel, whoever started it) is heard everywhere, continued after it;
// one the operator had paused stays paused.
#include "adhocplayer.h"
#include "formlinshiguangbo.h"
#include "mainwindowfixture.h"
#include "pagingpanel.h"

#include <QJsonArray>
#include <QTest>

class PagingWindowTest : public QObject {
    Q_OBJECT

    static void tell(PagingLink &link, bool active)
    {
        emit link.notified("Paging.OnChanged", {{"active", active},
                                                {"zones", QJsonArray{"全部"}},
                                                {"zoneIds", QJsonArray{}},
                                                {"everywhere", active}});
    }

private slots:
    void theBroadcastPausesAndContinues_data()
    {
        QTest::addColumn<bool>("pausedBefore");
        QTest::newRow("playing") << false;
        QTest::newRow("paused by the operator") << true;
    }
    void theBroadcastPausesAndContinues()
    {
        QFETCH(bool, pausedBefore);
        MainWindowFixture f;
        f.make();
        auto *panel = f.form->findChild<PagingPanel *>("PagingPanel");
        QVERIFY(panel);
        auto *link = panel->findChild<PagingLink *>();
        QVERIFY(link);
        AdhocPlayer &adhoc = f.form->adhoc().adhocPlayer();
        adhoc.list().store().addFiles({f.home.touchMusic("通知.mp3")});
        adhoc.list().Refresh();
        adhoc.list().select(0);
        adhoc.ButtonPlayClick();
        QVERIFY(adhoc.playMode());
        if (pausedBefore)
            adhoc.ButtonPausedClick();
        QVERIFY(adhoc.audio().isPlaying() != pausedBefore);

        tell(*link, true);
        QVERIFY(panel->control().active());
        QVERIFY(!adhoc.audio().isPlaying());
        QCOMPARE(adhoc.pauseCaption(), AdhocPlayer::kContinue);
        tell(*link, false);
        QCOMPARE(adhoc.audio().isPlaying(), !pausedBefore);
        QVERIFY(adhoc.playMode());
    }
};

QTEST_MAIN(PagingWindowTest)
#include "tst_pagingwindow.moc"
