#include "storehealth.h"

StoreHealth::Level StoreHealth::levelOf(Problem p)
{
    switch (p) {
    case Problem::Unavailable:
    case Problem::NotWrittenBack:
    case Problem::History:
        return Level::Fault;
    case Problem::ReadOnly:
    case Problem::BackupFailed:
        return Level::Warning;
    case Problem::Restored:
        return Level::Notice;
    }
    return Level::Warning;
}

void StoreHealth::set(Problem p, const QString &text)
{
    const auto it = m_problems.constFind(p);
    if (it != m_problems.constEnd() && *it == text)
        return;
    m_problems.insert(p, text);
    emit changed();
}

void StoreHealth::clear(Problem p)
{
    if (m_problems.remove(p) > 0)
        emit changed();
}

QString StoreHealth::bandText() const
{
    QStringList lines;
    for (const QString &t : m_problems)
        lines << t;
    return lines.join(u'\n');
}

StoreHealth::Level StoreHealth::level() const
{
    Level l = Level::None;
    for (auto it = m_problems.constBegin(); it != m_problems.constEnd(); ++it)
        l = std::max(l, levelOf(it.key()));
    return l;
}
