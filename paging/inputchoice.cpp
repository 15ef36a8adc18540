#include "inputchoice.h"

#include "pagingservice.h"

InputChoice::InputChoice(Settings &settings) : m_settings(settings)
{
    m_chime = m_settings.flag(PagingService::kChimeSetting, true);
    rebuild({});
}

QString InputChoice::load()
{
    const auto offered = LivePager::sources();
    if (!offered) {
        rebuild({});
        return QStringLiteral("声音服务器没有响应");
    }
    rebuild(*offered);
    return {};
}

void InputChoice::rebuild(const std::vector<LivePager::Source> &offered)
{
    const QString kept = m_settings.value(PagingService::kInputSetting);
    m_entries = {LivePager::Source{QString(), kDefaultText}};
    m_entries.insert(m_entries.end(), offered.begin(), offered.end());
    m_absent.clear();
    m_chosen = 0;
    for (int i = 0; i < count(); ++i)
        if (m_entries[size_t(i)].name == kept)
            m_chosen = i;
    if (!kept.isEmpty() && m_chosen == 0) {
        m_absent = kept;
        m_entries.push_back({kept, kept});
        m_chosen = count() - 1;
    }
}

QString InputChoice::text(int index) const
{
    if (index < 0 || index >= count())
        return {};
    const LivePager::Source &s = m_entries[size_t(index)];
    if (s.name.isEmpty())
        return s.description;
    if (s.name == m_absent)
        return QStringLiteral("%1（当前不存在）").arg(s.name);
    return s.description == s.name ? s.name : QStringLiteral("%1（%2）").arg(s.description, s.name);
}

QString InputChoice::name(int index) const
{
    return index >= 0 && index < count() ? m_entries[size_t(index)].name : QString();
}

void InputChoice::choose(int index)
{
    if (index >= 0 && index < count())
        m_chosen = index;
}

void InputChoice::save()
{
    m_settings.setValue(PagingService::kInputSetting, name(m_chosen));
    m_settings.setFlag(PagingService::kChimeSetting, m_chime);
}
