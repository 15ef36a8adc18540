#pragma once
// The ad-hoc broadcast's player: one AudioPlayer to the window, sounding
// either on 广播输出 (its own player, as always) or in a set of zones, one
// player per zone and output from its pool, made when first needed; a zone
// no longer chosen, or whose output changed, lets its player go once it is
// idle.
//
// In zones every operation goes to every zone that plays: all open first,
// then all start together; stop, pause, seek and the start position act on
// all. Mode, position, length and the file's end are the first playing
// zone's. keepInStep(), called at the position bar's pace, brings back a
// zone that has drifted from the first one by more than kStepMs, and
// restarts one that is a second off or has gone quiet.
//
// A zone whose output is missing, fails or dies is left out with a note
// (skipped()) and the others play on. It never falls back to the system's
// default output: that would be another building. Only when no zone can play
// does an operation throw, as one player would.
#include "audioplayer.h"
#include "outputgroup.h"
#include "playerpool.h"
#include "zonestore.h"

#include <QHash>
#include <QList>
#include <functional>
#include <memory>
#include <optional>

class BroadcastPlayer : public AudioPlayer {
    Q_OBJECT
public:
    // Makes the player of a zone's output; nullptr when it cannot.
    using ZonePlayerFactory = std::function<std::unique_ptr<AudioPlayer>(const Zone &zone)>;

    // A zone drifted further than this from the first is sought back.
    static constexpr qint64 kStepMs = 40;
    // The drift is the median of this many checks: positions read under a
    // busy machine jump by tens of milliseconds now and then.
    static constexpr int kStepSamples = 5;
    // Checks left alone after a seek, while the zone's sound and the
    // positions it reports settle.
    static constexpr int kStepSettleChecks = 20;
    // Seeks per zone and file. A seek is heard a moment late: what the first
    // one leaves over is learnt and added to the next. A zone that still
    // will not keep step is left as it is rather than cut again and again.
    static constexpr int kStepMaxSeeks = 3;
    // A zone further off than this (or silent while the first plays on) is
    // no drift but a zone that lost its place: it is restarted at the
    // first's position, however often, never left silent or far off.
    static constexpr qint64 kRestartMs = 1000;

    // Why a zone stayed silent, for the window's note.
    static QString missingOutputReason(const QString &device) { return OutputGroup::missingOutputReason(device); }
    static inline const QString &kNoPlayerReason = OutputGroup::kNoPlayerReason;
    static inline const QString kInterruptedReason = QStringLiteral("声音输出在播放中途中断");
    // "以下分区没有播出：乙（…）；丙（…）", empty when every zone plays.
    static QString noteText(const QStringList &zonesAndReasons)
    {
        return zonesAndReasons.isEmpty() ? QString() : OutputGroup::silentZonesText(zonesAndReasons);
    }

    BroadcastPlayer(std::unique_ptr<AudioPlayer> broadcastOutput, ZonePlayerFactory makeZonePlayer,
                    QObject *parent = nullptr);
    ~BroadcastPlayer() override;

    // Where the next open() plays: these zones, or 广播输出 when empty.
    void setZones(const QList<Zone> &zones);
    QList<Zone> zones() const { return m_zones; }

    // A player that sounds the file now: zone 0 is 广播输出.
    struct Output {
        qint64 zone = 0;
        AudioPlayer *player = nullptr;
    };
    // Those in use since the last open(), the first zone's first.
    QList<Output> outputs() const;
    // The zones of the last open() that stay silent, each "名称（why）".
    QStringList skipped() const { return m_skipped; }
    // The player that is 广播输出 (its output is set through setOutputDevice()).
    AudioPlayer &broadcastOutput() { return *m_main; }

    void keepInStep();

    void setFileName(const QString &path) override { m_file = path; }
    QString fileName() const override { return m_file; }
    void open() override;
    bool opening() const override { return !m_pending.empty(); }
    void close() override;
    void play() override;
    void stop() override;
    void pause() override;
    void seek(qint64 ms) override;
    void setStartPosition(qint64 ms) override { m_start = ms; }
    qint64 length() const override;
    qint64 position() const override;
    Mode mode() const override;
    bool interrupted() const override;
    void setVolume(int percent) override;
    int volume() const override;
    void setOutputDevice(const QString &name) override { m_main->setOutputDevice(name); }
    QString outputDevice() const override { return m_main->outputDevice(); }
    QString missingOutput() const override;
    QList<AudioOutputDevice> outputDevices() override { return m_main->outputDevices(); }
    void setConfinedTo(const QString &folder) override;
    qint64 outputLatencyMs() const override;

signals:
    // outputs() or skipped() changed.
    void outputsChanged();

private:
    struct Live {
        Live(Zone z, AudioPlayer *p) : zone(std::move(z)), player(p) {}
        Zone zone; // id 0: 广播输出
        AudioPlayer *player = nullptr;
        QList<qint64> drifts; // its position less the first's, last checks
        int settle = 0;       // checks still to leave alone
        int seeks = 0;        // brought back into step, with this file
    };
    bool inZones() const { return !m_zones.isEmpty(); }
    AudioPlayer *reference() const { return m_live.isEmpty() ? nullptr : m_live.first().player; }
    AudioPlayer &requireOpen() const;
    AudioPlayer *playerOf(const SoundTarget &zone);
    void watch(AudioPlayer *p);
    // A zone's player has its file open (on its own output: the group has
    // seen to that): it plays with the others.
    void admit(const Zone &zone, AudioPlayer *p);
    void skip(const Zone &zone, const QString &reason);
    // Runs op on every zone that plays; a zone that fails is left out. Throws
    // the last failure when none is left.
    void onEach(const std::function<void(AudioPlayer &)> &op);
    // What the group tells of the zones of the last open().
    void zoneReady(int index);
    void zoneSilent(int index, const QString &why, bool outputFailed, AudioError::Cause cause);
    void pendingDone();
    void playerEnded(AudioPlayer *p, bool interrupted);
    // Starts a zone again at the first's position (kRestartMs).
    void restartAt(Live &l, qint64 position, const QString &why);

    std::unique_ptr<AudioPlayer> m_main;
    // By zone id and output: a zone whose output changed gets a new one.
    PlayerPool m_pool;
    QList<AudioPlayer *> m_zonePlayers; // those of the pool watched here
    // Opens the file in the zones, one player each, and tells what each did.
    OutputGroup m_group;
    QList<Zone> m_opened;          // the zones of the last open(), the group's targets
    bool m_openingZones = false;   // inside open(): it sorts out the outcome itself
    std::optional<AudioError> m_fileError; // the file failed in some zone
    // A player the pool let go: nothing here may point at it any more.
    void forget(AudioPlayer *p);
    // Lets go of the players of zones neither chosen nor holding the file.
    void prune();
    QList<Zone> m_zones;
    QString m_file;
    std::optional<qint64> m_start;
    int m_volume = 100;
    QList<Live> m_live;
    QList<std::pair<Zone, AudioPlayer *>> m_pending; // zones whose open goes on
    std::optional<AudioError> m_failure;             // why the last zone failed
    QStringList m_skipped;
    // How much later than asked each zone's player is heard after a seek.
    QHash<AudioPlayer *, qint64> m_seekLag;
};
