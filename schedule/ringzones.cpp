// Bells with zones: one player per zone, made when first needed and kept to
// its zone's output, all started at the bell's second (a bell still sounding
// on 铃声输出 is cut, as by any bell). A zone whose output is missing, down
// or stalled only silences itself; the bell is 部分播出 when some zone stayed
// silent or was cut off while another played it to its end, and 失败
// (retried in the catch-up window like any bell) when none was heard. A zone
// whose file still loads starts the moment it has loaded, inside the window;
// loading in every zone, the bell waits for it as a bell on 铃声输出 does.
#include "ringengine.h"

#include "loaderrors.h"
#include "logging.h"
#include "outputgroup.h"
#include "ringhistory.h"
#include "secondsofday.h"
#include "soundserver.h"

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
    // Never moved to another output when the zone's goes: that would be
    // another building.
    p->setNeverElsewhere(true);
    m_zonePlayers.insert(zone.id, p);
    if (!m_watched.contains(p)) {
        m_watched.insert(p);
        watch(p);
        // Let go by its maker (its zone's output changed): its address may
        // come back as another player's.
        connect(p, &QObject::destroyed, this, [this, p] {
            m_watched.remove(p);
            for (auto it = m_zonePlayers.begin(); it != m_zonePlayers.end();)
                it = it.value() == p ? m_zonePlayers.erase(it) : std::next(it);
            if (m_zonePrepared) {
                for (auto it = m_zonePrepared->opened.begin(); it != m_zonePrepared->opened.end();)
                    it = it.value() == p ? m_zonePrepared->opened.erase(it) : std::next(it);
                m_zonePrepared->early.remove(p);
            }
            if (m_sounding)
                m_sounding->zones.remove(p);
        });
    }
    return p;
}

