#include "ringzones.h"

#include "apppaths.h"
#include "bellboard.h"
#include "logging.h"
#include "outputgroup.h"
#include "secondsofday.h"

namespace {
QString silentEverywhereText(const QStringList &silent)
{
    return QStringLiteral("铃声在所有分区都没有播出：%1").arg(silent.join(QStringLiteral("；")));
}
} // namespace

RingZones::RingZones(const Clock &clock, RingOutcomes &outcomes, QObject *parent)
    : QObject(parent), m_clock(clock), m_outcomes(outcomes)
{
    for (auto &g : m_groups) {
        g = std::make_unique<OutputGroup>([this](const SoundTarget &t) { return m_known.player(t.zone); });
        watch(*g);
    }
}

RingZones::~RingZones() = default;

qint64 RingZones::nowMs() const
{
    const QDateTime now = m_clock.now();
    return now.date().toJulianDay() * 86400000LL + now.time().msecsSinceStartOfDay();
}

void RingZones::watch(OutputGroup &g)
{
    // Only the bell's group is followed, and not inside ring(): its outcome
    // is read there at once.
    const auto ours = [this, &g] { return &g == &group() && m_bell && !m_starting; };
    connect(&g, &OutputGroup::started, this, [this, ours](int i) { ours() ? heard(i) : void(); });
    connect(&g, &OutputGroup::silent, this, [this, ours] {
        if (!ours())
            return;
        if (m_bell->rang)
            updateRecord();
        else if (!group().loading() && !group().retrying()) {
            const QString message = silentEverywhereText(silentList());
            m_bell.reset();
            emit failedEverywhere(message);
        }
    });
    connect(&g, &OutputGroup::cut, this, [this, ours, &g](int i) {
        if (!ours() || !m_bell->rang)
            return;
        qCWarning(lcRing).noquote() << "bell" << inttotime(m_bell->bell.key.seconds) << shownText(m_bell->bell.name)
                                    << "cut off in zone" << g.target(i).name << ": its output went";
        m_bell->cut << g.target(i).name;
        updateRecord();
        endedHere();
    });
    connect(&g, &OutputGroup::endedIn, this, [this, ours] {
        if (!ours() || !m_bell->rang)
            return;
        ++m_bell->whole;
        endedHere();
    });
}

void RingZones::prepare(const Bell &bell, const QString &path)
{
    ahead().stop();
    m_ahead = Ahead{bell.key, bell.dayStart, path};
    const QList<SoundTarget> targets = m_known.targetsOf(bell.zones);
    if (zonesSoon) {
        QList<Zone> soon;
        for (const SoundTarget &t : targets)
            soon << m_known.zone(t.zone);
        zonesSoon(soon);
    }
    OutputGroup::Options o;
    o.cue = true;
    o.retryOnCall = true;
    o.label = outputLabel;
    o.startInMs = std::max<qint64>(0, (bell.dayStart + bell.key.seconds) * 1000 - nowMs());
    ahead().play(path, targets, o);
}

void RingZones::endBefore(const BellKey &key, qint64 dayStart)
{
    m_bell.reset();
    group().stop();
    if (m_ahead && (m_ahead->key != key || m_ahead->dayStart != dayStart)) {
        ahead().stop();
        m_ahead.reset();
    }
}

RingZones::Start RingZones::ring(const Bell &bell, const QString &path)
{
    Start out;
    const bool opened = m_ahead && m_ahead->key == bell.key && m_ahead->dayStart == bell.dayStart
        && m_ahead->path == path;
    if (!opened && m_ahead)
        ahead().stop();
    m_ahead.reset();
    if (opened)
        m_cur = 1 - m_cur;
    m_bell = Current{bell, 0, false, {}, {}, 0, 0, {}, {}};
    OutputGroup &g = group();
    const QList<SoundTarget> targets = m_known.targetsOf(bell.zones);
    if (!AppPaths::isBareFileName(bell.music)) { // never opened, in no zone
        g.stop();
        m_bell.reset();
        for (const SoundTarget &t : targets)
            out.silent << OutputGroup::silentText(t.name, BellBoard::kNotFound);
        out.failure = silentEverywhereText(out.silent);
        return out;
    }
    m_starting = true;
    if (opened) {
        g.cue();
    } else {
        OutputGroup::Options o;
        o.retryOnCall = true;
        o.label = outputLabel;
        g.play(path, targets, o);
    }
    m_starting = false;
    int listened = 0; // zones heard by somebody (not only played into a stream)
    for (int i = 0; i < g.size(); ++i) {
        if (g.state(i) == OutputGroup::State::Sounding) {
            out.first = out.first ? out.first : g.player(i);
            // It goes on into the stream (a building that joins hears the
            // rest), but counts as silent.
            const QString why = zoneUnheard ? zoneUnheard(m_known.zone(g.target(i).zone)) : QString();
            if (why.isEmpty())
                ++listened;
            else
                m_bell->unheard.insert(i, OutputGroup::silentText(g.target(i).name, why));
            continue;
        }
        const AudioError *e = g.error(i);
        if (e && e->isOutputFailure() && !out.error)
            out.error = *e;
    }
    out.silent = silentList();
    out.heardNowhere = listened == 0;
    if (out.first)
        return out;
    if (g.loading()) {
        out.loading = true; // starts with the first zone that has it
        return out;
    }
    g.stop();
    m_bell.reset();
    out.failure = silentEverywhereText(out.silent);
    return out;
}

