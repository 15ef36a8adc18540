#include "sheetexport.h"

#include "biff8writer.h"
#include "dayschedule.h"
#include "secondsofday.h"

#include <QHash>
#include <algorithm>

namespace BellListSheet {
QString sheetName() { return QStringLiteral("广播铃声列表"); }
QStringList header()
{
    return {QStringLiteral("序"), QStringLiteral("时间"), QStringLiteral("名称"),
            QStringLiteral("音乐"), QStringLiteral("周期"), QStringLiteral("时长"),
            QStringLiteral("备注")};
}
QString zonesHeader() { return QStringLiteral("分区"); }
QString proposedFileName() { return QStringLiteral("Quorlin学校铃声广播列表"); }
} // namespace BellListSheet

SheetExport::SheetExport(const DaySchedule &bells, Messages &messages, FileDialogs &dialogs,
                         std::function<void()> afterRow)
    : m_bells(bells), m_messages(messages), m_dialogs(dialogs),
      m_afterRow(std::move(afterRow))
{
}

QString SheetExport::withSuffix(const QString &chosen)
{
    if (chosen.endsWith(QStringLiteral(".xls"), Qt::CaseInsensitive))
        return chosen;
    return chosen + QStringLiteral(".xls");
}

QList<QStringList> SheetExport::sheetRows() const
{
    QList<QStringList> rows{BellListSheet::header()};
    // A copy: a reload while the window handles its events between rows
    // must not mix two lists. An entry without a name is still an entry.
    const QList<BellEntry> entries = m_bells.entries();
    QHash<qint64, QString> zoneNames;
    if (zones)
        for (const Zone &z : zones())
            zoneNames.insert(z.id, z.name);
    auto namesOf = [&zoneNames](const BellEntry &e) {
        QStringList names;
        for (qint64 id : e.zones)
            if (const auto it = zoneNames.constFind(id); it != zoneNames.cend())
                names << *it;
        return names.join(u'、');
    };
    // A list without zones keeps the layout older readers know.
    const bool withZones = std::any_of(entries.cbegin(), entries.cend(),
                                       [&](const BellEntry &e) { return !namesOf(e).isEmpty(); });
    if (withZones)
        rows[0] << BellListSheet::zonesHeader();
    for (int i = 0; i < entries.size(); ++i) {
        const BellEntry &e = entries[i];
        const QString time = e.hasValidTime() ? inttotime(e.time) : QString();
        rows.append({QString::number(i + 1), QStringLiteral(" ") + time, e.name,
                     e.music, e.weekdays, e.duration, e.remark});
        if (withZones)
            rows.last() << namesOf(e);
        if (m_afterRow)
            m_afterRow();
    }
    return rows;
}

void SheetExport::run()
{
    const auto chosen = m_dialogs.saveFile(BellListSheet::proposedFileName());
    if (!chosen)
        return;
    const QString path = withSuffix(*chosen);
    const QList<QStringList> rows = sheetRows();
    writeBiff8File(path, BellListSheet::sheetName(), rows);
    m_messages.plain(savedText(rows));
}

QString SheetExport::savedText(const QList<QStringList> &rows)
{
    // A cell of the workbook holds at most Biff8::kMaxTextLength characters;
    // the operator learns which entries were shortened.
    QStringList cut;
    for (qsizetype r = 1; r < rows.size(); ++r)
        for (const QString &cell : rows[r])
            if (cell.size() > Biff8::kMaxTextLength) {
                cut.append(rows[r].value(0));
                break;
            }
    if (cut.isEmpty())
        return QStringLiteral("数据已经成功保存");
    if (cut.size() > 10)
        cut = cut.mid(0, 10) << QStringLiteral("……");
    return QStringLiteral("数据已经成功保存，但第%1条铃声的文字超过%2个字，表格中只保存了前%2个字。")
        .arg(cut.join(u'、'))
        .arg(Biff8::kMaxTextLength);
}
