#pragma once
// What the main window shows and the ring engine works on, without widgets:
// the mode, the test state, the day's bells, the right-hand boxes and what
// the grid needs beyond the bells (its rows, the selection, the blink).
// Each setter announces a change of what the frame shows; the frame mirrors
// the board into its widgets whenever changed() fires.
#include "apppaths.h"
#include "bellstatus.h"
#include "bellstore.h"
#include "dayplan.h"
#include "dayschedule.h"
#include "seams.h"

#include <QObject>
#include <functional>
#include <optional>

class RingHistory;

class BellBoard : public QObject {
    Q_OBJECT
public:
    BellBoard(BellStore &store, const Clock &clock, const AppPaths &paths, QObject *parent = nullptr);

    BellStore &store() { return m_store; }
    const Clock &clock() const { return m_clock; }
    const AppPaths &paths() const { return m_paths; }
    DaySchedule &day() { return m_day; }
    const DaySchedule &day() const { return m_day; }

    // Captions the operator sees; the mode and the test state follow them.
    static inline const QString kRunCaption = QStringLiteral("停  止");   // running mode
    static inline const QString kStopCaption = QStringLiteral("开  始");  // stopped mode
    static inline const QString kTestCaption = QStringLiteral("测试播放");
    static inline const QString kStopTestCaption = QStringLiteral("停止测试");
    static inline const QString kNotFound = QStringLiteral("找不到该音乐文件，或系统不支持该音乐文件！");
    static inline const QString kNoOutput =
        QStringLiteral("没有可用的声音输出设备，铃声没有播出！请检查音箱、声卡和音量设置。");
    static inline const QString kNoResponse =
        QStringLiteral("声音输出没有响应，铃声没有播出！请检查声卡和声音服务。");
    // What the operator is told when a bell cannot sound: the file's fault,
    // the sound output's, or an output that does not answer.
    static QString ringFailureText(const std::exception &e);

    bool running() const { return m_running; }
    bool testing() const { return m_testing; }
    QString playCaption() const { return m_running ? kRunCaption : kStopCaption; }
    QString checkCaption() const { return m_testing ? kStopTestCaption : kTestCaption; }
    void setRunning(bool on);
    void setTesting(bool on);
    // Which buttons the operator may press, as the mode and the test allow.
    bool editingEnabled() const { return !m_running && !m_testing; } // add, change, delete, export, import
    bool playEnabled() const { return !m_testing; }                  // ButtonPlay
    bool adhocEnabled() const { return !m_testing; }                 // ButtonLinShi
    bool checkEnabled() const { return !m_running; }                 // ButtonCheck

    // The ring cursor as a grid row: the row of the first of today's entries
    // still to come (entry i is row i + 1).
    int nextBellRow() const { return m_day.next() + 1; }
    void setNextBellRow(int row) { m_day.setNext(row - 1); }

    // The grid's rows, header included: the entries and five spare rows
    // (100 before the first list; a reload that finds nothing keeps them).
    int gridRowCount() const { return m_gridRows; }
    int lastRow() const { return m_gridRows - 1; }
    // The entry shown in a grid row; nullptr for the header and spare rows.
    const BellEntry *entryAtRow(int row) const
    {
        return m_day.contains(row - 1) ? &m_day.entry(row - 1) : nullptr;
    }
    // The selected row, never the header row; kept within 1 … last.
    int selectedRow() const { return m_selected; }
    void setSelectedRow(int row);

