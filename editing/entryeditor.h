#pragma once
// The bell entry editor without widgets: the one record the dialog writes
// (located, changed or new), the checks of a save, the save itself, and what
// the file chooser's answer means for the fields. The dialog
// TFormEditDaLing shows it and forwards its handlers here.
#include "audioplayer.h"
#include "bellstore.h"

#include <QObject>
#include <array>
#include <optional>

// The dialog's fields as typed.
struct EntryFields {
    QString hour, minute, second, name, music, duration, remark;
    std::array<bool, 7> days{}; // 日 … 六
    QList<qint64> zones = {};   // the zones checked, by id
};

class EntryEditor : public QObject {
    Q_OBJECT
public:
    static inline const QString kNoMusic = QStringLiteral("必须选择音乐文件");
    static inline const QString kCannotPlay = QStringLiteral("系统不支持该音乐文件！");
    static inline const QString kTimeTooLarge = QStringLiteral("时间的数字太大，无法保存，请重新输入");
    static inline const QString kPastMidnight = QStringLiteral("时间不能超过 23:59:59，请重新输入");
    // A bell without a weekday would never ring.
    static inline const QString kNoWeekday = QStringLiteral("请至少选择一个星期。");
    // Shown in 时长 while the player still reads the file.
    static inline const QString kReading = QStringLiteral("正在读取…");
    static QString notInMusicFolder(const QString &name);
    static QString copyFirst(const QString &path, const QString &folder);

    // Browse: nothing pending (the located entry, if any, as stored). Edit:
    // a change of the located entry is being saved. Insert: a new entry.
    enum class RecordState { Browse, Edit, Insert };
    enum class Field { Hour, Minute, Second, Music, Days };
    // A save refused: the error box's text and the field to go back to.
    struct Refusal {
        Field field;
        QString text;
    };
    // What a file chosen in the chooser does to the fields: 音乐 takes
    // `music` (empty: cleared), 时长 takes `duration` when set, and a
    // non-empty `message` is shown in a plain box.
    struct Choice {
        QString music;
        std::optional<QString> duration;
        QString message;
    };

    // `player` only opens a file to measure it, never plays; `musicFolder`
    // ends in '/'.
    EntryEditor(BellStore &store, AudioPlayer &player, const QString &musicFolder,
                QObject *parent = nullptr);

    RecordState recordState() const { return m_state; }
    const std::optional<BellEntry> &record() const { return m_record; }

    // A new entry: no row, insert state. Asks the store for no row, so that
    // a dead database is reported before the operator types a whole entry.
    void beginInsert();
    // Locates the entry with that id text (the empty text locates none).
    const std::optional<BellEntry> &locate(const QString &idText);
    // Deletes the entry at once; throws StoreError when no row has it.
    void deleteRecord(const QString &idText);

    // Checks and saves the fields: a located entry is changed, otherwise a
    // new one is added. Returns the refusal, or nothing when saved (then in
    // browse state with record() as stored). Store failures and numbers
    // too large to be a time throw AppError.
    std::optional<Refusal> save(const EntryFields &fields);
    // Closing: an unsaved change or new entry is dropped, a measurement
    // still going on is given up.
    void close();

    Choice choose(const QString &path);
    bool measuring() const { return m_measuring; }

    // The day buttons for a stored 周期. Read as schools write it first, so
    // that "工作日" or "周一至周五" left by an older import shows its days; a
    // text that cannot be read shows the weekday characters it holds.
    static std::array<bool, 7> storedDays(const QString &weekdays);

    // The digits of a time field as a number; throws AppError naming the
    // field (`what`) when they do not fit in 64 bits.
    static qint64 fieldValue(const QString &digits, const QString &what);
    // hours × 3600 + minutes × 60 + seconds, nullopt when beyond 64 bits.
    static std::optional<qint64> checkedTime(qint64 h, qint64 m, qint64 s);

signals:
    // The player finished measuring the chosen file: 时长 in seconds (empty
    // when no sound output could tell), or the file cannot be played
    // (`message` for a plain box; 音乐 is to be cleared).
    void measured(const QString &duration);
    void measureFailed(const QString &message);

private:
    void stopMeasuring();

    BellStore &m_store;
    AudioPlayer &m_player;
    QString m_folder;
    RecordState m_state = RecordState::Browse;
    std::optional<BellEntry> m_record;
    bool m_measuring = false;
};
