// Bells with zones: one player per zone, made when first needed, all started
// at the bell's second. A zone whose output is missing, down or stalled only
// silences itself; the bell is 部分播出 when some zone stayed silent and 失败
// (retried in the catch-up window like any bell) when none was heard.
#include "ringengine.h"

#include "logging.h"
#include "secondsofday.h"

void RingEngine::setZones(const QList<Zone> &zones)
{
    QHash<qint64, Zone> next;
    for (const Zone &z : zones)
        next.insert(z.id, z);
    // A zone whose output changed gets a new player when next needed.
    for (auto it = m_zonePlayers.begin(); it != m_zonePlayers.end();)
        it = next.value(it.key()).output != m_zones.value(it.key()).output ? m_zonePlayers.erase(it)
                                                                           : std::next(it);
    m_zones = std::move(next);
}

AudioPlayer *RingEngine::playerOfZone(const Zone &zone)
{
    if (AudioPlayer *p = m_zonePlayers.value(zone.id))
        return p;
    AudioPlayer *p = zonePlayer ? zonePlayer(zone) : nullptr;
    if (!p)
        return nullptr;
    m_zonePlayers.insert(zone.id, p);
    if (!m_watched.contains(p)) {
        m_watched.insert(p);
        watch(p);
    }
    return p;
}

bool RingEngine::hasKnownZone(const QList<qint64> &zones) const
{
    return std::any_of(zones.begin(), zones.end(), [this](qint64 z) { return m_zones.contains(z); });
}

void RingEngine::stopZones(const QSet<AudioPlayer *> &keep)
{
    for (AudioPlayer *p : std::as_const(m_zonePlayers)) {
        if (!p->isPlaying() || keep.contains(p))
            continue;
        try {
            p->stop();
        } catch (const std::exception &e) {
            qCDebug(lcRing) << "stopping a zone's bell:" << e.what();
        }
    }
}

void RingEngine::prepareZones(const BellKey &key, qint64 dayStart, const QString &path)
{
    m_zonePrepared = ZonePrepared{key, dayStart, path, {}, {}};
    const int index = m_day.indexOf(key);
    if (index < 0)
        return;
    const QDateTime now = m_clock.now();
    const qint64 nowMs = now.date().toJulianDay() * 86400000LL + now.time().msecsSinceStartOfDay();
    const qint64 dueMs = (dayStart + key.seconds) * 1000;
    for (qint64 id : m_day.entry(index).zones) {
        const auto zone = m_zones.constFind(id);
        if (zone == m_zones.constEnd())
            continue;
        AudioPlayer *p = playerOfZone(*zone);
        // A zone still sounding the bell before keeps it to the second.
        if (!p || p->mode() == AudioPlayer::Mode::Playing || p->mode() == AudioPlayer::Mode::Paused)
            continue;
        try {
            p->close();
            p->setFileName(path);
            p->open();
        } catch (const std::exception &e) {
            // Tried again at the bell's second, which names the zone if it fails.
            qCDebug(lcRing) << "opening ahead in zone" << zone->name << "failed:" << e.what();
            continue;
        }
        if (!p->missingOutput().isEmpty()) {
            p->close(); // never started on the default output: its second names it
            continue;
        }
        m_zonePrepared->opened.insert(id, p);
        if (zone->leadMs > 0)
            QTimer::singleShot(int(std::max<qint64>(0, dueMs - zone->leadMs - nowMs)), Qt::PreciseTimer,
                               this, [this, key, dayStart, id] { startEarly(key, dayStart, id); });
    }
}

void RingEngine::startEarly(const BellKey &key, qint64 dayStart, qint64 zone)
{
    if (!m_zonePrepared || m_zonePrepared->key != key || m_zonePrepared->dayStart != dayStart
        || !m_board.running() || held())
        return;
    AudioPlayer *p = m_zonePrepared->opened.value(zone);
    if (!p || p->fileName() != m_zonePrepared->path || p->mode() != AudioPlayer::Mode::Stopped)
        return;
    try {
        p->play();
        if (p->isPlaying())
            m_zonePrepared->early.insert(p);
    } catch (const std::exception &e) {
        // The bell's second tries this zone again.
        qCDebug(lcRing) << "early start of a zone failed:" << e.what();
    }
}

void RingEngine::ringZones(const Bell &bell, qint64 dayStart, qint64 nowAbs)
{
    std::optional<ZonePrepared> prep = std::exchange(m_zonePrepared, std::nullopt);
    if (prep && (prep->key != bell.key || prep->dayStart != dayStart))
        prep.reset();
    const QString path = m_board.paths().musicFile(bell.music);
    QList<AudioPlayer *> heard;
    QStringList silent;
    std::optional<AudioError> outputError;
    for (qint64 id : bell.zones) {
        const auto zone = m_zones.constFind(id);
        if (zone == m_zones.constEnd())
            continue; // deleted meanwhile: the next reload drops it
        AudioPlayer *p = playerOfZone(*zone);
        if (!p) {
            silent << QStringLiteral("%1（声音输出无法使用）").arg(zone->name);
            continue;
        }
        try {
            const bool early = prep && prep->early.contains(p) && p->isPlaying(); // by its 提前
            const bool opened = prep && prep->opened.value(id) == p && p->fileName() == path
                && p->mode() == AudioPlayer::Mode::Stopped && p->position() == 0;
            if (!early && !opened) {
                p->close();
                p->setFileName(path);
                if (!AppPaths::isBareFileName(bell.music))
                    throw AudioError(QStringLiteral("not a file of the music folder: ") + bell.music);
                p->open();
            }
            // It would sound on the default output, in the wrong place: the
            // zone stays silent (checked before the start, so not a moment
            // of it is heard elsewhere).
            if (const QString missing = p->missingOutput(); !missing.isEmpty()) {
                p->close();
                silent << QStringLiteral("%1（声音输出「%2」不存在）")
                              .arg(zone->name, outputLabel ? outputLabel(missing) : missing);
                continue;
            }
            if (!early) {
                m_board.setProgressMax(p->length());
                p->play();
                if (!p->isPlaying())
                    throw AudioError(QStringLiteral("the player did not start ") + path);
            }
            heard << p;
        } catch (const AudioError &e) {
            if (e.isOutputFailure() && !outputError)
                outputError = e;
            silent << QStringLiteral("%1（%2）").arg(zone->name, BellBoard::ringFailureText(e));
        } catch (const std::exception &e) {
            silent << QStringLiteral("%1（%2）").arg(zone->name, BellBoard::ringFailureText(e));
        }
    }
    if (heard.isEmpty()) {
        const QString message = silent.isEmpty()
            ? QStringLiteral("铃声的分区都已删除，没有播放。")
            : QStringLiteral("铃声在所有分区都没有播出：%1").arg(silent.join(QStringLiteral("；")));
        startFailed(bell, outputError ? &*outputError : nullptr, message, nowAbs);
        return;
    }
    started(heard.first(), bell, dayStart, silent);
}
