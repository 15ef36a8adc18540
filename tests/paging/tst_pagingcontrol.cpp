// The window's live announcement without widgets, on a fake link to the
// engine: the button's calls, the broadcast of this window paused where the
// announcement is heard and continued after (only when it was playing),
// the elapsed time and the meter; and the strip over it.
#include "fakes.h"
#include "inputchoice.h"
#include "pagingcontrol.h"
#include "pagingservice.h"
#include "pagingpanel.h"

#include <QApplication>
#include <QJsonArray>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

namespace {

struct FakeLink : PagingLink {
    struct Call {
        QString method;
        QJsonObject params;
    };
    QList<Call> calls;
    QString error;       // answered to every call
    QJsonObject answer;  // likewise
    void call(const QString &method, const QJsonObject &params, Done done) override
    {
        calls << Call{method, params};
        done(error, answer);
    }
    void tell(bool active, const QList<qint64> &ids = {}, bool everywhere = false)
    {
        QJsonArray zoneIds;
        for (qint64 id : ids)
            zoneIds.append(id);
        emit notified("Paging.OnChanged",
                      {{"active", active},
                       {"zones", QJsonArray{"教学楼A"}},
                       {"zoneIds", zoneIds},
                       {"everywhere", everywhere},
                       {"startedAt", active ? QJsonValue("2026-12-07T08:00:00.000") : QJsonValue()},
                       {"choices", QJsonArray{"教学楼A", "操场"}}});
    }
};

} // namespace

class PagingControlTest : public QObject {
    Q_OBJECT
private slots:
    void theBroadcastPausesWhereTheVoiceIsHeardAndContinuesAfter_data()
    {
        QTest::addColumn<QList<qint64>>("broadcast"); // none: 广播输出
        QTest::addColumn<QList<qint64>>("paged");
        QTest::addColumn<bool>("everywhere");
        QTest::addColumn<bool>("playing");
        QTest::addColumn<int>("paused");
        QTest::addColumn<int>("resumed");
        QTest::newRow("shares a zone") << QList<qint64>{1, 2} << QList<qint64>{2} << false << true << 1 << 1;
        QTest::newRow("other zones") << QList<qint64>{1} << QList<qint64>{2} << false << true << 0 << 0;
        QTest::newRow("everywhere") << QList<qint64>{1} << QList<qint64>{} << true << true << 1 << 1;
        QTest::newRow("on 广播输出") << QList<qint64>{} << QList<qint64>{3} << false << true << 1 << 1;
        // Paused by the operator before: it stays paused after.
        QTest::newRow("not playing") << QList<qint64>{2} << QList<qint64>{2} << false << false << 1 << 0;
    }
    void theBroadcastPausesWhereTheVoiceIsHeardAndContinuesAfter()
    {
        QFETCH(QList<qint64>, broadcast);
        QFETCH(QList<qint64>, paged);
        QFETCH(bool, everywhere);
        QFETCH(bool, playing);
        QFETCH(int, paused);
        QFETCH(int, resumed);
        FakeLink link;
        PagingControl c(link);
        int pauses = 0, resumes = 0;
        c.broadcastZones = [&] { return broadcast; };
        c.pauseBroadcast = [&] {
            ++pauses;
            return playing;
        };
        c.resumeBroadcast = [&] { ++resumes; };
        link.tell(true, paged, everywhere);
        link.tell(true, paged, everywhere); // told again: paused once
        QCOMPARE(pauses, paused);
        QCOMPARE(resumes, 0);
        link.tell(false);
        link.tell(false);
        QCOMPARE(resumes, resumed);
    }

