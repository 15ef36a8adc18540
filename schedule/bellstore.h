#pragma once
// The bell store: table daling (bell entries) in one SQLite file, which it
// creates with the ad-hoc playlist's table linshi beside it (adhoc/ reads
// and writes that one). Every statement binds its parameters; a
// failing statement throws StoreError with the engine's text.
#include "seams.h"
#include "storesql.h"
#include <QList>
#include <QString>
#include <functional>
#include <optional>

struct BellEntry {
    // What list() reads for a 时间 that is not a whole second of the day
    // (text written by another tool, -1, 86400): listed, never rung.
    static constexpr qint64 kInvalidTime = -1;
    bool hasValidTime() const { return time >= 0 && time < 86400; }

    qint64 id = 0;
    qint64 time = 0;  // SecondsOfDay
    QString name;     // 名称
    QString music;    // 音乐: bare file name in the music folder
    QString weekdays; // 周期
    QString duration; // 时长: whole seconds as text, or empty
    QString remark;   // 备注
    QList<qint64> zones = {}; // 分区: ids, sorted; none rings on 铃声输出
    bool operator==(const BellEntry &) const = default;
};



class BellStore {
public:
    // Each store has its own connection name, so tests may open several.
    BellStore();
    ~BellStore();
    BellStore(const BellStore &) = delete;
    BellStore &operator=(const BellStore &) = delete;

    // Opens the file, creating it and both tables when missing; never
    // overwrites an existing file. Returns the engine's error text, or an
    // empty text on success. After a failure every statement throws. A file
    // that may only be read (read-only file, folder or mount) is opened for
    // reading: isOpen() is then true and the text says what that means.
    QString open(const QString &databasePath);
    // Opens a copy (a backup) for reading only, as the list to ring from
    // while the store itself cannot be used. Returns the engine's error text.
    QString openCopy(const QString &copyPath);
    // Closes the connection; every statement throws until the next open.
    void close();
    bool isOpen() const { return m_open; }
    bool isReadOnly() const { return m_readOnly; }
    QString databasePath() const { return m_path; }

    // --- daling ---
    // "select * from daling where 周期 like :xingqi order by 时间"; a time
    // that is not a whole second of the day reads as kInvalidTime.
    QList<BellEntry> list(const QString &xingqi) const;
    // The entry whose id equals the text; the empty text selects nothing.
    std::optional<BellEntry> entry(const QString &idText) const;
    // Inserts and returns the new id (entry.id is ignored).
    qint64 insert(const BellEntry &entry);
    // Writes every column but id of the row with entry.id.
    void update(const BellEntry &entry);
    // Deletes the row with that id text; throws when no row has it.
    void remove(const QString &idText);
    // How many entries, of every weekday, lie before the time.
    qint64 countBefore(qint64 time) const;
    // "delete from daling"
    void clear();
    // Deletes every entry and inserts the new ones in one transaction: any
    // failure leaves the old list as it was. perRow runs after each row and
    // may throw to abandon the whole replacement.
    void replaceAll(const QList<BellEntry> &entries,
                    const std::function<void(int row)> &perRow = {});

    // Writes a consistent copy of the whole store to a new file (which must
    // not exist yet) from the open connection: it works also when the file
    // itself was deleted while open. Throws StoreError.
    void copyTo(const QString &path) const;
    // Runs before the list is replaced as a whole (clear, replaceAll, a
    // timetable switch), so that a copy of the old list can be kept first.
    // What it throws is logged, never stops the change.
    void setBeforeListReplaced(std::function<void()> hook) { m_beforeReplace = std::move(hook); }
    void listAboutToBeReplaced();

    // The open connection, for the tables that live beside daling and linshi
    // (settings, history, calendar). Throws StoreError when not open.
    QSqlDatabase database() const;
    // The connection, for tests and benchmarks that look underneath.
    QString connectionName() const { return m_name; }

private:
    // Rewrites 周期 texts that name days in words ("工作日") as the days.
    void canonicalWeekdays();
    QList<BellEntry> withZones(QList<BellEntry> entries) const;
    QString tryOpen(const QString &databasePath, bool readOnly);
    void requireOpen() const;
    QString m_name;
    QString m_path;
    QString m_openError;
    bool m_open = false;
    bool m_readOnly = false;
    std::function<void()> m_beforeReplace;
};
