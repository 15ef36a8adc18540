#pragma once
// The live announcement (实时喊话) as the engine runs it: the operator's
// microphone heard in the chosen zones (none chosen: every zone, or
// 广播输出 where the school has no zones), through LivePager. Its place
// among the sounds is decided here and in the hooks the engine sets:
// emergency > live announcement > bells > ad-hoc broadcast. While it lasts
// its zones are taken from the bells (a bell due there waits and rings
// late, see RingEngine::takeZones) and their amplifiers' relays are on;
// the ad-hoc broadcast learns of it through changed() (the window pauses
// it where it shares the zones). An emergency cuts it, and none starts
// while one lasts.
//
// One ring-history record per announcement, written as soon as it sounds
// (marked sounding) and amended at its end with its length and who
// started it.
#include "livepager.h"
#include "seams.h"
#include "zonestore.h"

#include <QDateTime>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>

class RingHistory;

class PagingService : public QObject {
    Q_OBJECT
public:
    static inline const QString kName = QStringLiteral("实时喊话");
    static inline const QString kHeldReason = QStringLiteral("实时喊话中，没有播出");
    static inline const QString kBroadcastOutput = QStringLiteral("广播输出");
    // Kept in the settings: the input's source name (empty: the system's
    // default input), and whether a chime comes before the voice.
    static inline const QString kInputSetting = QStringLiteral("喊话输入");
    static inline const QString kChimeSetting = QStringLiteral("喊话提示音");
    static inline const QString kEmergencyRefused =
        QStringLiteral("紧急广播进行中，不能实时喊话。请先结束紧急广播。");
    static inline const QString kAlreadyOn = QStringLiteral("实时喊话已经在进行。");
    static inline const QString kNotOn = QStringLiteral("现在没有实时喊话。");
    static inline const QString kCutByEmergency = QStringLiteral("被紧急广播中断");
    static inline const QString kInputLost = QStringLiteral("声音输入中断");
    static QString unknownZoneText(const QString &name)
    {
        return QStringLiteral("没有名为「%1」的分区，实时喊话没有开始。").arg(name);
    }
    // The level is read (and told) this often while it lasts.
    static constexpr int kLevelMs = 200;

    struct Request {
        QStringList zones; // names; empty: every zone (广播输出 without zones)
        QString by;        // who started it, for the record
    };

    explicit PagingService(const Clock &clock, QObject *parent = nullptr);
    ~PagingService() override; // ends it

    void setHistory(RingHistory *history) { m_history = history; }

    // What it needs of the engine; unset ones are skipped.
    std::function<QList<Zone>()> zones;
    std::function<QString()> broadcastOutput; // 广播输出's device
    std::function<QString()> input;           // the source name kept in the settings
    std::function<bool()> chime;
    std::function<bool()> emergencyActive;
    std::function<void(const QList<qint64> &zones, bool everywhere, const QString &reason)> takeZones;
    std::function<void()> giveBackZones;
    // The amplifiers' relays of its zones (every relay: everywhere).
    std::function<void(bool on, const QList<qint64> &zones, bool everywhere)> power;

    // Starts: empty when it sounds (somewhere), else why nothing started in
    // the operator's words. note: what the operator should still know (an
    // input or zones that do not work).
    QString start(const Request &request, QString *note = nullptr);
    // Ends it (with a fade); false when none was going on.
    bool stop(const QString &why = {});

    bool active() const { return m_on; }
    QStringList zoneNames() const { return m_names; }
    QList<qint64> zoneIds() const { return m_ids; }
    bool everywhere() const { return m_everywhere; }
    QDateTime startedAt() const { return m_started; }
    QString startedBy() const { return m_by; }
    QString note() const { return m_note; }
    qint64 elapsedMs() const;
    LivePager::Level lastLevel() const { return m_level; }

    static QString durationText(qint64 ms);

signals:
    void changed(bool active);
    // Every kLevelMs while it lasts.
    void levelRead(float peak, float rms);

private:
    void readLevel();
    QString recordReason(const QString &end) const;

    const Clock &m_clock;
    RingHistory *m_history = nullptr;
    LivePager m_pager;
    QTimer m_levelTimer;
    bool m_on = false;
    QStringList m_names;
    QList<qint64> m_ids;
    bool m_everywhere = false;
    QDateTime m_started;
    QString m_by, m_note;
    int m_record = 0;
    LivePager::Level m_level;
};
