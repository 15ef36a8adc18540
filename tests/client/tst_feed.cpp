// DayFeed against a scripted engine: what the API sends ends up in the
// window's BellBoard as the grid and the frame read it (entries, own
// statuses, the cursor, the blink, the panels), and the copy is read again
// whenever it may be out of date.
#include "dayfeed.h"
#include "enginelink.h"
#include "fakeengine.h"
#include "fakes.h"

#include <QSignalSpy>
#include <QTest>

namespace {
QJsonObject bell(qint64 id, const QString &time, const QString &name, const QString &status,
                 QJsonValue delay = QJsonValue(), QJsonArray zones = {})
{
    return {{"id", id}, {"time", time}, {"name", name}, {"music", name + ".mp3"}, {"days", "一二三四五"},
            {"duration", "5"}, {"remark", "备注"}, {"zones", zones}, {"status", status}, {"delayMs", delay}};
}
QJsonObject dayOf(const QJsonArray &bells, QJsonValue next, const QString &mode = "running")
{
    return {{"date", "2026-12-07"}, {"mode", mode}, {"next", next}, {"bells", bells}};
}
QJsonObject statusNote(qint64 id, const QString &time, const QString &status, QJsonValue delay = QJsonValue())
{
    return {{"id", id}, {"time", time}, {"status", status}, {"delayMs", delay}, {"zones", QJsonArray{}}};
}
} // namespace

class TestFeed : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    BellStore m_store;
    FakeClock m_clock;

    struct Rig {
        FakeEngine engine;
        EngineLink link;
        BellBoard board;
        DayFeed feed;
        Rig(TestFeed &t, const QJsonObject &day)
            : engine(t.m_dir.filePath("daling.sock"), t.m_dir.filePath("data")),
              link(t.m_dir.filePath("data"), t.m_dir.filePath("daling.sock")),
              board(t.m_store, t.m_clock, AppPaths(t.m_dir.path() + "/")), feed(link, board)
        {
            engine.answers["Day.GetBells"] = day;
        }
        bool up()
        {
            if (!engine.start())
                return false;
            QSignalSpy read(&feed, &DayFeed::listRead);
            link.start();
            return read.wait(5000);
        }
        QString shown(int row) const { return board.statusText(row); }
        QStringList names() const
        {
            QStringList out;
            for (const BellEntry &e : board.day().entries())
                out << e.name;
            return out;
        }
        void note(const QJsonObject &params) { engine.server->notify("Bell.OnStatus", params); }
    };

