// EngineLink and DayFeed against the engine's real side: an EngineCore on a
// temporary home with the fake clock and fake players, its EngineApi on a
// real RpcServer in a private folder. The clock is ticked by hand, as the
// ring tests do; the window's copy must show what the engine's own board
// shows.
#include "dayfeed.h"
#include "enginecore.h"
#include "engineapi.h"
#include "enginelink.h"
#include "fakes.h"
#include "ringengine.h"
#include "rpcserver.h"
#include "testplayback.h"

#include <QSignalSpy>
#include <QTest>

namespace {
struct EngineSide {
    TempHome home;
    FakeClock clock{QDateTime(QDate(2026, 12, 7), QTime(7, 59, 50))};
    FakeMessages messages;
    QList<FakePlayer *> players;
    std::unique_ptr<EngineCore> core;
    std::unique_ptr<RpcServer> server;
    std::unique_ptr<EngineApi> api;

    QString dataFolder() const { return AppPaths(home.path()).dataFolder(); }
    QString socket() const { return home.path() + "daling.sock"; }

    void build()
    {
        EngineContext ctx;
        ctx.paths = AppPaths(home.path());
        ctx.clock = &clock;
        ctx.messages = &messages;
        ctx.makePlayer = [this](const QString &) {
            auto p = std::make_unique<FakePlayer>(&clock);
            players << p.get();
            return p;
        };
        core = std::make_unique<EngineCore>(ctx);
        core->stopClocks(); // ticked by hand
    }
    // The engine's channel, as the process that holds the folder serves it.
    bool serve(const QString &folder = {})
    {
        server = std::make_unique<RpcServer>();
        api = std::make_unique<EngineApi>(*server, EngineApi::Options{folder.isEmpty() ? dataFolder() : folder, false, {}});
        api->setCore(core.get());
        return server->listen(socket());
    }
    void unserve()
    {
        api.reset();
        server.reset();
    }
    qint64 addBell(qint64 seconds, const QString &name)
    {
        home.touchMusic(name + ".mp3");
        return core->store().insert({0, seconds, name, name + ".mp3", "日一二三四五六", "5", ""});
    }
    void tickAt(int h, int m, int s, int ms = 2)
    {
        clock.set(QDateTime(clock.now().date(), QTime(h, m, s, ms)));
        for (FakePlayer *p : std::as_const(players))
            p->advance();
        RingEngine &e = core->engine();
        e.TimerShiJianTimer();
        if (e.TimerPrepare.isActive()) {
            e.TimerPrepare.stop();
            e.TimerPrepareTimer();
        }
    }
    void tickRange(qint64 from, qint64 to)
    {
        for (qint64 s = from; s <= to; ++s)
            tickAt(int(s / 3600), int(s % 3600 / 60), int(s % 60));
    }
};

// The window's side: its board, the link and the copy.
struct WindowSide {
    BellStore store; // never opened: the copy reads the engine, not the store
    FakeClock clock;
    BellBoard board;
    EngineLink link;
    DayFeed feed;
    WindowSide(const EngineSide &engine, const QString &folder = {})
        : board(store, clock, AppPaths(engine.home.path())),
          link(folder.isEmpty() ? engine.dataFolder() : folder, engine.socket()), feed(link, board)
    {
    }
    bool up()
    {
        QSignalSpy read(&feed, &DayFeed::listRead);
        link.start();
        return read.wait(5000);
    }
    QString shownAfterBeat(int row)
    {
        feed.blinkBeat();
        const QString text = board.statusText(row);
        if (text.isEmpty())
            feed.blinkBeat(); // the beat that showed nothing: the next shows the mark
        return board.statusText(row);
    }
};

template <typename T> LinkResult<T> await(std::function<void(typename EngineLink::Done<T>)> call)
{
    std::optional<LinkResult<T>> got;
    call([&](const LinkResult<T> &r) { got = r; });
    (void)QTest::qWaitFor([&] { return got.has_value(); }, 5000);
    return got.value_or(LinkResult<T>{{}, LinkError{RpcCode::NoAnswer, "no answer in the test"}});
}
} // namespace

