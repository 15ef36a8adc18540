#include "broadcastplayer.h"

#include "audiolog.h"

#include <QScopeGuard>
#include <QScopedValueRollback>
#include <algorithm>
#include <set>
#include <utility>

BroadcastPlayer::BroadcastPlayer(std::unique_ptr<AudioPlayer> broadcastOutput,
                                 ZonePlayerFactory makeZonePlayer, QObject *parent)
    : AudioPlayer(parent), m_main(std::move(broadcastOutput)),
      m_pool([make = std::move(makeZonePlayer)](const QString &device) -> std::unique_ptr<AudioPlayer> {
          return make ? make(Zone{0, {}, device, 0}) : nullptr;
      }),
      m_group([this](const SoundTarget &t) { return playerOf(t); })
{
    connect(&m_group, &OutputGroup::ready, this, &BroadcastPlayer::zoneReady);
    connect(&m_group, &OutputGroup::silent, this, &BroadcastPlayer::zoneSilent);
    m_live.append(Live{Zone{}, m_main.get()});
    // 广播输出 is one player as it always was: its news passes unchanged.
    connect(m_main.get(), &AudioPlayer::opened, this, [this] {
        if (!inZones())
            emit opened();
    });
    connect(m_main.get(), &AudioPlayer::openFailed, this,
            [this](const QString &text, AudioError::Cause cause) {
                if (!inZones())
                    emit openFailed(text, cause);
            });
    watch(m_main.get());
}

BroadcastPlayer::~BroadcastPlayer()
{
    // The zones' players go first: none of their news may reach a half-gone
    // object.
    for (AudioPlayer *p : std::as_const(m_zonePlayers))
        p->disconnect(this);
    m_main->disconnect(this);
}

void BroadcastPlayer::watch(AudioPlayer *p)
{
    connect(p, &AudioPlayer::ended, this, [this, p](bool interrupted) { playerEnded(p, interrupted); });
}

void BroadcastPlayer::setZones(const QList<Zone> &zones)
{
    m_zones = zones;
    prune();
}

void BroadcastPlayer::prune()
{
    // The file open now stays in its zones until the next one.
    std::set<PlayerPool::Key> keep;
    for (const Zone &z : std::as_const(m_zones))
        keep.insert({z.id, z.output});
    for (const Live &l : std::as_const(m_live))
        keep.insert({l.zone.id, l.zone.output});
    for (const auto &[zone, p] : std::as_const(m_pending))
        keep.insert({zone.id, zone.output});
    m_pool.keepOnly(keep);
}

void BroadcastPlayer::forget(AudioPlayer *p)
{
    m_zonePlayers.removeAll(p);
    m_seekLag.remove(p);
    const auto pending = std::remove_if(m_pending.begin(), m_pending.end(), [p](const auto &z) { return z.second == p; });
    const auto live = std::remove_if(m_live.begin(), m_live.end(), [p](const Live &l) { return l.player == p; });
    const bool changed = pending != m_pending.end() || live != m_live.end();
    m_pending.erase(pending, m_pending.end());
    m_live.erase(live, m_live.end());
    if (changed)
        emit outputsChanged();
}

QList<BroadcastPlayer::Output> BroadcastPlayer::outputs() const
{
    QList<Output> list;
    for (const Live &l : m_live)
        list.append({l.zone.id, l.player});
    return list;
}

AudioPlayer *BroadcastPlayer::playerOf(const SoundTarget &zone)
{
    // Kept to the zone's output by the pool: when it goes, its player stops
    // (and the zone is left out) instead of sounding in another building.
    AudioPlayer *raw = m_pool.player(zone.zone, zone.device);
    if (raw && !m_zonePlayers.contains(raw)) {
        m_zonePlayers << raw;
        raw->setVolume(m_volume);
        watch(raw);
        connect(raw, &QObject::destroyed, this, [this, raw] { forget(raw); });
    }
    return raw;
}

