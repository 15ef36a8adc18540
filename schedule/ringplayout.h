#pragma once
// The bells on 铃声输出: the player that sounds and a spare, and the next
// bell's file opened ahead on whichever is idle so that its second only has
// to start it (a file that loads slowly goes on loading in the background).
// It decides no bell: the ring engine tells it which one and when.
#include "audioplayer.h"
#include "bellboard.h"

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

    // Starts the entry's file: only play() when it was opened ahead, else
    // the whole ringFile sequence on the active player. Returns the player
    // that sounds, or nullptr when the file still loads (*loading is then
    // the player loading it). Throws as ringFile does.
    AudioPlayer *start(const BellKey &key, qint64 dayStart, const QString &music, AudioPlayer **loading);
    // Plays a file opened ahead, stopping the bell that still sounds.
    void playOpened(AudioPlayer *p, qint64 length);

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
    // Forgets what was opened ahead (and, all: what was tried).
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

    BellBoard &m_board;
    AudioPlayer *m_players[2];
    int m_active = 0;
    std::optional<Prepared> m_prepared;
    std::optional<BellKey> m_tried;
    qint64 m_triedDay = 0;
};
