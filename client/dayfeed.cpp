#include "dayfeed.h"
#include "clientlog.h"
#include "enginelink.h"

#include "secondsofday.h"

#include <QFileInfo>
#include <QPointer>
#include <algorithm>

DayFeed::DayFeed(EngineLink &link, BellBoard &board, QObject *parent)
    : QObject(parent), m_link(link), m_board(board)
{
    connect(&link, &EngineLink::ready, this, [this] {
        m_current = false;
        reread();
        m_clock.start();
    });
    connect(&link, &EngineLink::lost, this, [this] { m_current = false; });
    connect(&link, &EngineLink::dayChanged, this, [this] { reread(); });
    connect(&link, &EngineLink::bellStatus, this, &DayFeed::applyBellStatus);
    connect(&link, &EngineLink::modeChanged, this, [this](bool running) {
        if (running != m_board.running())
            m_board.setRunning(running);
    });
    connect(&link, &EngineLink::testChanged, this, [this](bool testing) {
        if (testing != m_board.testing())
            m_board.setTesting(testing);
    });
    connect(&link, &EngineLink::emergencyChanged, this, &DayFeed::setEmergency);
    connect(&link, &EngineLink::bandsChanged, this, &DayFeed::setBands);
    connect(&link, &EngineLink::playbackChanged, this, &DayFeed::applyPlaying);
    m_clock.setInterval(1000);
    connect(&m_clock, &QTimer::timeout, this, &DayFeed::showClock);
    if (link.isReady()) {
        reread();
        m_clock.start();
    }
}

void DayFeed::reread()
{
    readStatus();
    readBells();
}

void DayFeed::readStatus()
{
    const quint64 ask = ++m_statusRead;
    const QPointer<DayFeed> alive(this);
    m_link.getStatus([this, alive, ask](const LinkResult<EngineStatus> &r) {
        if (!alive || ask != m_statusRead)
            return;
        if (!r.ok()) {
            qCWarning(lcClient).noquote() << "the engine's status not read:" << r.error->text;
            return;
        }
        applyStatus(r.value);
    });
}

void DayFeed::readBells()
{
    const quint64 ask = ++m_dayRead;
    const QPointer<DayFeed> alive(this);
    m_link.getBells([this, alive, ask](const LinkResult<EngineDay> &r) {
        if (!alive || ask != m_dayRead)
            return;
        if (!r.ok()) {
            qCWarning(lcClient).noquote() << "the day's bells not read:" << r.error->text;
            emit readFailed(r.error->text);
            return;
        }
        applyDay(r.value);
    });
}

void DayFeed::applyStatus(const EngineStatus &s)
{
    if (s.running != m_board.running())
        m_board.setRunning(s.running);
    if (s.testing != m_board.testing())
        m_board.setTesting(s.testing);
    m_dateText = s.dateText;
    setBands(s.bands);
    setEmergency(s.emergency);
    applyPlaying(s.playing);
    m_nowAtRead = s.nowSeconds;
    m_sinceRead.start();
    showClock();
}

void DayFeed::applyDay(const EngineDay &day)
{
    if (day.running != m_board.running())
        m_board.setRunning(day.running);
    const int zonesBefore = int(m_zoneIds.size());
    QList<BellEntry> entries;
    QList<BellStatus> statuses;
    entries.reserve(day.bells.size());
    statuses.reserve(day.bells.size());
    m_delays.clear();
    m_sounding.reset();
    int next = -1;
    for (const EngineBell &b : day.bells) {
        const int index = int(entries.size());
        BellEntry e;
        e.id = b.id;
        e.time = b.seconds >= 0 ? b.seconds : BellEntry::kInvalidTime;
        e.name = b.name;
        e.music = b.music;
        e.weekdays = b.days;
        e.duration = b.duration;
        e.remark = b.remark;
        e.zones = zoneIds(b.zones);
        const BellKey key{e.id, e.time};
        BellStatus s = bellstatus::fromText(b.status);
        // The blink's two states are the copy's own matter, not the bell's.
        if (s == BellStatus::Playing)
            m_sounding = key;
        if (s == BellStatus::Waiting && next < 0)
            next = index;
        if (s == BellStatus::Playing || s == BellStatus::Waiting)
            s = BellStatus::None;
        if (b.delayMs)
            m_delays.insert(key, *b.delayMs);
        if (day.next && *day.next == b.id && next < 0)
            next = index;
        entries.append(std::move(e));
        statuses.append(s);
    }
    if (next < 0)
        next = int(entries.size()); // nothing to come
    m_board.showList(std::move(entries), std::move(statuses), next, m_dateText);
    m_current = true;
    if (m_zoneIds.size() != zonesBefore)
        emit zoneNamesChanged();
    emit listRead();
}

