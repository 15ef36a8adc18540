#pragma once
// The bells on 铃声输出: the player that sounds and a spare, and the next
// bell's file opened ahead on whichever is idle so that its second only has
// to start it (a file that loads slowly goes on loading in the background).
// A file opened ahead may be started early, by its player's start latency
// (the median of its recent starts), so that its sound begins at the
// second; the bell's second then finds it started. It decides no bell: the
// ring engine tells it which one and when.
#include "audioplayer.h"
#include "bellboard.h"

#include <QDateTime>
#include <deque>
#include <optional>

// Rings one file of the music folder through a player: Close, FileName :=
// the file in the music folder, Open, progress maximum := Length, Play.
// Throws AudioError or AppError when the file cannot be played (also when
// the name is not a bare file name, or the player does not start); an open
// past the player's bound throws AudioError with Cause::Pending. Used by the
// ring engine, test playback and the grid's double-click.
void ringFile(BellBoard &board, AudioPlayer &player, const QString &music);
// The same for the file of a grid row (an empty name for a spare row).
void ringRow(BellBoard &board, AudioPlayer &player, int row);

class RingPlayout {
public:
    // spare, when given, is a second player: a bell due while the previous
    // one still plays is opened on it ahead of its second.
    RingPlayout(BellBoard &board, AudioPlayer &player, AudioPlayer *spare);

    // The main player and the spare (nullptr when there is none).
    AudioPlayer *const (&players() const)[2] { return m_players; }
    // The player of the bell sounding now (or of the last one).
    AudioPlayer &active() const { return *m_players[m_active]; }
    void setActive(AudioPlayer *p) { m_active = p == m_players[1] ? 1 : 0; }

    // Starts the entry's file: nothing more when it was started early, only
    // play() when it was opened ahead, else the whole ringFile sequence on
    // the active player. Returns the player that sounds, or nullptr when the
    // file still loads (*loading is then the player loading it). Throws as
    // ringFile does.
    AudioPlayer *start(const BellKey &key, qint64 dayStart, const QString &music, AudioPlayer **loading);
    // Plays a file opened ahead, stopping the bell that still sounds.
    // wanted: when the start was meant to begin (by default, now); from
    // then to play()'s return is one measure of the player's start latency.
    void playOpened(AudioPlayer *p, qint64 length, const QDateTime &wanted = {});
    // When the last start's play() returned (the clock's time): about when
    // its sound began.
    QDateTime startedAt() const { return m_startedAt; }

    // A start ahead of the second never comes more than this early.
    static constexpr qint64 kMaxStartLeadMs = 20;
    // The starts measured per player; their median is its start latency.
    static constexpr int kLatencySamples = 7;
    // The entry opened ahead and ready to start at once, if any.
    std::optional<BellKey> ready(qint64 dayStart) const;
    // How long a start of the ready entry's player takes, from the moment
    // it is wanted (an early start's timer is aimed at it) to play()'s
    // return: 0 before any start was measured, at most kMaxStartLeadMs.
    qint64 startLeadMs() const;
    // Starts the ready entry now, ahead of its second (throws as play()
    // does); start() at its second takes it as started. aimedAt: when its
    // timer was meant to fire.
    void startEarly(const BellKey &key, qint64 dayStart, const QDateTime &aimedAt);
    // Stops a start ahead that its second did not take (the day changed
    // its mind: stopped, held, another bell).
    void dropEarly();

    // The player the next bell may be opened on: never one still sounding
    // (or paused); nullptr when both are.
    AudioPlayer *idle() const;
    // Whether the entry was opened ahead or tried already (a failed open
    // ahead is not tried again for the same entry); notes it tried.
    bool tryOnce(const BellKey &key, qint64 dayStart);
    // Opens the entry's file ahead on target.
    void openAhead(AudioPlayer *target, const BellKey &key, qint64 dayStart, const QString &path);
    // A player finished loading in the background, or failed to.
    void opened(AudioPlayer *p);
    void openFailed(AudioPlayer *p);
    // Forgets what was opened ahead (and, all: what was tried); a start
    // ahead is stopped.
    void forget(bool all = false);
    // Stops both players, also one paused.
    void stop();

private:
    struct Prepared {
        BellKey key;         // which entry
        qint64 dayStart = 0; // of which day
        QString path;        // the file open (or opening) in the player
        AudioPlayer *player = nullptr;
        qint64 length = 0;
        bool pending = false; // still loading in the background
    };

    struct Early {
        BellKey key;
        qint64 dayStart = 0;
        AudioPlayer *player = nullptr;
        QDateTime at; // when its play() returned
    };
    int indexOf(const AudioPlayer *p) const { return p == m_players[1] ? 1 : 0; }

    BellBoard &m_board;
    AudioPlayer *m_players[2];
    std::optional<Early> m_early;
    QDateTime m_startedAt;
    std::deque<qint64> m_startMs[2]; // the latest starts' durations, per player
    int m_active = 0;
    std::optional<Prepared> m_prepared;
    std::optional<BellKey> m_tried;
    qint64 m_triedDay = 0;
};
