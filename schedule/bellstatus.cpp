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
    case BellStatus::None: break;
    }
    return {};
}

BellStatus fromText(const QString &t)
{
    for (BellStatus s : {BellStatus::Done, BellStatus::Waiting, BellStatus::Playing,
                         BellStatus::Failed, BellStatus::Missed, BellStatus::Interrupted})
        if (t == text(s))
            return s;
    return BellStatus::None;
}

QColor background(BellStatus s)
{
    switch (s) {
    case BellStatus::Done: return QColor(192, 220, 192); // money green
    case BellStatus::Waiting: return QColor(255, 255, 0);
    case BellStatus::Playing: return QColor(255, 0, 0);
    case BellStatus::Failed:
    case BellStatus::Missed:
    case BellStatus::Interrupted: return QColor(255, 200, 120); // a bell that did not sound
    case BellStatus::None: break;
    }
    return {};
}

QColor foreground(BellStatus s)
{
    switch (s) {
    case BellStatus::None:
    case BellStatus::Playing: return QColor(0, 0, 255);
    case BellStatus::Failed:
    case BellStatus::Missed:
    case BellStatus::Interrupted: return QColor(128, 0, 0);
    default: return QColor(0, 0, 0);
    }
}

} // namespace bellstatus
