#pragma once
// What the main window shows and the ring engine works on, without widgets:
// the mode, the test state, the ring cursor, the right-hand boxes and the
// grid. The frame mirrors it into its widgets whenever changed() fires.
#include "apppaths.h"
#include "bellstore.h"
#include "dayplan.h"
#include "schedulegrid.h"
#include "seams.h"

#include <QObject>
#include <QSet>

class BellBoard : public QObject {
    Q_OBJECT
public:
    BellBoard(BellStore &store, const Clock &clock, const AppPaths &paths, QObject *parent = nullptr);

    BellStore &store() { return m_store; }
    const Clock &clock() const { return m_clock; }
    const AppPaths &paths() const { return m_paths; }
    ScheduleGrid &grid() { return m_grid; }
    const ScheduleGrid &grid() const { return m_grid; }

    // Captions the operator sees; the mode and the test state follow them.
    static inline const QString kRunCaption = QStringLiteral("停  止");   // running mode
    static inline const QString kStopCaption = QStringLiteral("开  始");  // stopped mode
    static inline const QString kTestCaption = QStringLiteral("测试播放");
    static inline const QString kStopTestCaption = QStringLiteral("停止测试");
    static inline const QString kNotFound = QStringLiteral("找不到该音乐文件，或系统不支持该音乐文件！");
    static inline const QString kNoOutput =
        QStringLiteral("没有可用的声音输出设备，铃声没有播出！请检查音箱、声卡和音量设置。");
    // What the operator is told when a bell cannot sound: the file's fault
    // or the sound output's.
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

    // The ring cursor: the row of the first of today's entries still to come.
    int nextBellRow = 1;
    // LabelNowTime: the current second as decimal text (Refresh reads it).
    QString labelNowTime = QStringLiteral("88888");
    QString clockText = QStringLiteral("88:88:88");   // PanelShowTime
    QString dateText = QStringLiteral("9月30日");      // PanelDate
    QString yunXing = QStringLiteral("LabelYunXing"); // LabelYunXing
    qint64 progressMax = 100;
    qint64 progressPos = 0;
    // Set by the editor when it closes: the entries earlier than its time.
    qint64 lastEditedIndex = 0;
    // Entries of today whose file could not be played: shown "失败".
    QSet<QString> failedIds;

    // Reloads the grid for the current mode. Store failures propagate.
    void Refresh();
    // " 9月30日 周三" for a date.
    static QString dateTextOf(const QDate &date);
    qint64 nowSecondsFromLabel() const;

    // The calendar's seam: running mode asks the plan which weekday's
    // entries ring today and what the date panel says. The plan outlives
    // the board; nullptr restores the plain week.
    void setDayPlan(DayPlan *plan) { m_dayPlan = plan ? plan : &m_plainWeek; }

    // Tells the frame to mirror the state into its widgets.
    void touch() { emit changed(); }

signals:
    void changed();

private:
    BellStore &m_store;
    const Clock &m_clock;
    AppPaths m_paths;
    ScheduleGrid m_grid;
    bool m_running = false;
    bool m_testing = false;
    DayPlan m_plainWeek;
    DayPlan *m_dayPlan = &m_plainWeek;
    bool m_kindShown = false; // the date panel names a day's kind
};