    void theButtonStartsAndEndsThroughTheEngine()
    {
        FakeLink link;
        PagingControl c(link);
        QStringList messages;
        connect(&c, &PagingControl::message, this, [&](const QString &t) { messages << t; });
        link.tell(false);
        QCOMPARE(c.choices(), (QStringList{"教学楼A", "操场"}));
        c.setChosen({"操场"});
        link.error = "紧急广播进行中，不能实时喊话。请先结束紧急广播。";
        c.toggle();
        QCOMPARE(link.calls.last().method, "Paging.Start");
        QCOMPARE(link.calls.last().params["zones"].toArray(), QJsonArray{"操场"});
        QCOMPARE(link.calls.last().params["by"].toString(), PagingControl::kBy);
        QCOMPARE(messages, QStringList{link.error});
        QVERIFY(!c.active() && !c.busy());
        QCOMPARE(c.buttonText(), PagingControl::kStartText);

        link.error.clear();
        link.answer = {{"active", true}, {"zones", QJsonArray{"操场"}}, {"startedAt", "2026-12-07T08:00:00.000"},
                       {"text", "这些地方听不到：操场（找不到这个声音输出）"}};
        c.toggle();
        QVERIFY(c.active());
        QCOMPARE(messages.last(), link.answer["text"].toString());
        QCOMPARE(c.buttonText(), PagingControl::kStopText);
        QCOMPARE(c.statusText(QDateTime(QDate(2026, 12, 7), QTime(8, 1, 5))), "喊话中 01:05 · 操场");
        emit link.notified("Paging.OnLevel", {{"peak", 1.0}});
        QCOMPARE(c.meter(), 100);
        c.toggle();
        QCOMPARE(link.calls.last().method, "Paging.Stop");
    }

    void theMeterIsInDecibels_data()
    {
        QTest::addColumn<double>("peak");
        QTest::addColumn<int>("percent");
        QTest::newRow("silence") << 0.0 << 0;
        QTest::newRow("-60 dB") << 0.001 << 0;
        QTest::newRow("-30 dB") << 0.0316228 << 50;
        QTest::newRow("-6 dB") << 0.501187 << 90;
        QTest::newRow("full") << 1.0 << 100;
        QTest::newRow("over") << 1.5 << 100;
    }
    void theMeterIsInDecibels()
    {
        QFETCH(double, peak);
        QFETCH(int, percent);
        QCOMPARE(PagingControl::meterPercent(peak), percent);
    }

    // 声音输出's input list: the default first, a kept input not there now
    // still listed and chosen, and what is saved.
    void theInputIsChosenAsTheOutputsAre_data()
    {
        QTest::addColumn<QString>("kept");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<int>("chosen");
        QTest::newRow("default") << QString() << QStringList{"系统默认输入", "USB 麦克风（usb_mic）"} << 0;
        QTest::newRow("offered") << "usb_mic" << QStringList{"系统默认输入", "USB 麦克风（usb_mic）"} << 1;
        QTest::newRow("unplugged") << "line_in"
                                   << QStringList{"系统默认输入", "USB 麦克风（usb_mic）", "line_in（当前不存在）"} << 2;
    }
    void theInputIsChosenAsTheOutputsAre()
    {
        QFETCH(QString, kept);
        QFETCH(QStringList, texts);
        QFETCH(int, chosen);
        TempHome home;
        BellStore store;
        QVERIFY(store.open(home.db()).isEmpty());
        Settings settings(store);
        settings.setValue(PagingService::kInputSetting, kept);
        InputChoice c(settings);
        c.rebuild({{"usb_mic", "USB 麦克风"}});
        QStringList shown;
        for (int i = 0; i < c.count(); ++i)
            shown << c.text(i);
        QCOMPARE(shown, texts);
        QCOMPARE(c.chosen(), chosen);
        QVERIFY(c.chime()); // on unless switched off
        c.choose(1);
        c.setChime(false);
        c.save();
        QCOMPARE(settings.value(PagingService::kInputSetting), "usb_mic");
        QCOMPARE(settings.flag(PagingService::kChimeSetting, true), false);
    }

    void theStripShowsWhatGoesOn()
    {
        auto *link = new FakeLink;
        PagingPanel panel(link);
        panel.resize(600, 40);
        link->answer = {{"active", true}, {"zones", QJsonArray{"操场"}}, {"startedAt", QDateTime::currentDateTime().toString(Qt::ISODateWithMs)}};
        panel.button()->click();
        QVERIFY(panel.button()->text().startsWith(PagingControl::kStopText));
        QVERIFY(panel.status()->text().startsWith("喊话中 00:0"));
        emit link->notified("Paging.OnLevel", {{"peak", 0.5}});
        QCOMPARE(panel.meter()->value(), PagingControl::meterPercent(0.5));
        link->tell(false);
        QVERIFY(panel.button()->text().startsWith(PagingControl::kStartText));
        QCOMPARE(panel.meter()->value(), 0);
        QCOMPARE(panel.status()->text(), QString());
    }
};

QTEST_MAIN(PagingControlTest)
#include "tst_pagingcontrol.moc"
