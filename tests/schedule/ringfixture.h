#pragma once
// A main window without widgets for the ring engine and test playback: a
// temporary home and store, the fake clock, player and message boxes.
#include "bellboard.h"
#include "fakes.h"
#include "ringengine.h"
#include "testplayback.h"
#include "weekdayset.h"

#include <QFileInfo>
#include <QTest>

// Remembers the clock time of every start, so tests can check that a bell
// sounded at its second.
class TimedPlayer : public FakePlayer {
public:
    explicit TimedPlayer(const FakeClock *clock) : FakePlayer(clock), m_c(clock) {}
    QList<QDateTime> playTimes;
    void play() override
    {
        FakePlayer::play();
        playTimes << m_c->now();
    }

private:
    const FakeClock *m_c;
};

struct RingFixture {
    static constexpr int kStatus = ScheduleGrid::ColStatus;
    TempHome home;
    BellStore store;
    FakeClock clock;
    AppPaths paths{home.path()};
    BellBoard board{store, clock, paths};
    TimedPlayer player{&clock};
    FakeMessages messages;
    RingEngine engine{board, player, messages, clock};
    TestPlayback test{board, player, messages};

    // Monday 7 December 2026, 08:00:00 unless told otherwise.
    explicit RingFixture(QDateTime start = QDateTime(QDate(2026, 12, 7), QTime(8, 0, 0)))
    {
        clock.set(start);
        if (!store.open(home.db()).isEmpty())
            qFatal("store did not open");
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
        clock.setTime(QTime(h, m, s, ms));
        engine.TimerShiJianTimer();
    }
    void tickAt(const QDateTime &t)
    {
        clock.set(t);
        engine.TimerShiJianTimer();
    }
    // Ticks every second from one time of today to another, both included.
    void tickRange(qint64 from, qint64 to)
    {
        for (qint64 s = from; s <= to; ++s)
            tickAt(int(s / 3600), int(s % 3600 / 60), int(s % 60));
    }
    QString status(int row) const { return board.grid().cell(kStatus, row); }
    QString cell(int col, int row) const { return board.grid().cell(col, row); }
    QStringList played() const { return player.played; }
};