AudioPlayer *RingEngine::playerOfZone(qint64 zone)
{
    const auto it = m_zones.constFind(zone);
    return it == m_zones.constEnd() ? nullptr : playerOfZone(*it);
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
    if (zonesSoon) {
        QList<Zone> soon;
        for (qint64 id : m_day.entry(index).zones)
            if (const auto zone = m_zones.constFind(id); zone != m_zones.constEnd())
                soon << *zone;
        zonesSoon(soon);
    }
    // Read again for each zone: the opens before it took their time, and a
    // timer armed from a stale now would start this zone that much late.
    const auto nowMs = [this] {
        const QDateTime now = m_clock.now();
        return now.date().toJulianDay() * 86400000LL + now.time().msecsSinceStartOfDay();
    };
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
            QTimer::singleShot(int(std::max<qint64>(0, dueMs - zone->leadMs - nowMs())), Qt::PreciseTimer,
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

RingEngine::ZoneStart RingEngine::startZone(const Zone &zone, const Bell &bell, const ZonePrepared *prep,
                                            bool retrying)
{
    ZoneStart out;
    AudioPlayer *p = playerOfZone(zone);
    if (!p) {
        out.why = OutputGroup::kNoPlayerReason;
        out.retry = true; // made again on the next try
        return out;
    }
    const QString path = m_board.paths().musicFile(bell.music);
    // A file that loads slowly goes on loading; a later try plays it.
    if (p->opening() && p->fileName() == path) {
        out.why = OutputGroup::kLoadingReason;
        out.retry = true;
        out.loading = p;
        return out;
    }
    try {
        const bool early = prep && prep->early.contains(p) && p->isPlaying(); // by its 提前
        const bool loaded = p->fileName() == path && p->mode() == AudioPlayer::Mode::Stopped
            && p->position() == 0;
        const bool opened = loaded && (retrying || (prep && prep->opened.value(zone.id) == p));
        if (!early && !opened) {
            p->close();
            p->setFileName(path);
            if (!AppPaths::isBareFileName(bell.music))
                throw AudioError(QStringLiteral("not a file of the music folder: ") + bell.music);
            p->open();
        }
        // It would sound on the default output, in the wrong place: the
        // zone stays silent (checked before the start, so not a moment of
        // it is heard elsewhere) until its own output is back.
        if (const QString missing = p->missingOutput(); !missing.isEmpty()) {
            p->close();
            out.why = LoadErrors::missingOutput(outputLabel ? outputLabel(missing) : SoundServer::label(missing));
            out.retry = true;
            return out;
        }
        if (!early) {
            m_board.setProgressMax(p->length());
            p->play();
            if (!p->isPlaying())
                throw AudioError(QStringLiteral("the player did not start ") + path);
        }
        out.player = p;
    } catch (const AudioError &e) {
        out.why = e.isPending() ? OutputGroup::kLoadingReason : BellBoard::ringFailureText(e);
        out.retry = e.isOutputFailure() || e.isPending();
        if (e.isPending())
            out.loading = p;
        if (e.isOutputFailure())
            out.error = e;
    } catch (const std::exception &e) {
        out.why = BellBoard::ringFailureText(e);
    }
    return out;
}

void RingEngine::ringZones(const Bell &bell, qint64 dayStart, qint64 nowAbs)
{
    std::optional<ZonePrepared> prep = std::exchange(m_zonePrepared, std::nullopt);
    if (prep && (prep->key != bell.key || prep->dayStart != dayStart))
        prep.reset();
    QHash<AudioPlayer *, qint64> heard;
    AudioPlayer *first = nullptr;
    QStringList silent;
    QHash<qint64, QString> retried;
    QStringList gone;
    QHash<qint64, AudioPlayer *> loading;
    int listened = 0; // zones heard by somebody (not only played into a stream)
    std::optional<AudioError> outputError;
    for (qint64 id : bell.zones) {
        const auto zone = m_zones.constFind(id);
        if (zone == m_zones.constEnd())
            continue; // deleted meanwhile: the next reload drops it
        ZoneStart s = startZone(*zone, bell, prep ? &*prep : nullptr, false);
        if (s.player) {
            heard.insert(s.player, id);
            if (!first)
                first = s.player;
            // It goes on into the stream (a building that joins hears the
            // rest), but counts as silent.
            if (const QString why = zoneUnheard ? zoneUnheard(*zone) : QString(); !why.isEmpty()) {
                const QString text = OutputGroup::silentText(zone->name, why);
                silent << text;
                gone << text; // nothing to retry: it plays already
            } else {
                ++listened;
            }
            continue;
        }
        const QString text = OutputGroup::silentText(zone->name, s.why);
        silent << text;
        if (s.loading)
            loading.insert(id, s.loading);
        if (s.retry)
            retried.insert(id, text);
        else
            gone << text;
        if (s.error && !outputError)
            outputError = s.error;
    }
    if (!first && !loading.isEmpty()) {
        // Its file still loads: the bell starts with the first zone that has
        // it, late, as a bell on 铃声输出 would.
        m_retry.reset();
        m_waiting = Waiting{bell, nullptr};
        m_zoneBell = ZoneBell{bell, 0, retried, gone, {}, {}, 0, loading, false, 0};
        qCInfo(lcRing).noquote() << "bell" << inttotime(bell.key.seconds) << shownText(bell.name)
                                 << "waits for its file to load in its zones:" << shownText(bell.music);
        return;
    }
    if (!first) {
        const QString message = silent.isEmpty()
            ? QStringLiteral("铃声的分区都已删除，没有播放。")
            : QStringLiteral("铃声在所有分区都没有播出：%1").arg(silent.join(QStringLiteral("；")));
        startFailed(bell, outputError ? &*outputError : nullptr, message, nowAbs);
        return;
    }
    started(first, bell, dayStart, silent, listened == 0);
    m_sounding->zones = heard;
    m_zoneBell = ZoneBell{bell, m_sounding->record, retried, gone, {}, {}, 0, loading, true, 0};
}

void RingEngine::stopMainPlayers()
{
    for (AudioPlayer *p : m_playout.players()) {
        if (!p || !p->isPlaying())
            continue;
        try {
            p->stop();
        } catch (const std::exception &e) {
            qCDebug(lcRing) << "stopping the bell on 铃声输出:" << e.what();
        }
    }
}

QString RingEngine::zoneNames(const QList<qint64> &zones) const
{
    QStringList names;
    for (qint64 id : zones)
        if (const auto z = m_zones.constFind(id); z != m_zones.constEnd())
            names << z->name;
    return names.join(u'、');
}
