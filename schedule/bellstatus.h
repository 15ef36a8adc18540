#pragma once
// The status of a bell: the texts of the grid's status column and of the
// ring history. Everything that writes or reads a status text goes through
// here; the colours belong to the window.
#include <QString>

// Passed: past before the program could ring it (started late, stopped
// mode). InvalidTime: its 时间 is not a second of the day; never rung.
// PartlyRung: heard in some of its zones only.
enum class BellStatus { None, Done, Waiting, Playing, Failed, Missed, Interrupted, Passed,
                        InvalidTime, PartlyRung };

namespace bellstatus {

// "完成", "等待", "播放", "失败", "错过", "中断", "已过", "时间无效", "部分播出"; empty for None.
QString text(BellStatus s);
// Any other text is None.
BellStatus fromText(const QString &text);
// A bell that did not sound as it should: its row keeps the mark through the
// blink and every reload of the day.
inline bool isFault(BellStatus s)
{
    return s == BellStatus::Failed || s == BellStatus::Missed || s == BellStatus::Interrupted
        || s == BellStatus::InvalidTime || s == BellStatus::PartlyRung;
}
inline bool isFault(const QString &text) { return isFault(fromText(text)); }
} // namespace bellstatus
