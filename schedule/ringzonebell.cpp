// A bell in zones after its second: the zones still silent are tried again
// within the catch-up window, a zone whose slow file has loaded starts at
// once, a zone cut off is named, and the bell's status and record follow
// what each zone did until it has ended everywhere.
#include "ringengine.h"

#include "logging.h"
#include "outputgroup.h"
#include "ringhistory.h"
#include "secondsofday.h"

void RingEngine::retryZones(qint64 nowAbs)
{
    if (!m_zoneBell || m_zoneBell->retried.isEmpty())
        return;
    ZoneBell &zb = *m_zoneBell;
    const qint64 due = zb.bell.dayStart + zb.bell.key.seconds;
    if (nowAbs - due > m_due.catchUpSeconds()) {
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
            const QString text = OutputGroup::silentText(zone->name, s.why);
            changed |= text != zb.retried.value(id);
            if (s.loading) // starts when loaded
                zb.loading.insert(id, s.loading);
            if (s.retry) {
                zb.retried[id] = text;
            } else {
                zb.gone << text;
                zb.retried.remove(id);
            }
            continue;
        }
        zoneHeard(id, s.player);
        changed = false; // told already
    }
    if (changed)
        updateZoneRecord();
    if (nowAbs - due >= m_due.catchUpSeconds())
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
    } else if (!m_board.running() || held() || nowAbsSeconds() - due > m_due.catchUpSeconds()) {
        return true; // too late: the window's end names it
    } else {
        s = startZone(*zone, zb.bell, nullptr, true);
    }
    if (s.player) {
        zoneHeard(id, s.player);
        return true;
    }
    const QString text = OutputGroup::silentText(m_zones.value(id).name, s.why);
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
    m_outcomes.zonesTold(zb.bell, zb.record, result, notes.join(QStringLiteral("。")), zb.latestMs);
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