void DayFeed::applyBellStatus(const EngineBellStatus &s)
{
    DaySchedule &day = m_board.day();
    const BellKey key{s.id, s.seconds >= 0 ? s.seconds : BellEntry::kInvalidTime};
    const int index = day.indexOf(key);
    if (index < 0) {
        // Not in this copy: the list changed while the copy was being read.
        readBells();
        return;
    }
    const std::optional<qint64> before =
        m_delays.contains(key) ? std::optional<qint64>(m_delays.value(key)) : std::nullopt;
    if (s.delayMs)
        m_delays.insert(key, *s.delayMs);
    else
        m_delays.remove(key);
    if (before != s.delayMs)
        emit delayChanged(index);

    const BellStatus shown = bellstatus::fromText(s.status);
    BellStatus own = shown;
    if (shown == BellStatus::Playing) {
        m_sounding = key;
        own = BellStatus::None;
    } else {
        if (m_sounding == key)
            m_sounding.reset();
        if (shown == BellStatus::Waiting) {
            day.setNext(index);
            own = BellStatus::None;
        } else if (shown != BellStatus::None && shown != BellStatus::InvalidTime && index >= day.next()) {
            // Rung, failed or past: the cursor is beyond it.
            day.setNext(index + 1);
        }
    }
    day.setStatus(index, own);
}

void DayFeed::applyPlaying(const EnginePlaying &p)
{
    m_playing = p;
    if (p.active()) {
        if (p.lengthMs > 0)
            m_board.setProgressMax(p.lengthMs);
        m_board.setProgressPos(p.positionMs);
        m_board.setYunXing(QFileInfo(p.music).fileName());
    } else {
        m_board.setProgressPos(0);
        m_board.setYunXing(QString());
    }
}

void DayFeed::setBands(const QList<EngineBand> &bands)
{
    if (bands == m_bands)
        return;
    m_bands = bands;
    emit bandsChanged(m_bands);
}

void DayFeed::setEmergency(bool active)
{
    if (active == m_emergency)
        return;
    m_emergency = active;
    emit emergencyChanged(active);
}

int DayFeed::soundingIndex() const
{
    return m_sounding ? m_board.day().indexOf(*m_sounding) : -1;
}

std::optional<qint64> DayFeed::delayMs(int index) const
{
    const DaySchedule &day = m_board.day();
    if (!day.contains(index))
        return std::nullopt;
    const auto it = m_delays.constFind(day.key(index));
    return it == m_delays.constEnd() ? std::nullopt : std::optional<qint64>(*it);
}

QHash<qint64, QString> DayFeed::zoneNames() const
{
    QHash<qint64, QString> names;
    for (auto it = m_zoneIds.constBegin(); it != m_zoneIds.constEnd(); ++it)
        names.insert(it.value(), it.key());
    return names;
}

void DayFeed::setKnownZones(const QHash<QString, qint64> &ids)
{
    bool same = true;
    for (auto it = ids.constBegin(); it != ids.constEnd() && same; ++it)
        same = m_zoneIds.value(it.key(), -1) == it.value();
    if (same)
        return;
    m_zoneIds = ids;
    emit zoneNamesChanged();
    if (m_link.isReady())
        readBells();
}

QList<qint64> DayFeed::zoneIds(const QStringList &names)
{
    QList<qint64> ids;
    for (const QString &name : names) {
        auto it = m_zoneIds.constFind(name);
        if (it == m_zoneIds.constEnd()) {
            qint64 id = 0;
            for (const qint64 known : std::as_const(m_zoneIds))
                id = std::max(id, known);
            it = m_zoneIds.insert(name, id + 1);
        }
        ids.append(*it);
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

qint64 DayFeed::engineNowSeconds() const
{
    if (m_nowAtRead < 0)
        return -1;
    return (m_nowAtRead + m_sinceRead.elapsed() / 1000) % 86400;
}

void DayFeed::showClock()
{
    const qint64 now = engineNowSeconds();
    if (now >= 0) {
        m_board.setClockText(inttotime(now));
        m_board.setLabelNowTime(QString::number(now));
    }
    if (m_link.isReady() && m_sinceRead.isValid() && m_sinceRead.elapsed() >= kClockResyncMs) {
        m_sinceRead.restart(); // one reading at a time
        readStatus();
    }
}

void DayFeed::blinkBeat()
{
    if (!m_board.running())
        return;
    const int sounding = soundingIndex();
    if (sounding >= 0)
        m_board.blink(sounding, BellStatus::Playing);
    else
        m_board.blink(m_board.day().next(), BellStatus::Waiting);
}