void BroadcastPlayer::skip(const Zone &zone, const QString &reason)
{
    qCWarning(lcAudio).noquote() << "the broadcast is silent in zone" << zone.name << ":" << reason;
    m_skipped.append(OutputGroup::silentText(zone.name, reason));
}

void BroadcastPlayer::admit(const Zone &zone, AudioPlayer *p)
{
    // In the order the zones were chosen: the first is the one shown.
    const auto order = [this](qint64 id) {
        return std::find_if(m_zones.begin(), m_zones.end(), [id](const Zone &z) { return z.id == id; })
            - m_zones.begin();
    };
    auto at = std::find_if(m_live.begin(), m_live.end(),
                           [&](const Live &l) { return order(l.zone.id) > order(zone.id); });
    m_live.insert(at, Live{zone, p});
}

void BroadcastPlayer::open()
{
    close();
    m_skipped.clear();
    m_failure.reset();
    if (!inZones()) {
        m_live = {Live{Zone{}, m_main.get()}};
        prune();
        emit outputsChanged();
        m_main->setFileName(m_file);
        m_main->open();
        return;
    }
    m_live.clear();
    prune();
    m_fileError.reset();
    m_opened = m_zones;
    QList<SoundTarget> targets;
    for (const Zone &z : std::as_const(m_opened))
        targets << SoundTarget{z.id, z.name, z.output, 0, true};
    OutputGroup::Options opening;
    opening.hold = true; // started by play(), as one player would be
    {
        const QScopedValueRollback inOpen(m_openingZones, true);
        m_group.play(m_file, targets, opening);
    }
    for (int i = 0; i < m_opened.size(); ++i)
        if (m_group.state(i) == OutputGroup::State::Loading)
            m_pending.append({m_opened[i], m_group.player(i)});
    emit outputsChanged();
    if (!m_pending.isEmpty())
        throw AudioError(m_file, AudioError::Cause::Pending);
    if (m_live.isEmpty()) {
        // The same file fails everywhere: that is the file, not the zones.
        if (m_fileError)
            throw *m_fileError;
        throw AudioError(m_failure ? m_failure->text() : kNoPlayerReason, AudioError::Cause::Output);
    }
}

void BroadcastPlayer::zoneReady(int index)
{
    if (index >= m_opened.size())
        return;
    AudioPlayer *p = m_group.player(index);
    if (m_openingZones) {
        admit(m_opened[index], p);
        return;
    }
    const auto it = std::find_if(m_pending.begin(), m_pending.end(), [p](const auto &z) { return z.second == p; });
    if (it == m_pending.end())
        return;
    m_pending.erase(it);
    admit(m_opened[index], p);
    pendingDone();
}

void BroadcastPlayer::zoneSilent(int index, const QString &why, bool outputFailed, AudioError::Cause cause)
{
    if (index >= m_opened.size())
        return;
    AudioPlayer *p = m_group.player(index);
    if (!m_openingZones) {
        const auto it = std::find_if(m_pending.begin(), m_pending.end(), [p](const auto &z) { return z.second == p; });
        if (it == m_pending.end())
            return;
        m_pending.erase(it);
    }
    m_failure = AudioError(why, cause);
    if (!outputFailed && !m_fileError)
        m_fileError = m_failure;
    skip(m_opened[index], why);
    if (!m_openingZones)
        pendingDone();
}

void BroadcastPlayer::pendingDone()
{
    if (!m_pending.isEmpty())
        return;
    emit outputsChanged();
    if (!m_live.isEmpty())
        emit opened();
    else
        emit openFailed(m_failure ? m_failure->text() : kNoPlayerReason,
                        m_failure ? m_failure->cause() : AudioError::Cause::Output);
}

