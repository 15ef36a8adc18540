// The .csv is written here by hand: Qt has no CSV writer and the format is
// a few lines of quoting (RFC 4180); no packaged C++ library is worth a
// dependency for it.
#include "historyreport.h"
#include "biff8writer.h"
#include "logging.h"
#include "secondsofday.h"

#include <QSaveFile>

namespace {

QString quoted(const QString &field)
{
    if (!field.contains(u',') && !field.contains(u'"') && !field.contains(u'\n')
        && !field.contains(u'\r'))
        return field;
    QString f = field;
    f.replace(u'"', QStringLiteral("\"\""));
    return u'"' + f + u'"';
}

} // namespace

QStringList HistoryReport::columnTitles()
{
    return {QStringLiteral("时间"), QStringLiteral("名称"), QStringLiteral("音乐"),
            QStringLiteral("结果"), QStringLiteral("延迟(毫秒)"), QStringLiteral("说明"),
            QStringLiteral("分区")};
}

QStringList HistoryReport::cells(const RingRecord &r)
{
    return {inttotime(r.time), r.name, r.music, bellstatus::text(r.result),
            r.delayMs ? QString::number(*r.delayMs) : QString(), r.reason, r.zones};
}

namespace {

// The workbook's sheet, and the start of an export's proposed file name.
const QString kSheetName = QStringLiteral("打铃记录");

QString suffixOf(HistoryReport::Format format)
{
    return format == HistoryReport::Format::Xls ? QStringLiteral(".xls") : QStringLiteral(".csv");
}

} // namespace

QByteArray HistoryReport::xls(const QList<RingRecord> &records)
{
    return biff8Workbook(kSheetName, rows(records));
}

QString HistoryReport::proposedName(const QDate &from, const QDate &to, Format format)
{
    const QString f = from.toString(QStringLiteral("yyyyMMdd"));
    const QString t = to.toString(QStringLiteral("yyyyMMdd"));
    return kSheetName + f + (f == t ? QString() : u'-' + t) + suffixOf(format);
}

QList<QStringList> HistoryReport::rows(const QList<RingRecord> &records)
{
    QList<QStringList> out{QStringList{QStringLiteral("日期")} + columnTitles()};
    for (const RingRecord &r : records)
        out << QStringList{RingHistory::dateText(r.date)} + cells(r);
    return out;
}

QByteArray HistoryReport::csv(const QList<RingRecord> &records)
{
    QStringList lines;
    for (const QStringList &row : rows(records)) {
        QStringList fields;
        for (const QString &c : row)
            fields << quoted(c);
        lines << fields.join(u',');
    }
    // Without the mark Excel reads the file in the machine's code page.
    return QByteArray("\xEF\xBB\xBF") + lines.join(QStringLiteral("\r\n")).toUtf8() + "\r\n";
}

int HistoryReport::exportRange(QDate from, QDate to, Format format)
{
    if (from > to)
        std::swap(from, to);
    const QList<RingRecord> records = m_history.between(from, to);
    std::optional<QString> chosen = m_dialogs.saveFile(proposedName(from, to, format));
    if (!chosen || chosen->isEmpty())
        return -1;
    QString path = *chosen;
    if (!path.endsWith(suffixOf(format), Qt::CaseInsensitive))
        path += suffixOf(format);
    if (format == Format::Xls) {
        try {
            writeBiff8File(path, kSheetName, rows(records));
        } catch (const AppError &e) {
            qCWarning(lcStore) << "ring history not exported:" << e.text();
            m_messages.plain(QStringLiteral("无法写入文件：") + path + QStringLiteral("\r\r") + e.text());
            return -1;
        }
    } else if (QSaveFile file(path);
               !file.open(QIODevice::WriteOnly) || file.write(csv(records)) < 0 || !file.commit()) {
        qCWarning(lcStore) << "ring history not exported:" << path << file.errorString();
        m_messages.plain(QStringLiteral("无法写入文件：") + path);
        return -1;
    }
    m_messages.plain(QStringLiteral("已导出 %1 条打铃记录到：\r\r").arg(records.size()) + path);
    return int(records.size());
}
