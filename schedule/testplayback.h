#pragma once
// Test playback: in stopped mode, plays the list from the selected row,
// entry after entry, through the main window's player; a bell with zones
// plays in its zones, on their players, as it would ring. The players say
// when a row has ended (in every zone) and the test steps on at once; the
// 1 s tick only moves the progress bar and passes a row that failed. The
// question at a failed row is shown after the signal or tick that met it
// (posted), except under the operator's own click.
#include "audioplayer.h"
#include "bellboard.h"
#include "outputgroup.h"

#include <QObject>
#include <QTimer>
#include <functional>

class TestPlayback : public QObject {
    Q_OBJECT
public:
    TestPlayback(BellBoard &board, AudioPlayer &player, Messages &messages, QObject *parent = nullptr);

    // While a test runs: the progress bar's position, and a failed row is
    // passed at the next tick.
    QTimer TimerCheck;
    // The player of a zone (the ring engine's) and its name; nullptr for a
    // zone that is not known. Unset: every row plays on the main player.
    std::function<AudioPlayer *(qint64 zone)> zonePlayer;
    std::function<QString(qint64 zone)> zoneName;
    // While it answers a text (an emergency broadcast has the speakers), a
    // test does not start and the operator is told why.
    std::function<QString()> refusal;

public slots:
    // Starts or stops a test (does nothing in running mode). Stopping
    // after a failed row has nothing to stop: no error reaches the operator.
    void ButtonCheckClick();
    // Shows the position of the row that plays; passes a row that failed.
    // The test ends by itself once the selection has passed the last entry.
    void TimerCheckTimer();

    // Whether the bell plays in zones (one of its zones is known): then it
    // never plays on the main player.
    bool playsInZones(const BellEntry &e) const;
    // During a test: stops what plays and plays the selected row's bell in
    // its zones (the grid's double-click on a bell with zones).
    void playSelectedInZones();
    // Stops the main player and the zones of the row that plays.
    void stopSound() { stopPlayer(); }

    // Asked at the first row of a test that cannot be played.
    static QString goOnQuestion(int row, const QString &music, const QString &failure);

signals:
    // A test has begun (on) or ended, whatever ended it.
    void testing(bool on);

private:
    void playSelected();
    // On to the next row, or the end of the test past the last.
    void stepOn();
    // A player of the row that plays has ended: on once none sounds.
    void playerEnded(AudioPlayer *p);
    void showFailure(const std::exception &e);
    void showFailure(const QString &text);
    void askGoOn(const QString &text);
    QString selectedMusic() const;
    void endTest();
    void stopPlayer();
    // Plays the row's bell in each of its known zones; false when it has none.
    bool playInZones(const BellEntry &e);
    // What the zones' group tells of the row's zones.
    void zoneStarted(int index);
    void zoneSilent(int index, const QString &why, AudioError::Cause cause);
    // Whether the row's sound still plays (in any of its zones).
    bool sounding() const;
    AudioPlayer &shownPlayer() const;

    BellBoard &m_board;
    AudioPlayer &m_player;
    Messages &m_messages;
    // While the not-found box is open the test waits for the operator
    // instead of walking on (and stacking boxes) underneath it.
    bool m_boxOpen = false; // …or posted
    bool m_byOperator = false; // inside the operator's click: a box may open at once
    quint64 m_run = 0;         // which test a posted question belongs to
    bool m_rowFailed = false;  // nothing of the selected row plays: passed at the next tick
    bool m_loading = false; // the selected row's file still loads
    // The operator chose to go on past a failed row: later ones are only
    // logged, not asked about again.
    bool m_goOn = false;
    // The row that plays plays in its zones (on the engine's players).
    bool m_inZones = false;
    bool m_startingZones = false; // inside the group's play(): told after it
    QStringList m_silentZones;    // "名称（why）" of the start
    std::optional<AudioError> m_zoneError; // the start's first failure
    OutputGroup m_zones;
};
