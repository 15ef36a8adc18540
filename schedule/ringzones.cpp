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

void RingEngine::stopZones()
{
    for (AudioPlayer *p : std::as_const(m_zonePlayers)) {
        if (!p->isPlaying())
            continue;
        try {
            p->stop();
        } catch (const std::exception &e) {
            qCDebug(lcRing) << "stopping a zone's bell:" << e.what();
        }
    }
}

void RingEngine::ringZones(const Bell &bell, qint64 dayStart, qint64 nowAbs)
{
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
            ringFile(m_board, *p, bell.music);
            // Played on the default output instead: heard in the wrong place.
            if (const QString missing = p->missingOutput(); !missing.isEmpty()) {
                p->stop();
                silent << QStringLiteral("%1（声音输出「%2」不存在）")
                              .arg(zone->name, outputLabel ? outputLabel(missing) : missing);
                continue;
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
