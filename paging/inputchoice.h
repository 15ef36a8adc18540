#pragma once
// 声音输出's choice of the live announcement's input (a microphone, a line
// in), listed as the outputs are: the system's default input first, then
// the sources the sound server offers (their monitors left out), and one
// chosen before that is not there now, so that a choice is never lost
// while a microphone is unplugged. Also the chime before the voice.
#include "livepager.h"
#include "settings.h"

#include <vector>

class InputChoice {
public:
    static inline const QString kDefaultText = QStringLiteral("系统默认输入");
    static inline const QString kChimeText = QStringLiteral("喊话前播放提示音");

    explicit InputChoice(Settings &settings);

    // Reads the server's sources; the reason when it did not answer (the
    // list then holds the default and the kept choice).
    QString load();
    void rebuild(const std::vector<LivePager::Source> &offered);

    int count() const { return int(m_entries.size()); }
    QString text(int index) const;
    QString name(int index) const;
    int chosen() const { return m_chosen; }
    void choose(int index);
    bool chime() const { return m_chime; }
    void setChime(bool on) { m_chime = on; }
    // Keeps both; throws StoreError.
    void save();

private:
    Settings &m_settings;
    std::vector<LivePager::Source> m_entries;
    QString m_absent; // chosen and not offered now
    int m_chosen = 0;
    bool m_chime = true;
};
