#pragma once
// A main window without widgets for the ring engine and test playback: a
// temporary home and store, the fake clock, player and message boxes.
#include "bellboard.h"
#include "fakes.h"
#include "ringalerts.h"
#include "ringengine.h"
#include "ringhistory.h"
#include "secondsofday.h"
#include "testplayback.h"
#include "weekdayset.h"

#include <QFileInfo>
#include <QTest>

// Remembers the clock time of every start, so tests can check that a bell
// sounded at its second. A twin (the engine's second player) follows its
// primary's lengths and faults and reports its starts into the primary's
// lists, so that played() and playTimes hold every bell in order.
class TimedPlayer : public FakePlayer {
public:
    explicit TimedPlayer(FakeClock *clock, TimedPlayer *primary = nullptr)
        : FakePlayer(clock), m_c(clock), m_primary(primary) {}
    QList<QDateTime> playTimes; // when each start's sound began
    // What a start costs on the clock (a real player's unpause reaching the
    // sound server): play() returns that much later.
    qint64 startCostMs = 0;
    void open() override
    {
        follow();
        FakePlayer::open();
    }
    void play() override
    {
        follow();
        m_c->advanceMs(startCostMs);
        FakePlayer::play();
        TimedPlayer &p = m_primary ? *m_primary : *this;
        p.playTimes << m_c->now();
        if (m_primary)
            m_primary->played << played.last();
    }

private:
    void follow()
    {
        if (!m_primary)
            return;
        lengths = m_primary->lengths;
        defaultLength = m_primary->defaultLength;
        outputDown = m_primary->outputDown;
        hung = m_primary->hung;
        missing = m_primary->missing;
        startCostMs = m_primary->startCostMs;
    }
    FakeClock *m_c;
    TimedPlayer *m_primary;
};

struct RingFixture {
    TempHome home;
    BellStore store;
    FakeClock clock;
    AppPaths paths{home.path()};
    BellBoard board{store, clock, paths};
    TimedPlayer player{&clock};
    TimedPlayer spare{&clock, &player};
    FakeMessages messages;
    RingHistory history{store};
    RingAlerts alerts;
    RingEngine engine{board, player, messages, clock, nullptr, &spare};
    TestPlayback test{board, player, messages};
    // Runs on every tick after the main players have told their ends.
    std::function<void()> beforeTick;

    // Monday 7 December 2026, 08:00:00 unless told otherwise.
    explicit RingFixture(QDateTime start = QDateTime(QDate(2026, 12, 7), QTime(8, 0, 0)))
    {
        clock.set(start);
        if (!store.open(home.db()).isEmpty())
            qFatal("store did not open");
        engine.setHistory(&history);
        engine.setAlerts(&alerts);
        board.setHistory(&history);
    }

    // An entry with a file of the same name (".mp3" appended), unless
    // missing is set.
    qint64 add(qint64 t, const QString &name, const QString &days = QStringLiteral("日一二三四五六"),
               bool missing = false)
    {
        if (!missing)
            home.touchMusic(name + ".mp3");
        return store.insert({0, t, name, name + ".mp3", days, "5", ""});
    }
    // Many entries in one transaction (each with its file).
    void addMany(const QList<BellEntry> &entries)
    {
        for (const BellEntry &e : entries)
            home.touchMusic(e.music);
        store.replaceAll(entries);
    }
    static qint64 at(int h, int m, int s) { return h * 3600 + m * 60 + s; }
    static QString allDays() { return QStringLiteral("日一二三四五六"); }

    // One clock tick at the given time of today (ms after the second).
    void tickAt(int h, int m, int s, int ms = 2)
    {
        tickAt(QDateTime(clock.now().date(), QTime(h, m, s, ms)));
    }
    // The players tell what ended by then; the tick, then the retry and the
    // opening ahead that follow it, then what the tick left for the event
    // loop (its boxes).
    void tickAt(const QDateTime &t)
    {
        clock.set(t);
        player.advance();
        spare.advance();
        if (beforeTick)
            beforeTick();
        tickOf(engine);
    }
    static void tickOf(RingEngine &e)
    {
        e.TimerShiJianTimer();
        if (e.TimerPrepare.isActive()) {
            e.TimerPrepare.stop();
            e.TimerPrepareTimer();
        }
        QCoreApplication::sendPostedEvents(&e, QEvent::MetaCall);
    }
    // Ticks every second from one time of today to another, both included.
    void tickRange(qint64 from, qint64 to)
    {
        for (qint64 s = from; s <= to; ++s)
            tickAt(int(s / 3600), int(s % 3600 / 60), int(s % 60));
    }
    // What the status column of a grid row reads now (the blink included).
    QString status(int row) const { return board.statusText(row); }
    QString name(int row) const
    {
        const BellEntry *e = board.entryAtRow(row);
        return e ? e->name : QString();
    }
    QStringList played() const { return player.played; }
    // The player of the bell sounding now.
    FakePlayer &sounding() { return static_cast<FakePlayer &>(engine.activePlayer()); }
    // The day's ring history as "hh:mm:ss name result delay reason".
    QStringList records(const QDate &day = QDate(2026, 12, 7))
    {
        history.flush();
        QStringList out;
        for (const RingRecord &r : history.day(day))
            out << QStringLiteral("%1 %2 %3 %4 %5")
                       .arg(inttotime(r.time), r.name, bellstatus::text(r.result),
                            r.delayMs ? QString::number(*r.delayMs) : QStringLiteral("-"), r.reason)
                       .trimmed();
        return out;
    }
};