void RingZones::rang(int record)
{
    if (!m_bell)
        return;
    m_bell->record = record;
    m_bell->rang = true;
    m_bell->told.clear();
    updateRecord(); // notes what the start wrote
}

QString RingZones::whyOf(int index) const
{
    const OutputGroup &g = group();
    if (const OutputGroup::State s = g.state(index); s != OutputGroup::State::Silent)
        return s == OutputGroup::State::Idle ? OutputGroup::kNoPlayerReason : OutputGroup::kLoadingReason;
    if (const AudioError *e = g.error(index))
        return e->isPending() ? RingOutcomes::kSlowOpenReason : BellBoard::ringFailureText(*e);
    return g.why(index);
}

QStringList RingZones::silentList() const
{
    QStringList out;
    const OutputGroup &g = group();
    for (int i = 0; i < g.size(); ++i) {
        const OutputGroup::State s = g.state(i);
        if (s == OutputGroup::State::Sounding || s == OutputGroup::State::Ended) {
            if (m_bell->unheard.contains(i))
                out << m_bell->unheard.value(i);
        } else {
            out << OutputGroup::silentText(g.target(i).name, whyOf(i));
        }
    }
    return out;
}

bool RingZones::aheadHolds(const AudioPlayer *p) const
{
    const int i = m_ahead && p ? ahead().indexOf(p) : -1;
    const OutputGroup::State s = i < 0 ? OutputGroup::State::Idle : ahead().state(i);
    return s == OutputGroup::State::Loading || s == OutputGroup::State::Ready || s == OutputGroup::State::Sounding;
}

void RingZones::retry(qint64 nowAbs, int catchUpSeconds)
{
    if (!m_bell)
        return;
    const qint64 late = nowAbs - (m_bell->bell.dayStart + m_bell->bell.key.seconds);
    if (late > catchUpSeconds) {
        drop();
        return;
    }
    OutputGroup &g = group();
    for (int i = 0; i < g.size() && m_bell; ++i) {
        // The next bell, opened ahead on this zone, has the player now.
        if (g.state(i) == OutputGroup::State::Silent && m_known.knows(g.target(i).zone)
            && !aheadHolds(g.player(i)))
            g.retry(i);
    }
    if (late >= catchUpSeconds)
        drop();
}

void RingZones::heard(int index)
{
    Current &b = *m_bell;
    if (!b.rang) {
        emit firstHeard(group().player(index), silentList());
        return;
    }
    const QString name = group().target(index).name;
    const qint64 lateMs = nowMs() - (b.bell.dayStart + b.bell.key.seconds) * 1000;
    b.late << QStringLiteral("%1（%2 毫秒）").arg(name).arg(lateMs);
    b.latestMs = std::max(b.latestMs, lateMs);
    qCInfo(lcRing).noquote() << "bell" << inttotime(b.bell.key.seconds) << shownText(b.bell.name)
                             << "heard late in zone" << name << lateMs << "ms";
    // The other zones have ended already: the bell sounds again, here.
    if (group().soundingPlayers().size() == 1)
        emit heardAgain(group().player(index));
    updateRecord();
}

void RingZones::endedHere()
{
    if (!m_bell || group().sounding())
        return;
    const bool cutEverywhere = !m_bell->cut.isEmpty() && m_bell->whole == 0;
    emit endedEverywhere(cutEverywhere ? BellStatus::Interrupted : BellStatus::Done);
    // Heard everywhere it could be, and nothing left to try.
    if (m_bell && !group().loading() && !group().retrying())
        m_bell.reset();
}

void RingZones::updateRecord()
{
    if (!m_bell || !m_bell->rang)
        return;
    Current &b = *m_bell;
    const QStringList silent = silentList();
    QStringList notes;
    if (!silent.isEmpty())
        notes << OutputGroup::silentZonesText(silent);
    if (!b.late.isEmpty())
        notes << OutputGroup::lateZonesText(b.late);
    if (!b.cut.isEmpty())
        notes << OutputGroup::cutZonesText(b.cut);
    // Cut off in some zones only (the others played it whole, or still
    // play it): heard in part.
    const bool elsewhere = b.whole > 0 || group().sounding();
    const BellStatus result = !b.cut.isEmpty() && !elsewhere ? BellStatus::Interrupted
        : !b.cut.isEmpty() || !silent.isEmpty()             ? BellStatus::PartlyRung
                                                            : BellStatus::Done;
    const QString note = notes.join(QStringLiteral("。"));
    const QString told = bellstatus::text(result) + u' ' + note;
    if (told == b.told)
        return;
    // The start wrote its record already: only what changed since.
    if (!std::exchange(b.told, told).isEmpty())
        m_outcomes.zonesTold(b.bell, b.record, result, note, b.latestMs);
}

void RingZones::drop()
{
    if (!m_bell)
        return;
    group().endRetries();
    // Still sounding somewhere: cuts are still to be told.
    if (!m_bell->rang || !group().sounding())
        m_bell.reset();
}

void RingZones::stop()
{
    group().stop();
    ahead().stop();
    m_ahead.reset();
}

QList<qint64> RingZones::soundingZones() const
{
    QList<qint64> out;
    for (int i = 0; i < group().size(); ++i)
        if (group().state(i) == OutputGroup::State::Sounding)
            out << group().target(i).zone;
    return out;
}
