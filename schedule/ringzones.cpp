// Bells with zones: one player per zone, made when first needed and kept to
// its zone's output, all started at the bell's second (a bell still sounding
// on 铃声输出 is cut, as by any bell). A zone whose output is missing, down
// or stalled only silences itself; the bell is 部分播出 when some zone stayed
// silent or was cut off while another played it to its end, and 失败
// (retried in the catch-up window like any bell) when none was heard. A zone
// whose file still loads starts the moment it has loaded, inside the window;
// loading in every zone, the bell waits for it as a bell on 铃声输出 does.
#include "ringengine.h"

#include "logging.h"
#include "ringhistory.h"
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
    // Never moved to another output when the zone's goes: that would be
    // another building.
    p->setNeverElsewhere(true);
    m_zonePlayers.insert(zone.id, p);
    if (!m_watched.contains(p)) {
        m_watched.insert(p);
        watch(p);
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
        out.why = QStringLiteral("声音输出无法使用");
        out.retry = true; // made again on the next try
        return out;
    }
    const QString path = m_board.paths().musicFile(bell.music);
    // A file that loads slowly goes on loading; a later try plays it.
    if (p->opening() && p->fileName() == path) {
        out.why = QStringLiteral("铃声文件还在读取");
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
            out.why = QStringLiteral("声音输出「%1」不存在").arg(outputLabel ? outputLabel(missing) : missing);
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
        out.why = e.isPending() ? QStringLiteral("铃声文件还在读取") : BellBoard::ringFailureText(e);
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
                const QString text = QStringLiteral("%1（%2）").arg(zone->name, why);
                silent << text;
                gone << text; // nothing to retry: it plays already
            } else {
                ++listened;
            }
            continue;
        }
        const QString text = QStringLiteral("%1（%2）").arg(zone->name, s.why);
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

void RingEngine::retryZones(qint64 nowAbs)
{
    if (!m_zoneBell || m_zoneBell->retried.isEmpty())
        return;
    ZoneBell &zb = *m_zoneBell;
    const qint64 due = zb.bell.dayStart + zb.bell.key.seconds;
    if (nowAbs - due > m_catchUp) {
        dropZoneBell();
        return;
    }
    bool changed = false;
    for (const qint64 id : zb.retried.keys()) {
        const auto zone = m_zones.constFind(id);
        if (zone == m_zones.constEnd()) {
            zb.gone << zb.retried.take(id); // deleted meanwhile
            changed = true;
            continue;
        }
        // The next bell, opened ahead on this zone, has the player now; a
        // file still loading starts the zone when loaded.
        if ((m_zonePrepared && m_zonePrepared->opened.contains(id)) || zb.loading.contains(id))
            continue;
        const ZoneStart s = startZone(*zone, zb.bell, nullptr, true);
        if (!s.player) {
            const QString text = QStringLiteral("%1（%2）").arg(zone->name, s.why);
            changed |= text != zb.retried.value(id);
            if (s.retry) {
                zb.retried[id] = text;
            } else {
                zb.gone << text;
                zb.retried.remove(id);
            }
            continue;
        }
        zoneHeard(id, s.player);
        if (!m_zoneBell)
            return;
        changed = false; // told already
    }
    if (changed)
        updateZoneRecord();
    if (nowAbs - due >= m_catchUp)
        dropZoneBell();
}

void RingEngine::zoneHeard(qint64 id, AudioPlayer *p)
{
    ZoneBell &zb = *m_zoneBell;
    zb.retried.remove(id);
    zb.loading.remove(id);
    const QString name = m_zones.value(id).name;
    if (!zb.rang) {
        // The first zone to sound: the bell starts now, its delay recorded.
        m_waiting.reset();
        const QStringList silent = zb.gone + zb.retried.values();
        started(p, zb.bell, zb.bell.dayStart, silent);
        m_sounding->zones.insert(p, id);
        zb.record = m_sounding->record;
        zb.rang = true;
        return;
    }
    const qint64 due = zb.bell.dayStart + zb.bell.key.seconds;
    const QDateTime at = m_clock.now();
    const qint64 lateMs = at.date().toJulianDay() * 86400000LL + at.time().msecsSinceStartOfDay() - due * 1000;
    zb.late << QStringLiteral("%1（%2 毫秒）").arg(name).arg(lateMs);
    zb.latestMs = std::max(zb.latestMs, lateMs);
    qCInfo(lcRing).noquote() << "bell" << inttotime(zb.bell.key.seconds) << shownText(zb.bell.name)
                             << "heard late in zone" << name << lateMs << "ms";
    if (m_sounding && m_sounding->record == zb.record) {
        m_sounding->zones.insert(p, id);
    } else {
        // The other zones have ended already: the bell sounds again, here.
        m_sounding = Sounding{zb.bell.key, p, zb.record, {{p, id}}};
        emit rang(m_day.indexOf(zb.bell.key));
    }
    updateZoneRecord();
}

