#include "ringalerts.h"
#include "secondsofday.h"

void RingAlerts::setNextSkipped(std::optional<Bell> next)
{
    if (next == m_next)
        return;
    m_next = std::move(next);
    emit changed();
}

QString RingAlerts::stoppedText() const
{
    if (!m_next)
        return {};
    return kStopped + QStringLiteral("（下一个不会响的铃声：%1 %2）")
                          .arg(inttotime(m_next->seconds), m_next->name);
}

void RingAlerts::bellNotRung(const Bell &bell)
{
    m_latest = bell;
    ++m_notRung;
    emit changed();
}

QString RingAlerts::notRungText() const
{
    if (!m_latest)
        return {};
    QString text = QStringLiteral("%1 %2 没有响：%3")
                       .arg(inttotime(m_latest->seconds), m_latest->name, m_latest->reason);
    if (m_notRung > 1)
        text += QStringLiteral("（共 %1 个铃声没有响，详见 系统 → 打铃记录…）").arg(m_notRung);
    return text;
}

void RingAlerts::dismiss()
{
    if (!m_latest)
        return;
    m_latest.reset();
    m_notRung = 0;
    emit changed();
}
