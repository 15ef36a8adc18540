// How an emergency broadcast ends, and its one record in the ring history:
// written as soon as it sounds (saying it has not ended), amended when the
// zones have settled and at its end.
#include "emergencybroadcast.h"

#include "emergencylog.h"
#include "ringhistory.h"
#include "secondsofday.h"

#include <QDir>
#include <QFileInfo>

QString EmergencyBroadcast::recordText(const QString &end) const
{
    const QString who = m_run->by.isEmpty() ? originText(m_run->request.origin) : m_run->by;
    QStringList parts{QStringLiteral("由%1开始").arg(who)};
    QStringList zones, outputs, silent;
    for (const Target &t : m_run->targets) {
        zones << t.zones;
        if (t.state == State::Silent)
            silent << OutputGroup::silentText(t.label(), t.reason);
    }
    // The outputs always in the same order, whichever zone shares them.
    for (const QString &o : {kBellsOutput, kBroadcastOutput})
        if (std::any_of(m_run->targets.begin(), m_run->targets.end(),
                        [&o](const Target &t) { return t.outputs.contains(o); }))
            outputs << o;
    if (!zones.isEmpty())
        parts << QStringLiteral("分区：") + zones.join(QStringLiteral("、"));
    if (!outputs.isEmpty())
        parts << outputs.join(QStringLiteral("、"));
    if (!m_run->note.isEmpty())
        parts << m_run->note;

    if (!silent.isEmpty() && m_run->delayMs)
        parts << QStringLiteral("没有播出：%1").arg(silent.join(QStringLiteral("；")));
    parts << end;
    return parts.join(QStringLiteral("；"));
}

void EmergencyBroadcast::flushRecord()
{
    if (m_history && !m_history->flush())
        qCWarning(lcEmergency).noquote() << "emergency record queued, the store is busy:" << m_history->lastError();
}

void EmergencyBroadcast::writeRecord(BellStatus result, const QString &end, bool now)
{
    if (!m_history)
        return;
    const QString text = recordText(end);
    if (m_run->record == 0) {
        // A file of the music folder by its name, as a bell's; any other by its path.
        const QFileInfo fi(m_run->file);
        const QString music =
            fi.absolutePath() == QDir(m_paths.musicFolder()).absolutePath() ? fi.fileName() : m_run->file;
        const QTime t = m_run->trigger.time();
        m_run->record = m_history->record({0, m_run->trigger.date(), timetoint(t.hour(), t.minute(), t.second()),
                                           kName, music, result, m_run->delayMs, text});
        m_history->keep(m_run->record, true);
    } else {
        m_history->amend(m_run->record, result, text);
    }
    // Written at once: a kill or a power cut a moment later leaves it.
    if (now)
        flushRecord();
}

void EmergencyBroadcast::finish(BellStatus result, const QString &end)
{
    m_settle.stop();
    writeRecord(result, end);
    if (m_history)
        m_history->keep(m_run->record, false);
    m_run.reset(); // its players' news no longer counts
    m_group.stop(true);
    if (releaseBells)
        releaseBells();
    emit activeChanged(false);
}

bool EmergencyBroadcast::stop(Origin how, const QString &by)
{
    if (!m_run)
        return false;
    const QDateTime now = m_clock.now();
    const QString end = QStringLiteral("%1 由%2结束，持续 %3")
                            .arg(now.time().toString(QStringLiteral("HH:mm:ss")), by.isEmpty() ? originText(how) : by,
                                 durationText(m_run->trigger.msecsTo(now)));
    const bool heard = m_run->delayMs.has_value();
    const bool partly = heard && std::any_of(m_run->targets.begin(), m_run->targets.end(), [](const Target &t) {
                            return t.state != State::Sounding;
                        });
    const bool wasSettled = m_run->settled;
    qCWarning(lcEmergency).noquote() << "emergency broadcast ended from" << (by.isEmpty() ? originText(how) : by) << "after"
                                     << elapsedMs() << "ms";
    finish(!heard ? BellStatus::Failed : partly ? BellStatus::PartlyRung : BellStatus::Done, end);
    if (!wasSettled)
        emit settled(heard, heard ? QString() : QStringLiteral("紧急广播在播出前已结束"));
    return true;
}