void BroadcastPlayer::close()
{
    const bool sounded = (mode() == Mode::Playing || mode() == Mode::Paused);
    const auto tell = qScopeGuard([this, sounded] {
        if (sounded)
            emit stopped();
    });
    m_group.stop(); // no late news of the zones' last open
    for (const auto &[zone, p] : std::as_const(m_pending))
        p->close();
    m_pending.clear();
    for (const Live &l : std::as_const(m_live))
        l.player->close();
}

AudioPlayer &BroadcastPlayer::requireOpen() const
{
    AudioPlayer *p = reference();
    if (!p || !m_pending.isEmpty())
        throw AudioError(QString::fromLatin1(kNoDeviceOpen));
    return *p;
}

void BroadcastPlayer::onEach(const std::function<void(AudioPlayer &)> &op)
{
    requireOpen();
    if (!inZones()) {
        op(*m_main);
        return;
    }
    std::optional<AudioError> last;
    bool dropped = false;
    for (int i = 0; i < m_live.size();) {
        try {
            op(*m_live[i].player);
            ++i;
        } catch (const AudioError &e) {
            last = e;
            m_failure = e;
            skip(m_live[i].zone, e.text());
            m_live[i].player->close();
            m_live.removeAt(i);
            dropped = true;
        }
    }
    if (dropped)
        emit outputsChanged();
    if (m_live.isEmpty() && last)
        throw *last;
}

void BroadcastPlayer::play()
{
    const std::optional<qint64> from = std::exchange(m_start, std::nullopt);
    onEach([from](AudioPlayer &p) {
        if (from)
            p.setStartPosition(*from);
        p.play();
    });
}

void BroadcastPlayer::stop()
{
    const bool sounded = (mode() == Mode::Playing || mode() == Mode::Paused);
    onEach([](AudioPlayer &p) { p.stop(); });
    if (sounded)
        emit stopped();
}

void BroadcastPlayer::pause()
{
    onEach([](AudioPlayer &p) { p.pause(); });
}

void BroadcastPlayer::seek(qint64 ms)
{
    onEach([ms](AudioPlayer &p) { p.seek(ms); });
}

qint64 BroadcastPlayer::length() const { return requireOpen().length(); }

qint64 BroadcastPlayer::position() const
{
    return m_pending.isEmpty() && reference() ? reference()->position() : 0;
}

AudioPlayer::Mode BroadcastPlayer::mode() const
{
    return m_pending.isEmpty() && reference() ? reference()->mode() : Mode::NotReady;
}

bool BroadcastPlayer::interrupted() const
{
    return reference() && reference()->interrupted();
}

void BroadcastPlayer::setVolume(int percent)
{
    m_volume = std::clamp(percent, 0, 100);
    m_main->setVolume(m_volume);
    for (AudioPlayer *p : std::as_const(m_zonePlayers))
        p->setVolume(m_volume);
}

int BroadcastPlayer::volume() const
{
    return reference() ? reference()->volume() : m_volume;
}

QString BroadcastPlayer::missingOutput() const
{
    // Only 广播输出 falls back to the default output; a zone never does.
    return inZones() ? QString() : m_main->missingOutput();
}

void BroadcastPlayer::setConfinedTo(const QString &folder)
{
    m_main->setConfinedTo(folder);
}

qint64 BroadcastPlayer::outputLatencyMs() const
{
    return reference() ? reference()->outputLatencyMs() : 0;
}

void BroadcastPlayer::playerEnded(AudioPlayer *p, bool interrupted)
{
    const auto it = std::find_if(m_live.begin(), m_live.end(), [p](const Live &l) { return l.player == p; });
    if (it == m_live.end())
        return;
    // A zone whose output died goes silent alone while others play on.
    if (interrupted && inZones() && m_live.size() > 1) {
        skip(it->zone, kInterruptedReason);
        m_live.erase(it);
        emit outputsChanged();
        return;
    }
    // The first zone's end is the file's end: the others end with it.
    if (it == m_live.begin())
        emit ended(interrupted);
}