private slots:
    void init() { QDir().mkpath(m_dir.filePath("data")); }

    void listShownAsTheGridReadsIt()
    {
        Rig r(*this, dayOf({bell(1, "07:50:00", "早读", "完成", 35),
                            bell(2, "08:00:00", "上课", "播放", 120, {"操场", "教学楼"}),
                            bell(3, "08:45:00", "下课", ""), bell(4, "99:00:00", "坏", "时间无效")},
                           2));
        QVERIFY(r.up());
        QCOMPARE(r.names(), QStringList({"早读", "上课", "下课", "坏"}));
        const BellEntry &e = r.board.day().entry(1);
        QCOMPARE(e.time, 8 * 3600);
        QCOMPARE(e.music, "上课.mp3");
        QCOMPARE(e.weekdays, "一二三四五");
        QCOMPARE(r.board.day().entry(3).time, BellEntry::kInvalidTime);
        // Zones by made-up ids the feed names back.
        const QHash<qint64, QString> zones = r.feed.zoneNames();
        QStringList named;
        for (qint64 id : e.zones)
            named << zones.value(id);
        named.sort();
        QCOMPARE(named, QStringList({"操场", "教学楼"}));
        // Own statuses: the sounding bell has none of its own.
        QCOMPARE(r.board.day().status(0), BellStatus::Done);
        QCOMPARE(r.board.day().status(1), BellStatus::None);
        QCOMPARE(r.board.day().status(3), BellStatus::InvalidTime);
        QCOMPARE(r.board.day().next(), 1);
        QCOMPARE(r.feed.soundingIndex(), 1);
        QCOMPARE(r.feed.delayMs(0).value_or(-1), 35);
        QVERIFY(!r.feed.delayMs(2));
        // The grid's rows and the panels as a reload of the engine sets them.
        QCOMPARE(r.board.gridRowCount(), 4 + 6);
        QCOMPARE(r.board.dateText(), " 12月7日 周一");
        QCOMPARE(r.board.clockText(), "08:00:05");
        QVERIFY(r.board.running());
        // The blink is the window's: 播放 flashes on the bell that sounds.
        r.feed.blinkBeat();
        QCOMPARE(r.shown(2), "播放");
        r.feed.blinkBeat();
        QCOMPARE(r.shown(2), "");
        QCOMPARE(r.shown(1), "完成");
    }

    // A bell rings and ends: the notifications may come in either order.
    void bellRingsThenEnds_data()
    {
        QTest::addColumn<bool>("nextToldFirst");
        QTest::newRow("done, then the next waits") << false;
        QTest::newRow("the next waits, then done") << true;
    }
    void bellRingsThenEnds()
    {
        QFETCH(bool, nextToldFirst);
        Rig r(*this, dayOf({bell(1, "08:00:00", "上课", "等待"), bell(2, "08:45:00", "下课", "")}, 1));
        QVERIFY(r.up());
        QSignalSpy delays(&r.feed, &DayFeed::delayChanged);
        r.feed.blinkBeat();
        QCOMPARE(r.shown(1), "等待");

        r.note(statusNote(1, "08:00:00", "播放", 40));
        QTRY_COMPARE(r.feed.soundingIndex(), 0);
        QCOMPARE(delays.count(), 1);
        r.feed.blinkBeat();
        QCOMPARE(r.shown(1), "播放");
        QCOMPARE(r.shown(2), "");

        if (nextToldFirst)
            r.note(statusNote(2, "08:45:00", "等待"));
        r.note(statusNote(1, "08:00:00", "完成", 40));
        if (!nextToldFirst)
            r.note(statusNote(2, "08:45:00", "等待"));
        QTRY_COMPARE(r.board.day().status(0), BellStatus::Done);
        QTRY_COMPARE(r.board.day().next(), 1);
        QCOMPARE(r.feed.soundingIndex(), -1);
        QCOMPARE(r.feed.delayMs(0).value_or(-1), 40);
        r.feed.blinkBeat();
        QCOMPARE(r.shown(1), "完成");
        QCOMPARE(r.shown(2), "等待");
        QCOMPARE(r.engine.count("Day.GetBells"), 1); // no re-read needed
    }

    void lastBellDoneLeavesNothingWaiting()
    {
        Rig r(*this, dayOf({bell(1, "08:00:00", "上课", "等待")}, 1));
        QVERIFY(r.up());
        QCOMPARE(r.board.day().next(), 0);
        r.note(statusNote(1, "08:00:00", "播放"));
        r.note(statusNote(1, "08:00:00", "中断"));
        QTRY_COMPARE(r.board.day().status(0), BellStatus::Interrupted);
        QCOMPARE(r.board.day().next(), 1); // no bell told 等待 after it: the cursor is past it
        r.note(statusNote(1, "08:00:00", "错过"));
        QTRY_COMPARE(r.board.day().status(0), BellStatus::Missed);
        QCOMPARE(r.board.day().next(), 1);
        r.feed.blinkBeat();
        QCOMPARE(r.shown(1), "错过");
    }

    void unknownBellReadsTheListAgain()
    {
        Rig r(*this, dayOf({bell(1, "08:00:00", "上课", "")}, 1));
        QVERIFY(r.up());
        r.engine.answers["Day.GetBells"] = dayOf({bell(1, "08:00:00", "上课", ""), bell(9, "09:00:00", "新", "")}, 1);
        r.note(statusNote(9, "09:00:00", "等待"));
        QTRY_COMPARE(r.names(), QStringList({"上课", "新"}));
        QCOMPARE(r.engine.count("Day.GetBells"), 2);
    }

    void dayChangedReadsTheListAgain()
    {
        Rig r(*this, dayOf({bell(1, "08:00:00", "上课", "")}, 1));
        QVERIFY(r.up());
        r.engine.answers["Day.GetBells"] = dayOf({bell(5, "10:00:00", "周二", "")}, QJsonValue(), "stopped");
        r.engine.server->notify("Day.OnChanged", QJsonObject{{"date", "2026-12-08"}, {"mode", "stopped"}});
        QTRY_COMPARE(r.names(), QStringList{"周二"});
        QVERIFY(!r.board.running());
        QCOMPARE(r.engine.count("Engine.GetStatus"), 3); // the link's, the feed's twice
    }

    void olderAnswerDoesNotOverwriteANewerOne()
    {
        Rig r(*this, dayOf({bell(1, "08:00:00", "旧", "")}, 1));
        QVERIFY(r.up());
        r.engine.hold << "Day.GetBells";
        r.engine.server->notify("Day.OnChanged", QJsonObject{{"date", "2026-12-07"}, {"mode", "running"}});
        QTRY_COMPARE(r.engine.held["Day.GetBells"].size(), 1);
        r.engine.server->notify("Day.OnChanged", QJsonObject{{"date", "2026-12-07"}, {"mode", "running"}});
        QTRY_COMPARE(r.engine.held["Day.GetBells"].size(), 2);
        r.engine.held["Day.GetBells"][1].send(dayOf({bell(2, "08:00:00", "新", "")}, 2));
        QTRY_COMPARE(r.names(), QStringList{"新"});
        r.engine.held["Day.GetBells"][0].send(dayOf({bell(1, "08:00:00", "旧", "")}, 1));
        QTest::qWait(50);
        QCOMPARE(r.names(), QStringList{"新"});
    }

    void reconnectReadsEverythingAgain()
    {
        Rig r(*this, dayOf({bell(1, "08:00:00", "上课", "等待")}, 1));
        QVERIFY(r.up());
        QSignalSpy read(&r.feed, &DayFeed::listRead);
        r.engine.stop();
        QTRY_VERIFY(!r.link.isReady());
        QVERIFY(!r.feed.current());
        // What happened meanwhile reaches this copy only by reading again.
        r.engine.answers["Day.GetBells"] = dayOf({bell(1, "08:00:00", "上课", "完成", 10)}, QJsonValue());
        QVERIFY(r.engine.start());
        QTRY_COMPARE_WITH_TIMEOUT(read.count(), 1, 5000);
        QVERIFY(r.feed.current());
        QCOMPARE(r.board.day().status(0), BellStatus::Done);
        QCOMPARE(r.feed.delayMs(0).value_or(-1), 10);
    }

    void panelsFollowTheEngine()
    {
        Rig r(*this, dayOf({bell(1, "08:00:00", "上课", "")}, 1));
        QVERIFY(r.up());
        QSignalSpy bands(&r.feed, &DayFeed::bandsChanged);
        QSignalSpy emergency(&r.feed, &DayFeed::emergencyChanged);
        r.engine.server->notify("Playback.OnChanged",
                                QJsonObject{{"id", 1}, {"music", "上课.mp3"}, {"positionMs", 1500}, {"lengthMs", 5000}});
        QTRY_COMPARE(r.board.yunXing(), "上课.mp3");
        QCOMPARE(r.board.progressMax(), 5000);
        QCOMPARE(r.board.progressPos(), 1500);
        r.engine.server->notify("Playback.OnChanged", QJsonObject{{"id", QJsonValue()}, {"music", ""}});
        QTRY_COMPARE(r.board.yunXing(), "");
        QCOMPARE(r.board.progressPos(), 0);

        r.engine.server->notify("Test.OnChanged", QJsonObject{{"testing", true}});
        QTRY_VERIFY(r.board.testing());
        r.engine.server->notify("Mode.OnChanged", QJsonObject{{"mode", "stopped"}});
        QTRY_VERIFY(!r.board.running());
        r.engine.server->notify("Emergency.OnChanged", QJsonObject{{"active", true}});
        QTRY_COMPARE(emergency.count(), 1);
        QVERIFY(r.feed.emergency());
        r.engine.server->notify("Bands.OnChanged",
                                QJsonObject{{"bands", QJsonArray{QJsonObject{{"kind", "emergency"}, {"text", "紧急广播中"}}}}});
        QTRY_COMPARE(bands.count(), 1);
        QCOMPARE(r.feed.bands().value(0).text, "紧急广播中");
        // The same bands again are no change.
        r.engine.server->notify("Bands.OnChanged",
                                QJsonObject{{"bands", QJsonArray{QJsonObject{{"kind", "emergency"}, {"text", "紧急广播中"}}}}});
        QTest::qWait(50);
        QCOMPARE(bands.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestFeed)
#include "tst_feed.moc"