    // The blink: the bell sounding flashes 播放, else the next one 等待; a
    // bell that did not sound keeps its mark. blink() is one beat.
    void blink(int index, BellStatus kind);
    // The status a bell shows now (its own, or the blink's), and its text.
    BellStatus statusShown(int index) const;
    QString statusText(int row) const { return bellstatus::text(statusShown(row - 1)); }
    // LabelNowTime: the current second as decimal text. Running mode's
    // Refresh reads it only when no ring engine answers for "now" (none
    // is set, or it has not ticked yet; see setRingCutoff).
    QString labelNowTime() const { return m_labelNowTime; }
    void setLabelNowTime(const QString &text) { set(m_labelNowTime, text); }
    qint64 nowSecondsFromLabel() const;
    QString clockText() const { return m_clockText; } // PanelShowTime
    void setClockText(const QString &text) { set(m_clockText, text); }
    QString dateText() const { return m_dateText; }   // PanelDate, written by Refresh
    QString yunXing() const { return m_yunXing; }     // LabelYunXing
    void setYunXing(const QString &text) { set(m_yunXing, text); }
    qint64 progressMax() const { return m_progressMax; }
    void setProgressMax(qint64 max) { set(m_progressMax, max); }
    qint64 progressPos() const { return m_progressPos; }
    void setProgressPos(qint64 pos) { set(m_progressPos, pos); }
    // Set by the editor when it closes: the entries earlier than its time.
    qint64 lastEditedIndex() const { return m_lastEditedIndex; }
    void setLastEditedIndex(qint64 n) { m_lastEditedIndex = n; }

    // Where running mode's Refresh learns what "now" is: the ring engine
    // answers the second up to which it has looked at today's bells
    // (nothing before its first tick). Without an answer, LabelNowTime is
    // read.
    void setRingCutoff(std::function<std::optional<qint64>()> cutoff) { m_ringCutoff = std::move(cutoff); }

    // Reloads the day's list for the current mode: every entry in stopped
    // mode, today's in running mode, where the entries earlier than the
    // ring cutoff are past (完成 if they sounded, their fault if they did
    // not sound as they should, else 已过) and a time that is no second of
    // the day reads 时间无效. Store failures propagate; the list stays.
    void Refresh();
    // The same with another second as the limit of the past (the engine's
    // reload just after midnight, or while a bell's start is still retried).
    void refreshAt(qint64 cutoffSeconds);
    // A list read elsewhere (a window that is the engine's client shows the
    // engine's): shown as a reload shows it, with its date panel's text, the
    // rows and the selection set as a reload sets them.
    void showList(QList<BellEntry> rows, QList<BellStatus> statuses, int next, const QString &dateText);
    // Today's entries as running mode lists them (none on a day off), in
    // either mode. Store failures propagate.
    QList<BellEntry> todaysBells() const;
    // The day's ring records tell a reload how today's past bells went when
    // the list's own marks do not know them (a timetable switch or an import
    // gave the entries new ids, the program was restarted).
    void setHistory(const RingHistory *history) { m_history = history; }
    // " 9月30日 周三" for a date.
    static QString dateTextOf(const QDate &date);

    // The calendar's seam: running mode asks the plan which weekday's
    // entries ring today and what the date panel says. The plan outlives
    // the board; nullptr restores the plain week.
    void setDayPlan(DayPlan *plan) { m_dayPlan = plan ? plan : &m_plainWeek; }

signals:
    // A value the frame shows has changed (the bells announce their own
    // changes through day()).
    void changed();
    // A bell's shown status changed without a change of its own (the blink).
    void bellShownChanged(int index);
    void selectedRowChanged(int row);

private:
    void load(std::optional<qint64> cutoff);
    void place(QList<BellEntry> rows, QList<BellStatus> statuses, int next);
    BellStore &m_store;
    const Clock &m_clock;
    AppPaths m_paths;
    DaySchedule m_day;
    int m_gridRows = 100;
    int m_selected = 1;
    struct Blink {
        int index = -1;
        BellStatus kind = BellStatus::None;
        bool shown = false;
    } m_blink;
    void clearBlink();
    bool m_running = false;
    bool m_testing = false;
    QString m_labelNowTime = QStringLiteral("88888");
    QString m_clockText = QStringLiteral("88:88:88");
    QString m_dateText = QStringLiteral("9月30日");
    QString m_yunXing = QStringLiteral("LabelYunXing");
    qint64 m_progressMax = 100;
    qint64 m_progressPos = 0;
    qint64 m_lastEditedIndex = 0;

    // Every visible value announces its own change.
    template <typename T> void set(T &field, const T &value)
    {
        if (field == value)
            return;
        field = value;
        emit changed();
    }
    const RingHistory *m_history = nullptr;
    std::function<std::optional<qint64>()> m_ringCutoff;
    DayPlan m_plainWeek;
    DayPlan *m_dayPlan = &m_plainWeek;
};
