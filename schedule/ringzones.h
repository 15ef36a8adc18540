#pragma once
// The bells in zones: each bell on an OutputGroup, one player per zone
// (ZonePlayers: made when first needed, kept to its zone's output). The
// next bell is opened ahead in the other group, each zone with a 提前
// starting that much early, while a zone still sounding the bell before
// keeps it to the second. After its second the zones still silent are
// tried again at each retry() of the catch-up window, and a zone whose
// file loads late starts once loaded. What each zone did (silent, late,
// cut off) becomes the bell's status and 说明 through RingOutcomes; the
// engine learns when the bell is first heard, heard again, ends everywhere
// or fails everywhere.
#include "outputgroup.h"
#include "ringoutcomes.h"
#include "seams.h"
#include "zoneplayers.h"

#include <QHash>
#include <QObject>
#include <functional>
#include <memory>
#include <optional>

class RingZones : public QObject {
    Q_OBJECT
public:
    using Bell = RingOutcomes::Bell;
    // What the bell's second came to.
    struct Start {
        AudioPlayer *first = nullptr;    // the first zone that sounds
        QStringList silent;              // "甲（why）", also a zone nobody hears
        bool heardNowhere = false;       // it plays, but in no zone anybody hears
        bool loading = false;            // none sounds: its file still loads
        QString failure;                 // none sounds nor loads: why
        std::optional<AudioError> error; // a zone's output failure (the bell is retried)
    };

    // What the engine is given (see RingEngine); the zones' players come
    // from known().make.
    std::function<QString(const Zone &zone)> zoneUnheard;
    std::function<void(const QList<Zone> &zones)> zonesSoon;
    std::function<QString(const QString &device)> outputLabel;

    RingZones(const Clock &clock, RingOutcomes &outcomes, QObject *parent = nullptr);
    ~RingZones() override;

    // The zones known and their players.
    ZonePlayers &known() { return m_known; }
    const ZonePlayers &known() const { return m_known; }
    bool hasKnownZone(const QList<qint64> &zones) const { return !m_known.targetsOf(zones).isEmpty(); }

    // Opens the bell's file ahead in its zones.
    void prepare(const Bell &bell, const QString &path);
    // A bell's second: the zones of the bell before stop (those started
    // early for this bell play on), and what was opened ahead for another
    // bell is let go.
    void endBefore(const BellKey &key, qint64 dayStart);
    // Starts the bell in its zones (after endBefore).
    Start ring(const Bell &bell, const QString &path);
    // The record the bell's start made.
    void rang(int record);
    // Tries the silent zones again while the window lasts.
    void retry(qint64 nowAbs, int catchUpSeconds);
    // The zones still tried or loading stay silent for good.
    void drop();
    // Stops every zone and forgets what was opened ahead.
    void stop();

    // The bell's record is told zone by zone (by this class).
    bool tells(int record) const { return m_bell && m_bell->rang && m_bell->record == record; }
    // A zone heard late set the record's delay.
    bool lateSet(int record) const { return tells(record) && m_bell->latestMs > 0; }
    bool sounding() const { return group().sounding(); }
    AudioPlayer *heardPlayer() const { return group().soundingPlayers().value(0); }
    QList<qint64> soundingZones() const;
    // The bell in zones tried now.
    const Bell *bell() const { return m_bell ? &m_bell->bell : nullptr; }
    int record() const { return m_bell ? m_bell->record : 0; }

signals:
    // A bell that no zone had at its second is heard now, on p.
    void firstHeard(AudioPlayer *p, const QStringList &silent);
    // A zone of a bell that had ended everywhere is heard late, on p.
    void heardAgain(AudioPlayer *p);
    void endedEverywhere(BellStatus result);
    // A bell that no zone had is silent everywhere for good.
    void failedEverywhere(const QString &message);

private:
    struct Current {
        Bell bell;
        int record = 0;
        bool rang = false;          // heard in some zone: its record exists
        QStringList late, cut;      // "乙（3200 毫秒）"; names
        qint64 latestMs = 0;        // the latest zone's delay
        int whole = 0;              // zones that played it to its end
        QHash<int, QString> unheard; // by target: plays, but nobody listens
        QString told;               // the status and 说明 written last
    };
    struct Ahead {
        BellKey key;
        qint64 dayStart = 0;
        QString path;
    };
    OutputGroup &group() const { return *m_groups[m_cur]; }
    OutputGroup &ahead() const { return *m_groups[1 - m_cur]; }
    QString whyOf(int index) const;
    QStringList silentList() const;
    bool aheadHolds(const AudioPlayer *p) const;
    void watch(OutputGroup &g);
    void heard(int index);
    void endedHere();
    void updateRecord();
    qint64 nowMs() const;

    const Clock &m_clock;
    RingOutcomes &m_outcomes;
    ZonePlayers m_known;
    std::unique_ptr<OutputGroup> m_groups[2];
    int m_cur = 0; // the group of the bell (the other one opens ahead)
    std::optional<Ahead> m_ahead;
    std::optional<Current> m_bell;
    bool m_starting = false; // inside ring(): its outcome is read after
};
