// Keeping the zones of the broadcast in step: a zone that drifts is sought
// back (what its seeks are heard late is learnt), one that has lost its
// place is restarted at the first zone's position.
#include "broadcastplayer.h"

#include "audiolog.h"

#include <algorithm>

void BroadcastPlayer::restartAt(Live &l, qint64 position, const QString &why)
{
    // What was learnt of its seeks came from a zone that had lost its place.
    m_seekLag.remove(l.player);
    l.seeks = 0;
    l.drifts.clear();
    l.settle = kStepSettleChecks;
    try {
        l.player->setStartPosition(position);
        l.player->play();
        qCWarning(lcAudio).noquote() << "zone" << l.zone.name << why << "and was restarted at" << position
                                     << "ms with" << m_live[0].zone.name;
    } catch (const AudioError &e) {
        // Its output is failing: the next operation leaves it out.
        qCWarning(lcAudio).noquote() << "restarting zone" << l.zone.name << ":" << e.text();
    }
}

void BroadcastPlayer::keepInStep()
{
    AudioPlayer *first = reference();
    if (!inZones() || m_live.size() < 2 || !m_pending.isEmpty() || !first->isPlaying())
        return;
    const qint64 at = first->position();
    for (int i = 1; i < m_live.size(); ++i) {
        Live &l = m_live[i];
        if (l.settle > 0) {
            --l.settle;
            continue;
        }
        if (!l.player->isPlaying()) {
            l.drifts.clear();
            // Quiet by itself while the first plays on, well before the end.
            if (l.player->mode() == Mode::Stopped && !l.player->interrupted()
                && at < first->length() - kRestartMs)
                restartAt(l, at, QStringLiteral("had stopped"));
            continue;
        }
        l.drifts.append(l.player->position() - at);
        if (l.drifts.size() > kStepSamples)
            l.drifts.removeFirst();
        if (l.drifts.size() < kStepSamples)
            continue;
        QList<qint64> sorted = l.drifts;
        std::sort(sorted.begin(), sorted.end());
        const qint64 drift = sorted[kStepSamples / 2];
        if (std::abs(drift) > kRestartMs) {
            restartAt(l, first->position(), QStringLiteral("was %1 ms out of step").arg(drift));
            continue;
        }
        if (std::abs(drift) <= kStepMs || l.seeks > kStepMaxSeeks)
            continue;
        if (l.seeks == kStepMaxSeeks) {
            ++l.seeks;
            qCWarning(lcAudio).noquote() << "zone" << l.zone.name << "stays" << drift << "ms out of step with"
                                         << m_live[0].zone.name << "after" << kStepMaxSeeks << "seeks; left as it is";
            continue;
        }
        // After a seek of ours, what is left over is how late this zone's
        // seeks are heard.
        qint64 &lag = m_seekLag[l.player];
        if (l.seeks > 0)
            lag = std::clamp<qint64>(lag - drift, 0, 1000);
        ++l.seeks;
        l.drifts.clear();
        l.settle = kStepSettleChecks;
        try {
            l.player->setStartPosition(first->position() + lag);
            l.player->play();
            qCInfo(lcAudio).noquote() << "zone" << l.zone.name << "was" << drift << "ms out of step with"
                                      << m_live[0].zone.name << "and was sought back (" << lag << "ms ahead)";
        } catch (const AudioError &e) {
            // Its output is failing: the next operation leaves it out.
            qCWarning(lcAudio).noquote() << "seeking zone" << l.zone.name << "back into step:" << e.text();
        }
    }
}
