#include "storetext.h"

namespace storetext {

namespace {

bool has(const QString &text, const char *needle)
{
    return text.contains(QLatin1String(needle), Qt::CaseInsensitive);
}

QString faultText(Fault fault)
{
    switch (fault) {
    case Fault::Full:
        return QStringLiteral("磁盘空间已满，铃声列表文件无法写入");
    case Fault::Io:
        return QStringLiteral("磁盘读写出错，铃声列表文件无法读写");
    case Fault::Damaged:
        return QStringLiteral("铃声列表文件已损坏");
    case Fault::ReadOnly:
        return QStringLiteral("铃声列表文件只能读取，修改无法保存");
    case Fault::Busy:
        return QStringLiteral("铃声列表文件正被其他程序占用，请稍后再试");
    case Fault::CannotOpen:
        return QStringLiteral("铃声列表文件无法打开");
    case Fault::None:
    case Fault::Other:
        break;
    }
    return QStringLiteral("铃声列表文件读写失败");
}

QString withDetail(const QString &chinese, const QString &engineText)
{
    const QString detail = engineText.trimmed();
    return detail.isEmpty() ? chinese : chinese + QStringLiteral("（%1）").arg(detail);
}

} // namespace

Fault classify(const QString &t)
{
    if (t.trimmed().isEmpty())
        return Fault::None;
    if (has(t, "disk is full") || has(t, "database or disk is full"))
        return Fault::Full;
    if (has(t, "malformed") || has(t, "not a database") || has(t, "file is encrypted"))
        return Fault::Damaged;
    if (has(t, "disk I/O error"))
        return Fault::Io;
    if (has(t, "readonly") || has(t, "read-only") || has(t, "只能读取"))
        return Fault::ReadOnly;
    if (has(t, "locked") || has(t, "busy"))
        return Fault::Busy;
    if (has(t, "unable to open") || has(t, "无法打开"))
        return Fault::CannotOpen;
    return Fault::Other;
}

QString describe(const QString &engineText)
{
    // Our own messages (Chinese, or already described) pass unchanged.
    if (!engineText.isEmpty() && engineText.front().unicode() >= 0x2E80)
        return engineText;
    return withDetail(faultText(classify(engineText)), engineText);
}

QString ringingFromCopy(Fault fault, const QString &copyDate, const QString &engineText)
{
    return withDetail(faultText(fault)
                          + QStringLiteral("：正在按 %1 的备份打铃，修改不会保存；原文件保留在 data 文件夹中待检查")
                                .arg(copyDate),
                      engineText);
}

QString noCopy(Fault fault, const QString &engineText)
{
    return withDetail(faultText(fault) + QStringLiteral("，也没有可用的备份：铃声列表为空，程序每分钟重试一次"),
                      engineText);
}

QString restoredFromCopy(const QString &copyDate)
{
    return QStringLiteral("铃声列表文件不见了，已从 %1 的备份恢复：请核对铃声列表").arg(copyDate);
}

QString writtenBackFromMemory()
{
    return QStringLiteral("铃声列表文件被删除或移走，已按程序内存中的列表重新写回");
}

QString historyQueued(int records, const QString &engineText)
{
    return withDetail(QStringLiteral("打铃记录暂时无法保存：%1 条记录保存在内存中，恢复后自动写入").arg(records),
                      engineText);
}

QString notWrittenBack(const QString &engineText)
{
    return withDetail(QStringLiteral("铃声列表文件被删除，没能写回：铃声按程序内存中的列表继续打铃，修改不会保存"),
                      engineText);
}

QString copyFailed(const QString &engineText)
{
    return QStringLiteral("铃声列表的备份没有做成：") + describe(engineText);
}

} // namespace storetext