class TestEngineSide : public QObject {
    Q_OBJECT
private slots:
    void bellRingsAndTheCopyShowsItWithItsDelay()
    {
        EngineSide engine;
        engine.build();
        engine.tickAt(7, 59, 50); // the first tick starts running mode
        QVERIFY(engine.serve());
        WindowSide window(engine);
        QVERIFY(window.up());
        QVERIFY(window.board.running());
        QCOMPARE(window.board.day().size(), 0);

        // The store changes behind the engine: Bells.Reload, then the copy reads the list.
        const qint64 id = engine.addBell(8 * 3600, "上课");
        QSignalSpy read(&window.feed, &DayFeed::listRead);
        QVERIFY(await<LinkDone>([&](auto done) { window.link.reloadBells(done); }).ok());
        QTRY_COMPARE(read.count(), 1);
        QCOMPARE(window.board.day().size(), 1);
        QCOMPARE(window.board.day().entry(0).id, id);
        QCOMPARE(window.board.day().entry(0).name, "上课");
        QCOMPARE(window.board.day().next(), 0);
        QCOMPARE(window.shownAfterBeat(1), "等待");

        engine.tickRange(7 * 3600 + 59 * 60 + 51, 8 * 3600);
        QTRY_COMPARE(window.feed.soundingIndex(), 0);
        QCOMPARE(window.shownAfterBeat(1), "播放");
        QCOMPARE(window.board.yunXing(), "上课.mp3");

        engine.tickRange(8 * 3600 + 1, 8 * 3600 + 7); // 5 s of sound
        QTRY_COMPARE(window.board.day().status(0), BellStatus::Done);
        QCOMPARE(window.feed.soundingIndex(), -1);
        QVERIFY(window.feed.delayMs(0).has_value());
        QVERIFY(*window.feed.delayMs(0) >= 0);
        QCOMPARE(window.shownAfterBeat(1), "完成");
        // The copy agrees with the engine's own board.
        QCOMPARE(engine.core->board().day().status(0), BellStatus::Done);
    }

    void engineGoneAndBackIsReadAgain()
    {
        EngineSide engine;
        engine.build();
        engine.addBell(8 * 3600, "上课");
        engine.tickAt(7, 59, 50);
        QVERIFY(engine.serve());
        WindowSide window(engine);
        QVERIFY(window.up());
        QCOMPARE(window.board.day().status(0), BellStatus::None);
        QSignalSpy lost(&window.link, &EngineLink::lost);
        QSignalSpy read(&window.feed, &DayFeed::listRead);

        engine.unserve();
        QTRY_COMPARE(lost.count(), 1);
        // The bell rings while nobody listens.
        engine.tickRange(7 * 3600 + 59 * 60 + 51, 8 * 3600 + 7);
        QCOMPARE(engine.core->board().day().status(0), BellStatus::Done);
        QCOMPARE(window.board.day().status(0), BellStatus::None);

        QVERIFY(engine.serve());
        QTRY_COMPARE_WITH_TIMEOUT(read.count(), 1, 5000);
        QCOMPARE(window.board.day().status(0), BellStatus::Done);
        QVERIFY(window.feed.delayMs(0).has_value());
    }

    void anotherFoldersEngineIsRefused()
    {
        EngineSide engine;
        engine.build();
        engine.tickAt(7, 59, 50);
        QVERIFY(engine.serve());
        QTemporaryDir other;
        WindowSide window(engine, other.path());
        QSignalSpy refused(&window.link, &EngineLink::refused);
        window.link.start();
        QTRY_COMPARE(refused.count(), 1);
        QCOMPARE(refused.at(0).at(0).toString(),
                 "这个铃声引擎服务的是另一个数据文件夹：" + EngineApi::folderText(engine.dataFolder()));
        QVERIFY(!window.feed.current());
    }

    void testPlaybackAndTheModeRefusedMeanwhile()
    {
        EngineSide engine;
        engine.build();
        const qint64 id = engine.addBell(9 * 3600, "下课");
        engine.tickAt(7, 59, 50);
        QVERIFY(engine.serve());
        WindowSide window(engine);
        QVERIFY(window.up());
        // Test playback only in stopped mode: the engine's refusal is the window's text.
        auto refused = await<LinkDone>([&](auto done) { window.link.testPlay(id, done); });
        QCOMPARE(refused.error.value_or(LinkError{}).code, EngineLink::kRefusedCode);
        QCOMPARE(refused.error.value_or(LinkError{}).text, EngineApi::kTestWhileRunning);

        QCOMPARE(await<bool>([&](auto done) { window.link.setMode(false, done); }).value, false);
        QTRY_VERIFY(!window.board.running());
        QVERIFY(await<LinkDone>([&](auto done) { window.link.testPlay(id, done); }).ok());
        QTRY_VERIFY(window.board.testing());
        QTRY_COMPARE(window.board.yunXing(), "下课.mp3");
        auto mode = await<bool>([&](auto done) { window.link.setMode(true, done); });
        QCOMPARE(mode.error.value_or(LinkError{}).text, EngineApi::kModeWhileTesting);
        QVERIFY(await<LinkDone>([&](auto done) { window.link.testStop(done); }).ok());
        QTRY_VERIFY(!window.board.testing());
    }
};

QTEST_GUILESS_MAIN(TestEngineSide)
#include "tst_engineside.moc"
