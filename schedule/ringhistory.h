#pragma once
// The ring history (table jilu, created when missing): one record for every
// bell of running mode, with its outcome, its delay and the reason when it
// did not sound. Records are queued by the ring engine and written a moment
// later, off the bell's path, each in its own short transaction; a record
// that cannot be written stays queued and never stops a bell. What is still
// queued when the program ends goes to a file of its own (waitingPlaces())
// and into the history at the next start; a record dropped for good is
// logged with its bell. A bell's record is marked 播放中 while it sounds,
// so a run that dies meanwhile leaves it marked for the next start.
#include "bellkey.h"
#include "bellstatus.h"
#include "bellstore.h"

#include <QDate>
#include <QHash>
#include <QMap>
#include <functional>
#include <QSet>
#include <optional>

struct RingRecord {
    qint64 id = 0;
    QDate date;                   // 日期
    qint64 time = 0;              // 时间: the scheduled second of the day
    QString name;                 // 名称
    QString music;                // 音乐
    BellStatus result = BellStatus::Done; // 结果
    std::optional<qint64> delayMs; // 延迟: scheduled second to sound; none when it did not sound
    QString reason;               // 说明; for 完成 only where it rang elsewhere than chosen
    QString zones = {};           // 分区: the bell's zone names joined with "、"; empty: 铃声输出
    // 播放中: the bell still sounds, until its end is told (ended()); a run
    // killed meanwhile leaves a record that says its bell never ended.
    bool sounding = false;
    // 条目: the id of the entry that rang; none in a file of an older
    // version. A reload of the list finds the bell's outcome by it.
    std::optional<qint64> entryId = std::nullopt;
};

// What one day's records say of its bells, for the day's list. A record
// goes to its bell by the entry's id and second; one without an id (an
// older file), or whose id is no longer listed (a timetable switch or an
// import gave the entries new ids), by its second and name.
struct DayOutcomes {
    QHash<BellKey, BellStatus> byKey;                 // (entry id, second) → the latest result
    QHash<QPair<qint64, QString>, BellStatus> byBell; // (second, name) → the latest result
    QSet<qint64> soundedSeconds;                      // seconds at which a bell sounded
    // A bell without a record of its own sounded with its twin of the same
    // second, if one did; else it was never tried (已过). A record another
    // run left sounding reads 中断: that run ended while its bell sounded.
    BellStatus of(const BellKey &key, const QString &name) const;
    // By second and name alone (records read without a list).
    BellStatus of(qint64 seconds, const QString &name) const { return of(BellKey{0, seconds}, name); }
};

class RingHistory {
public:
    // Records older than this many days are removed at start-up.
    static constexpr int kKeepDays = 400;
    // A store that cannot be written keeps at most this many records queued.
    static constexpr int kMaxQueued = 1000;

    // 说明 of a bell still sounding when the program ended, and of one whose
    // run ended without closing its record (a kill, a crash, a power cut),
    // closed at the next start.
    static inline const QString kEndedReason = QStringLiteral("程序退出，铃声没有播完。");
    static inline const QString kCutReason = QStringLiteral("程序意外中止，铃声没有播完。");
    // The file of the records the store did not take before the program ended.
    static inline const QString kWaitingFile = QStringLiteral("打铃记录待写入.json");

    explicit RingHistory(BellStore &store) : m_store(store) {}

    // Queues a record; returns a handle for amend().
    int record(const RingRecord &r);
    // Changes the outcome of a queued or written record (a bell cut off).
    void amend(int handle, BellStatus result, const QString &reason);
    // The bell of a record made sounding has stopped: the record no longer
    // says it sounds.
    void ended(int handle);
    // Changes the delay of a queued or written record (the output's own
    // latency, known a moment after the start).
    void amendDelay(int handle, qint64 delayMs);
    // A record amended long after it was written (an emergency that lasts
    // while many bells are recorded) is kept for amend() until released.
    void keep(int handle, bool on);
    // Writes what is queued. Never throws; returns false when something is
    // still queued (the store was busy, read-only or closed).
    bool flush();
    int queued() const;
    // The store's text for the last flush that left records queued (empty
    // after one that wrote everything).
    QString lastError() const { return m_lastError; }
    // Called after a flush wrote at least one record (a window that shows
    // the records reads them again).
    std::function<void()> onWritten;

    // One day's records by scheduled time, and a range of days (both ends
    // included). No table yet: no records. Store failures throw StoreError.
    QList<RingRecord> day(const QDate &date) const { return between(date, date); }
    QList<RingRecord> between(const QDate &from, const QDate &to) const;
    // The day's outcomes from its stored records and from those still
    // queued (not yet written, or amended since), for a list of the entries
    // with the ids listed. Store failures throw.
    DayOutcomes outcomes(const QDate &date, const QSet<qint64> &listed = {}) const;
    // Removes the records older than kKeepDays before today; returns how
    // many, or -1 when the store could not be written.
    int prune(const QDate &today);

    static QString dateText(const QDate &d) { return d.toString(QStringLiteral("yyyy-MM-dd")); }
    // A record as the log names it: date, second, name, result.
    static QString describe(const RingRecord &r);

    // At start: the records a previous run left sounding (it was killed,
    // crashed or lost power while their bells sounded) become 中断 with
    // kCutReason, each the same record, amended. Returns how many; never
    // throws.
    int closeUnended();
    // Where the records waiting at the program's end are kept: beside the
    // store, else (data/ not writable, the disk full) in the user's state
    // folder ($XDG_STATE_HOME/daling, by default ~/.local/state/daling).
    static QStringList waitingPlaces(const QString &dataFolder);
    // The program ends: the bell still sounding is cut (中断), the queue is
    // written, and what the store does not take goes to the first of the
    // places that takes the file. False when records were lost (each one
    // logged).
    bool closeAtEnd(const QStringList &places);
    // Writes the queued records to the first place that takes them and
    // removes the other waiting files; nothing queued: removes them all.
    bool saveWaiting(const QStringList &places);
    // Queues the records of the waiting files (a previous run's); each file
    // goes once a flush has written everything. Returns how many.
    int loadWaiting(const QStringList &places);

private:
    struct Item {
        RingRecord rec;
        bool dirty = true;
        bool kept = false;
    };
    void ensureTable();
    // Whether jilu has its 分区, 播放中 or 条目 column (a file of an older
    // version read without writing has not).
    static inline const QString kZoneColumn = QStringLiteral("分区");
    static inline const QString kSoundingColumn = QStringLiteral("播放中");
    static inline const QString kEntryColumn = QStringLiteral("条目");
    bool hasColumn(const QString &name) const;
    // The records the condition picks (its :names bound from binds), whole,
    // in the order of date, time and id. Throws StoreError.
    QList<RingRecord> select(const QString &where, const QVariantMap &binds) const;
    bool write(Item &item);
    BellStore &m_store;
    void removeWaitingFiles(const QString &except = {});
    QMap<int, Item> m_items; // queued, and the last few written (they may still be amended)
    int m_nextHandle = 1;
    QString m_lastError;
    QStringList m_waitingFiles;  // read at start, removed once written
};
