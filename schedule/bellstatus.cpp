#include "bellstatus.h"

namespace bellstatus {

QString text(BellStatus s)
{
    switch (s) {
    case BellStatus::Done: return QStringLiteral("完成");
    case BellStatus::Waiting: return QStringLiteral("等待");
    case BellStatus::Playing: return QStringLiteral("播放");
    case BellStatus::Failed: return QStringLiteral("失败");
    case BellStatus::Missed: return QStringLiteral("错过");
    case BellStatus::Interrupted: return QStringLiteral("中断");
    case BellStatus::Passed: return QStringLiteral("已过");
    case BellStatus::InvalidTime: return QStringLiteral("时间无效");
    case BellStatus::PartlyRung: return QStringLiteral("部分播出");
    case BellStatus::None: break;
    }
    return {};
}

BellStatus fromText(const QString &t)
{
    for (BellStatus s : {BellStatus::Done, BellStatus::Waiting, BellStatus::Playing,
                         BellStatus::Failed, BellStatus::Missed, BellStatus::Interrupted,
                         BellStatus::Passed, BellStatus::InvalidTime, BellStatus::PartlyRung})
        if (t == text(s))
            return s;
    return BellStatus::None;
}

} // namespace bellstatus