bool RingEngine::zoneLoaded(AudioPlayer *p, const std::optional<AudioError> &failure)
{
    if (!m_zoneBell)
        return false;
    ZoneBell &zb = *m_zoneBell;
    const qint64 id = zb.loading.key(p, -1);
    if (id < 0)
        return false;
    zb.loading.remove(id);
    const auto zone = m_zones.constFind(id);
    const qint64 due = zb.bell.dayStart + zb.bell.key.seconds;
    ZoneStart s;
    if (failure) {
        s.why = failure->isPending() ? kSlowOpenReason : BellBoard::ringFailureText(*failure);
        s.retry = failure->isOutputFailure();
    } else if (zone == m_zones.constEnd()) {
        s.why = QStringLiteral("分区已删除");
    } else if (!m_board.running() || held() || nowAbsSeconds() - due > m_catchUp) {
        return true; // too late: the window's end names it
    } else {
        s = startZone(*zone, zb.bell, nullptr, true);
    }
    if (s.player) {
        zoneHeard(id, s.player);
        return true;
    }
    const QString text = QStringLiteral("%1（%2）").arg(m_zones.value(id).name, s.why);
    if (s.loading) { // loading again (a new open): waits for it
        zb.loading.insert(id, s.loading);
        zb.retried[id] = text;
    } else if (s.retry) {
        zb.retried[id] = text;
    } else {
        zb.retried.remove(id);
        zb.gone << text;
    }
    if (zb.rang)
        updateZoneRecord();
    else if (zb.retried.isEmpty())
        zoneBellFailed();
    return true;
}

void RingEngine::zoneBellFailed()
{
    const ZoneBell zb = *std::exchange(m_zoneBell, std::nullopt);
    m_waiting.reset();
    startFailed(zb.bell, nullptr,
                QStringLiteral("铃声在所有分区都没有播出：%1").arg(zb.gone.join(QStringLiteral("；"))),
                nowAbsSeconds());
}

void RingEngine::stopMainPlayers()
{
    for (AudioPlayer *p : m_players) {
        if (!p || !p->isPlaying())
            continue;
        try {
            p->stop();
        } catch (const std::exception &e) {
            qCDebug(lcRing) << "stopping the bell on 铃声输出:" << e.what();
        }
    }
}

void RingEngine::updateZoneRecord()
{
    const ZoneBell &zb = *m_zoneBell;
    if (!zb.rang)
        return; // no record yet: its start tells
    const QStringList silent = zb.gone + zb.retried.values();
    QStringList notes;
    if (!silent.isEmpty())
        notes << silentZonesText(silent);
    if (!zb.late.isEmpty())
        notes << lateZonesText(zb.late);
    if (!zb.cut.isEmpty())
        notes << cutZonesText(zb.cut);
    // Cut off in some zones only (the others played it whole, or still
    // play it): heard in part.
    const bool elsewhere = zb.whole > 0
        || (m_sounding && m_sounding->record == zb.record && !m_sounding->zones.isEmpty());
    const BellStatus result = !zb.cut.isEmpty() && !elsewhere ? BellStatus::Interrupted
        : !zb.cut.isEmpty() || !silent.isEmpty()             ? BellStatus::PartlyRung
                                                             : BellStatus::Done;
    const QString note = notes.join(QStringLiteral("。"));
    if (result == BellStatus::Done)
        m_day.clearFault(zb.bell.key);
    else
        m_day.setFault(zb.bell.key, result);
    if (const int index = m_day.indexOf(zb.bell.key); index >= 0 && index < m_day.next())
        m_day.setStatus(index, result);
    if (m_history) {
        m_history->amend(zb.record, result, note);
        if (zb.latestMs > 0)
            m_history->amendDelay(zb.record, zb.latestMs);
        flushSoon();
    }
    qCInfo(lcRing).noquote() << "bell" << inttotime(zb.bell.key.seconds) << shownText(zb.bell.name)
                             << bellstatus::text(result) << "-" << note;
}

void RingEngine::zoneEnded(AudioPlayer *p, bool interrupted)
{
    const qint64 id = m_sounding->zones.take(p);
    const bool ours = m_zoneBell && m_zoneBell->rang && m_zoneBell->record == m_sounding->record;
    if (ours && !interrupted)
        ++m_zoneBell->whole;
    if (interrupted && ours) {
        qCWarning(lcRing).noquote() << "bell" << inttotime(m_zoneBell->bell.key.seconds)
                                    << shownText(m_zoneBell->bell.name) << "cut off in zone"
                                    << m_zones.value(id).name << ": its output went";
        m_zoneBell->cut << m_zones.value(id).name;
        updateZoneRecord();
    }
    if (!m_sounding->zones.isEmpty())
        return;
    const bool cutEverywhere = ours && !m_zoneBell->cut.isEmpty() && m_zoneBell->whole == 0;
    endSounding(cutEverywhere ? BellStatus::Interrupted : BellStatus::Done);
    // Heard everywhere it could be, and nothing left to try.
    if (m_zoneBell && m_zoneBell->retried.isEmpty())
        m_zoneBell.reset();
}

void RingEngine::dropZoneBell()
{
    if (!m_zoneBell)
        return;
    m_zoneBell->gone << m_zoneBell->retried.values();
    m_zoneBell->retried.clear();
    m_zoneBell->loading.clear();
    // Still sounding somewhere: cuts are still to be told. One that never
    // rang is told by its waiting's end.
    if (!m_zoneBell->rang || !m_sounding || m_sounding->record != m_zoneBell->record)
        m_zoneBell.reset();
}

QString RingEngine::zoneNames(const QList<qint64> &zones) const
{
    QStringList names;
    for (qint64 id : zones)
        if (const auto z = m_zones.constFind(id); z != m_zones.constEnd())
            names << z->name;
    return names.join(u'、');
}
