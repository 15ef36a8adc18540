#pragma once
// What became of each bell the engine tried, written in one place: its
// status in the day's list, the fault kept for the day's reloads, its record
// in the ring history (with the output's latency added once known), its
// daling.ring log line, the bands' alerts, the engine's signals, and the
// message boxes, which open from the event loop once the tick has returned:
// the clock never waits inside a box, nor for the history's store.
#include "dayschedule.h"
#include "seams.h"

#include <QMap>
#include <QObject>
#include <QStringList>
#include <functional>

class AudioPlayer;
class RingAlerts;
class RingHistory;

class RingOutcomes : public QObject {
    Q_OBJECT
public:
    // The output's own latency (what the sound server still holds when the
    // player has let the sound go) is known a moment after the start; the
    // bell's record then gets it added to its delay. A figure above the
    // bound is no speaker's buffer but a sink that renders ahead of real
    // time (a null sink reports over a second): it is logged, not added.
    static constexpr int kLatencyReadMs = 800;
    static constexpr qint64 kMaxOutputLatencyMs = 500;
    // 说明 of a bell whose output died while it played.
    static inline const QString kInterruptedReason =
        QStringLiteral("声音输出在播放中途中断，铃声没有播完。");
    // 说明 and message of a bell whose file was still loading when its
    // catch-up window ended.
    static inline const QString kSlowOpenReason =
        QStringLiteral("铃声文件读取太慢，补打时限内没有读完，铃声没有播出！");

    // A bell as its record names it, also one no longer in the list.
    struct Bell {
        BellKey key;
        qint64 dayStart = 0;
        QString name, music;
        QList<qint64> zones;
    };

    // Its boxes, writes and reads of the latency are posted to the parent
    // (the engine: the event loop after its tick), else to itself.
    RingOutcomes(DaySchedule &day, Messages &messages, QObject *parent = nullptr);

    // Where the records go (none: no records), and where the bands learn
    // of the bells that did not ring.
    void setHistory(RingHistory *history) { m_history = history; }
    void setAlerts(RingAlerts *alerts) { m_alerts = alerts; }
    RingAlerts *alerts() const { return m_alerts; }
    // The zones' names for a record, joined for the operator.
    std::function<QString(const QList<qint64> &zones)> zoneNames;
    // Added to the 说明 of a bell that sounds (the amplifiers that do not
    // answer as it starts), and kept through the record's later changes.
    std::function<QString(const QList<qint64> &zones)> powerNote;

    // A bell that never sounded (失败, 错过): never tried again, also not
    // after a clock set back.
    void failed(const Bell &bell, BellStatus result, const QString &reason);
    // A bell that sounds, delayMs after its second: 完成, or 部分播出 / 失败
    // for a bell in zones that some / all of them did not hear, as note
    // says. missing: the output it fell back from (note names it), warned
    // about once. sounding(record) runs before rang() is emitted.
    void sounded(const Bell &bell, qint64 delayMs, BellStatus result, const QString &note,
                 const QString &missing, const std::function<void(int record)> &sounding);
    // A bell that rang has stopped: its record, marked 播放中 while it
    // sounded, no longer is. An interruption of a bell on 铃声输出
    // is written here (told: a bell in zones has its record told zone by
    // zone through zonesTold).
    void ended(const BellKey &key, int record, BellStatus result, bool told);
    // A bell in zones: its status and 说明 from what its zones did; latestMs,
    // when set, is the delay of the latest zone.
    void zonesTold(const Bell &bell, int record, BellStatus result, const QString &note, qint64 latestMs);
    // An entry the cursor passes that sounded with its twin, or that keeps
    // the fault of the day's earlier list.
    void passed(int index, BellStatus status);
    // Adds the output's latency to the record's delay once the player
    // knows it, while current() still holds.
    void addOutputLatencySoon(AudioPlayer *p, int record, qint64 delayMs, std::function<bool()> current);

    // A message for the operator, shown from the event loop after the tick;
    // one box at a time, later ones show in their rows and the log.
    void post(const QString &message);

signals:
    void rang(int index);
    void bellEnded(int index, BellStatus result);
    void ringFailed(int index, BellStatus result);

private:
    QObject *context() { return parent() ? parent() : this; }
    void showPosted();
    void flushSoon();

    DaySchedule &m_day;
    Messages &m_messages;
    RingHistory *m_history = nullptr;
    RingAlerts *m_alerts = nullptr;
    bool m_flushQueued = false;
    QStringList m_boxes; // posted, not yet shown
    bool m_boxPosted = false;
    bool m_boxOpen = false;
    QString m_warnedMissing; // the missing output already warned about
    // withPower(): the power notes of the last records, by record.
    QString withPower(int record, const QString &note) const;
    QMap<int, QString> m_powerNotes;
};
