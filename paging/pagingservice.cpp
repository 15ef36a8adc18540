#include "pagingservice.h"

#include "paginglog.h"
#include "ringhistory.h"

#include <map>

PagingService::PagingService(const Clock &clock, QObject *parent) : QObject(parent), m_clock(clock)
{
    m_levelTimer.setInterval(kLevelMs);
    connect(&m_levelTimer, &QTimer::timeout, this, &PagingService::readLevel);
}

PagingService::~PagingService()
{
    stop(QStringLiteral("程序退出"));
}

QString PagingService::durationText(qint64 ms)
{
    const qint64 s = std::max<qint64>(ms, 0) / 1000;
    const QString mmss = QStringLiteral("%1:%2").arg(s / 60 % 60, 2, 10, QChar(u'0')).arg(s % 60, 2, 10, QChar(u'0'));
    return s >= 3600 ? QStringLiteral("%1:%2").arg(s / 3600).arg(mmss) : mmss;
}

qint64 PagingService::elapsedMs() const
{
    return m_on ? m_started.msecsTo(m_clock.now()) : 0;
}

QString PagingService::start(const Request &request, QString *note)
{
    if (m_on)
        return kAlreadyOn;
    if (emergencyActive && emergencyActive())
        return kEmergencyRefused;
    const QList<Zone> known = zones ? zones() : QList<Zone>{};
    // Where it goes: one output once, however many zones share it.
    std::map<QString, QStringList> byDevice;
    QList<qint64> ids;
    QStringList names;
    bool everywhere = request.zones.isEmpty();
    if (known.isEmpty()) {
        if (!request.zones.isEmpty() && request.zones != QStringList{kBroadcastOutput})
            return unknownZoneText(request.zones.first());
        everywhere = true;
        names << kBroadcastOutput;
        byDevice[broadcastOutput ? broadcastOutput() : QString()] << kBroadcastOutput;
    } else if (everywhere) {
        for (const Zone &z : known) {
            ids << z.id;
            names << z.name;
            byDevice[z.output] << z.name;
        }
    } else {
        for (const QString &name : request.zones) {
            const auto z = std::find_if(known.begin(), known.end(), [&](const Zone &k) { return k.name == name; });
            if (z == known.end())
                return unknownZoneText(name);
            if (ids.contains(z->id))
                continue;
            ids << z->id;
            names << z->name;
            byDevice[z->output] << z->name;
        }
        everywhere = ids.size() == known.size();
    }

    std::vector<LivePager::Output> outputs;
    QStringList silent;
    for (const auto &[device, labels] : byDevice) {
        const QString label = labels.join(u'、');
        if (const std::optional<QString> sink = LivePager::sinkOf(device))
            outputs.push_back({*sink, label});
        else
            silent << QStringLiteral("%1（不是声音服务器的输出）").arg(label);
    }
    const QString source = input ? input() : QString();
    const LivePager::Started s =
        outputs.empty() ? LivePager::Started{QStringLiteral("没有一个分区的声音输出能用"), {}, {}, {}}
                        : m_pager.start(source, outputs, chime && chime() ? LivePager::makeChime() : std::vector<float>{});
    silent << s.silent;
    QStringList notes;
    if (!s.inputNote.isEmpty())
        notes << s.inputNote;
    if (!silent.isEmpty())
        notes << QStringLiteral("这些地方听不到：") + silent.join(QStringLiteral("，"));
    if (!s.error.isEmpty()) {
        const QString text = QStringLiteral("实时喊话没有开始：%1。").arg(s.error)
            + (notes.isEmpty() ? QString() : notes.join(u'\n'));
        qCWarning(lcPaging).noquote() << text;
        return text;
    }

    m_on = true;
    m_ids = ids;
    m_names = names;
    m_everywhere = everywhere;
    m_started = m_clock.now();
    m_by = request.by.trimmed().left(100);
    if (m_by.isEmpty())
        m_by = QStringLiteral("操作员");
    m_note = notes.join(u'\n');
    if (note)
        *note = m_note;
    qCInfo(lcPaging).noquote() << "live announcement started by" << m_by << "in" << names.join(u'、')
                               << (m_note.isEmpty() ? QString() : m_note);
    if (takeZones)
        takeZones(ids, everywhere, kHeldReason);
    if (power)
        power(true, ids, everywhere);
    if (m_history) {
        const QTime t = m_started.time();
        RingRecord r{0, m_started.date(), t.msecsSinceStartOfDay() / 1000, kName,
                     source.isEmpty() ? QStringLiteral("系统默认输入") : source, BellStatus::Done, 0,
                     recordReason(QStringLiteral("进行中"))};
        r.zones = names.join(u'、');
        r.sounding = true;
        m_record = m_history->record(r);
        m_history->keep(m_record, true);
        // Written at once: a kill a moment later leaves it, marked sounding.
        m_history->flush();
    }
    m_levelTimer.start();
    emit changed(true);
    return {};
}

QString PagingService::recordReason(const QString &end) const
{
    QString text = QStringLiteral("由%1发起，%2").arg(m_by, end);
    if (!m_note.isEmpty())
        text += QStringLiteral("；") + QString(m_note).replace(u'\n', QStringLiteral("；"));
    return text;
}

bool PagingService::stop(const QString &why)
{
    if (!m_on)
        return false;
    m_levelTimer.stop();
    m_pager.stop();
    m_on = false;
    const qint64 ms = m_started.msecsTo(m_clock.now());
    QString end = QStringLiteral("持续 %1").arg(durationText(ms));
    if (!why.isEmpty())
        end += QStringLiteral("，") + why;
    qCInfo(lcPaging).noquote() << "live announcement ended after" << ms << "ms" << why;
    if (m_history && m_record) {
        const bool cut = why == kCutByEmergency || why == kInputLost;
        m_history->amend(m_record, cut ? BellStatus::Interrupted : BellStatus::Done, recordReason(end));
        m_history->ended(m_record);
        m_history->keep(m_record, false);
        m_history->flush();
        m_record = 0;
    }
    if (power)
        power(false, m_ids, m_everywhere);
    if (giveBackZones)
        giveBackZones();
    m_level = {};
    emit changed(false);
    return true;
}

void PagingService::readLevel()
{
    if (m_pager.inputLost()) {
        stop(kInputLost);
        return;
    }
    m_level = m_pager.level();
    emit levelRead(m_level.peak, m_level.rms);
}
