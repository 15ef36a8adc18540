#pragma once
// A live copy of what the window shows of the engine, kept in a BellBoard
// the window owns, so that the grid's model (ScheduleModel) and the frame
// read it as they read the board of an engine in their own process:
//
//  - the day's list: Day.GetBells, read again on Day.OnChanged, after every
//    ready() of the link (a reconnect: notifications may have been missed)
//    and when a Bell.OnStatus names a bell the copy does not list; it goes
//    in through BellBoard::showList (entries as BellEntry, the grid's rows
//    and selection as a reload sets them, the date panel's text);
//  - each bell's own status (bellstatus::fromText) and the delay of its
//    start, from Bell.OnStatus;
//  - the mode, the test state, what plays (LabelYunXing, the progress bar),
//    the engine's clock (PanelShowTime, LabelNowTime), the bands and the
//    emergency.
//
// The API sends the bell sounding as 播放 and the next as 等待 (the blink
// "on"). The copy keeps neither as the bell's own status: it remembers
// which bell sounds and moves the ring cursor to the one that waits, and
// the window's blink timer calls blinkBeat(), which flashes them on the
// board as the engine's own blink does.
//
// A bell's zones come as names; the entries carry the ids setKnownZones()
// gives for them (the window's store's, so that an edit of the entry keeps
// its zones), else made-up ids, the same for a name as long as the copy
// lives; zoneNames() maps them back for ScheduleModel::setZoneNames.
#include "bellboard.h"
#include "enginetypes.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QTimer>

class EngineLink;

class DayFeed : public QObject {
    Q_OBJECT
public:
    // How often the engine's clock is read again to keep the shown time
    // true (between, it is counted on from the last reading).
    static constexpr int kClockResyncMs = 60 * 1000;

    DayFeed(EngineLink &link, BellBoard &board, QObject *parent = nullptr);

    // Whether the list shown is the engine's (read since the last ready()).
    bool current() const { return m_current; }
    const QList<EngineBand> &bands() const { return m_bands; }
    bool emergency() const { return m_emergency; }
    const EnginePlaying &playing() const { return m_playing; }
    // The bell sounding now, -1 when none.
    int soundingIndex() const;
    // How late bell index started; nothing when it has not rung.
    std::optional<qint64> delayMs(int index) const;
    QHash<qint64, QString> zoneNames() const;
    // The zones' ids by name, as the window's store keeps them; the list is
    // read again when they differ from those the copy has used.
    void setKnownZones(const QHash<QString, qint64> &ids);
    // The engine's second of the day now (counted on from its last reading),
    // -1 before the first.
    qint64 engineNowSeconds() const;

    // One beat of the blink (the window's timer): running mode flashes the
    // bell sounding 播放, else the next one 等待.
    void blinkBeat();
    // Reads the engine's status and the day's list again.
    void reread();
    // Reads the engine's status again (bands, mode, what plays, the clock).
    void rereadStatus() { readStatus(); }

signals:
    // The list was read and shown (also after a reconnect).
    void listRead();
    // Reading the list failed: the text says why; the copy shown stays.
    void readFailed(const QString &text);
    void bandsChanged(const QList<EngineBand> &bands);
    void emergencyChanged(bool active);
    void zoneNamesChanged();
    // A bell's delay changed (its status comes through the board's day()).
    void delayChanged(int index);

private:
    void applyStatus(const EngineStatus &s);
    void applyDay(const EngineDay &day);
    void applyBellStatus(const EngineBellStatus &s);
    void applyPlaying(const EnginePlaying &p);
    void setBands(const QList<EngineBand> &bands);
    void setEmergency(bool active);
    void readStatus();
    void readBells();
    void showClock();
    QList<qint64> zoneIds(const QStringList &names);

    EngineLink &m_link;
    BellBoard &m_board;
    bool m_current = false;
    QList<EngineBand> m_bands;
    bool m_emergency = false;
    EnginePlaying m_playing;
    std::optional<BellKey> m_sounding;
    QHash<BellKey, qint64> m_delays;
    QHash<QString, qint64> m_zoneIds;
    quint64 m_dayRead = 0;    // the latest Day.GetBells asked; older answers are dropped
    quint64 m_statusRead = 0; // the same for Engine.GetStatus
    qint64 m_nowAtRead = -1;  // the engine's second at the last reading
    QElapsedTimer m_sinceRead;
    QTimer m_clock;           // shows the engine's clock each second
    QString m_dateText;       // the date panel's, from the engine's status
};
