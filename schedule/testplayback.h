#pragma once
// Test playback: in stopped mode, plays the list from the selected row,
// entry after entry, through the main window's player.
#include "audioplayer.h"
#include "bellboard.h"

#include <QObject>
#include <QTimer>
#include <functional>

class TestPlayback : public QObject {
    Q_OBJECT
public:
    TestPlayback(BellBoard &board, AudioPlayer &player, Messages &messages, QObject *parent = nullptr);

    QTimer TimerCheck;
    // While it answers a text (an emergency broadcast has the speakers), a
    // test does not start and the operator is told why.
    std::function<QString()> refusal;

public slots:
    // Starts or stops a test (does nothing in running mode). Stopping
    // after a failed row has nothing to stop: no error reaches the operator.
    void ButtonCheckClick();
    // Moves on when the player has fallen silent; ends the test by itself
    // once the selection has passed the last entry.
    void TimerCheckTimer();

    // Asked at the first row of a test that cannot be played.
    static QString goOnQuestion(int row, const QString &music, const QString &failure);

private:
    void playSelected();
    void showFailure(const std::exception &e);
    QString selectedMusic() const;
    void endTest();
    void stopPlayer();

    BellBoard &m_board;
    AudioPlayer &m_player;
    Messages &m_messages;
    // While the not-found box is open the test waits for the operator
    // instead of walking on (and stacking boxes) underneath it.
    bool m_boxOpen = false;
    bool m_loading = false; // the selected row's file still loads
    // The operator chose to go on past a failed row: later ones are only
    // logged, not asked about again.
    bool m_goOn = false;
};
