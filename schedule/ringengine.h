#pragma once
// The bell clock: ticks just after every wall-clock second, switches to
// running mode on its first tick, rings each of today's entries at its
// second, blinks the playing and the next entry, and reloads the list after
// midnight.
#include "audioplayer.h"
#include "bellboard.h"

#include <QObject>
#include <QTimer>
#include <functional>

// Rings one grid row through a player: Close, FileName := the row's file in
// the music folder, Open, progress maximum := Length, Play. Throws
// AudioError or AppError when the file cannot be played; used by the ring
// engine, test playback and the grid's double-click.
void ringRow(BellBoard &board, AudioPlayer &player, int row);

class RingEngine : public QObject {
    Q_OBJECT
public:
    RingEngine(BellBoard &board, AudioPlayer &player, Messages &messages, const Clock &clock,
               QObject *parent = nullptr);

    // Lets the window repaint and handle its input (the blink does this after
    // each step). Tests leave it empty.
    void setProcessEvents(std::function<void()> fn) { m_processEvents = std::move(fn); }

    // Arms the clock: the first tick comes just after the next second.
    void start();

    QTimer TimerShiJian; // the clock
    QTimer TimerShan;    // the status blink, enabled in running mode

public slots:
    void TimerShiJianTimer();
    void TimerShanTimer();
    void ButtonPlayClick();

private:
    BellBoard &m_board;
    AudioPlayer &m_player;
    Messages &m_messages;
    const Clock &m_clock;
    std::function<void()> m_processEvents;
};
