#include "bellsheet.h"

#include "apppaths.h"
#include "exchangelog.h"
#include "timetext.h"
#include "weekdaytext.h"

#include <QHash>
#include <QRegularExpression>
#include <algorithm>
#include <array>

namespace {

enum Role { Seq, Time, Name, Music, Days, Duration, Remark, Zones, RoleCount };

const char16_t *const kRoleNames[RoleCount] = {u"序号", u"时间", u"名称", u"音乐", u"周期", u"时长", u"备注", u"分区"};

// The header is looked for in this many rows from the top.
constexpr int kHeaderSearchRows = 10;
// Longer texts are titles or notes, not column headers.
constexpr int kMaxHeaderChars = 12;

QString squeezed(const QString &cell)
{
    QString s;
    for (const QChar c : cell)
        if (!c.isSpace())
            s += c;
    return s;
}

// The role a header cell names, or RoleCount. Checked in this order so that
// "备注说明" is the remark, "时长(秒)" the duration and "铃声名称" the name.
Role roleOf(const QString &cell)
{
    const QString s = squeezed(cell);
    if (s.isEmpty() || s.size() > kMaxHeaderChars)
        return RoleCount;
    auto has = [&s](const char16_t *t) { return s.contains(QString::fromUtf16(t)); };
    if (has(u"分区"))
        return Zones;
    if (has(u"时长"))
        return Duration;
    if (has(u"备注") || s == u"说明")
        return Remark;
    if (has(u"周期") || has(u"星期"))
        return Days;
    if (has(u"时间"))
        return Time;
    if (has(u"音乐") || has(u"文件"))
        return Music;
    if (has(u"名称") || has(u"名字"))
        return Name;
    if (s == u"序" || s == u"序号" || s == u"编号")
        return Seq;
    return RoleCount;
}

struct Layout {
    int header = 0; // the header row, from 0; data follow it
    std::array<int, RoleCount> col{0, 1, 2, 3, 4, -1, 5, -1}; // 分区 only by its header
};

// The first of the top rows that holds 时间 and 音乐 or 名称; without one,
// row 1 is the header and the columns keep their numbers.
Layout layoutOf(const SheetData &sheet)
{
    Layout layout;
    for (int r = 0; r < qMin(kHeaderSearchRows, sheet.rowCount()); ++r) {
        std::array<int, RoleCount> found;
        found.fill(-1);
        const QStringList &cells = sheet.rows[r];
        for (int c = 0; c < cells.size(); ++c) {
            const Role role = roleOf(cells[c]);
            if (role != RoleCount && found[role] < 0)
                found[role] = c;
        }
        if (found[Time] < 0 || (found[Music] < 0 && found[Name] < 0))
            continue;
        // Columns the header does not name keep their numbers, unless the
        // header gave that column to another role.
        for (int role = 0; role < RoleCount; ++role) {
            const int fallback = layout.col[role];
            if (found[role] < 0 && fallback >= 0 && !std::count(found.begin(), found.end(), fallback))
                found[role] = fallback;
        }
        layout.header = r;
        layout.col = found;
        if (layout.col[Seq] < 0)
            layout.col[Seq] = layout.col[Time]; // no 序号 column: the time ends the list
        return layout;
    }
    return layout;
}

bool rowHoldsSomething(const SheetData &sheet, int r)
{
    for (const QString &c : sheet.rows[r])
        if (!c.trimmed().isEmpty())
            return true;
    return sheet.hasUncalculatedFormula(r);
}

// "第9–14、20行"
QString rowRanges(const QList<int> &rows)
{
    QStringList parts;
    for (qsizetype i = 0; i < rows.size();) {
        qsizetype j = i;
        while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1)
            ++j;
        if (parts.size() == 5) {
            parts.last() += QStringLiteral("等");
            break;
        }
        parts << (j > i ? QStringLiteral("%1–%2").arg(rows[i]).arg(rows[j]) : QString::number(rows[i]));
        i = j + 1;
    }
    return QStringLiteral("第%1行").arg(parts.join(u'、'));
}

} // namespace

QString BellSheetPlan::summary() const
{
    QString s = QStringLiteral("将导入 %1 条铃声。").arg(entries.size());
    // A bell without a weekday never rings on its own: say so, as a sheet
    // without a 周期 column would otherwise silence its whole list.
    const qsizetype silent = std::count_if(entries.cbegin(), entries.cend(),
                                           [](const BellEntry &e) { return e.weekdays.isEmpty(); });
    if (silent > 0)
        s += QStringLiteral("其中 %1 条的周期为空，不会自动打铃。").arg(silent);
    if (!unknownZones.isEmpty()) {
        QStringList parts;
        for (auto it = unknownZones.cbegin(); it != unknownZones.cend(); ++it) {
            if (parts.size() == 5) {
                parts.last() += QStringLiteral("等");
                break;
            }
            parts << QStringLiteral("%1的分区“%2”").arg(rowRanges(it.value()), it.key());
        }
        s += QStringLiteral("%1不存在，这些铃声导入后不在这些分区播放。").arg(parts.join(u'、'));
    }
    if (endRow > 0 && !rowsBelow.isEmpty())
        s += QStringLiteral("第%1行的序号为空，导入到此为止；%2还有内容，不会导入。")
                 .arg(endRow)
                 .arg(rowRanges(rowsBelow));
    return s;
}

QString BellSheetPlan::question() const
{
    return summary() + QStringLiteral("原来数据会被清除，你确定导入铃声广播列表吗？");
}

QString BellSheetPlan::doneText() const
{
    return QStringLiteral("数据已经成功导入到数据库，共 %1 条铃声。").arg(entries.size());
}

BellSheetReader::BellSheetReader(QString musicFolder, std::function<bool(const QString &)> musicExists)
    : m_musicFolder(std::move(musicFolder)), m_musicExists(std::move(musicExists))
{
}

QString BellSheetReader::missingFileMessage(const QString &musicCell) const
{
    return m_musicFolder + musicCell + QStringLiteral("文件不存在，") + QStringLiteral("\r\r\r")
           + QStringLiteral("请先把文件:") + musicCell + QStringLiteral("\r")
           + QStringLiteral("复制到:") + QStringLiteral("\r\r") + m_musicFolder;
}

QString BellSheetReader::emptyMusicMessage(int sheetRow)
{
    return QStringLiteral("第%1行的【音乐】是空的，请写上这个铃声的音乐文件名。").arg(sheetRow);
}

QString BellSheetReader::badTimeMessage(int sheetRow, const QString &timeCell)
{
    return QString::number(sheetRow) + QStringLiteral("  【") + visible(timeCell)
           + QStringLiteral("】行不是日期型数据，注意检查全角数字和符号，例如 十二点三十分  12:30:00");
}

QString BellSheetReader::badWeekdaysMessage(int sheetRow, const QString &text)
{
    return WeekdayText::notUnderstood(QStringLiteral("第%1行的【周期】").arg(sheetRow), visible(text));
}

QString BellSheetReader::uncalculatedMessage(int sheetRow, const QString &column)
{
    return QStringLiteral("第%1行的【%2】是公式，但表格文件里没有公式的计算结果（这个表格保存时没有计算过）。"
                          "请先用表格程序（WPS、Excel 或 LibreOffice）打开这个文件，保存后再导入。")
        .arg(sheetRow)
        .arg(column);
}

QString BellSheetReader::noEntriesMessage()
{
    return QStringLiteral("表格中没有找到铃声记录，铃声列表没有改变。");
}

QString BellSheetReader::visible(const QString &text)
{
    QString out;
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'\t': out += QStringLiteral("\\t"); break;
        case u'\r': out += QStringLiteral("\\r"); break;
        case u'\n': out += QStringLiteral("\\n"); break;
        case 0x00A0: out += QStringLiteral("[空格]"); break;
        case 0x3000: out += QStringLiteral("[全角空格]"); break;
        default:
            if (c.category() == QChar::Other_Format || c.category() == QChar::Other_Control
                || (c.isSpace() && c != u' '))
                out += QStringLiteral("[U+%1]").arg(QString::number(c.unicode(), 16).toUpper().rightJustified(4, u'0'));
            else
                out += c;
        }
    }
    return out;
}

QStringList BellSheetReader::zoneNamesOf(const QString &cell)
{
    // Not blanks: a zone's name may hold one ("教学楼 A").
    static const QRegularExpression separators(QStringLiteral("[、,，;；]"));
    QStringList names;
    for (const QString &part : cell.split(separators))
        if (const QString name = part.trimmed(); !name.isEmpty())
            names << name;
    return names;
}

BellSheetPlan BellSheetReader::read(const SheetData &sheet) const
{
    const Layout layout = layoutOf(sheet);
    // Empty cells become empty texts, never NULL: the list query matches
    // 周期 with "like", which a NULL never satisfies.
    auto text = [&sheet](int r, int c) {
        const QString s = c >= 0 ? sheet.cell(r, c) : QString();
        return s.isNull() ? QStringLiteral("") : s;
    };
    auto refused = [](BellSheetPlan plan, const QString &why) {
        qCInfo(lcExchange) << "sheet refused:" << why;
        plan.entries.clear();
        plan.problem = why;
        return plan;
    };
    BellSheetPlan plan;
    // A list names a few files many times: each is looked up once.
    QHash<QString, bool> present;
    int r = layout.header + 1;
    for (; r < sheet.rowCount(); ++r) {
        const int sheetRow = r + 1;
        for (int role = 0; role < RoleCount; ++role)
            if (layout.col[role] >= 0 && sheet.isUncalculated(r, layout.col[role]))
                return refused(plan, uncalculatedMessage(sheetRow, QString::fromUtf16(kRoleNames[role])));
        if (sheet.cell(r, layout.col[Seq]).isEmpty())
            break;
        const QString music = text(r, layout.col[Music]);
        if (music.trimmed().isEmpty())
            return refused(plan, emptyMusicMessage(sheetRow));
        if (m_musicExists) {
            // A bare name only: a path could reach outside the music folder.
            auto known = present.constFind(music);
            if (known == present.cend())
                known = present.insert(music, AppPaths::isBareFileName(music) && m_musicExists(music));
            if (!*known)
                return refused(plan, missingFileMessage(music));
        }
        const QString timeText = text(r, layout.col[Time]);
        const auto seconds = parseTimeText(timeText);
        if (!seconds)
            return refused(plan, badTimeMessage(sheetRow, timeText));
        const QString daysText = text(r, layout.col[Days]);
        const auto days = WeekdayText::read(daysText);
        if (!days)
            return refused(plan, badWeekdaysMessage(sheetRow, daysText));
        BellEntry e;
        e.time = *seconds;
        e.name = text(r, layout.col[Name]);
        e.music = music;
        e.weekdays = *days;
        e.duration = text(r, layout.col[Duration]);
        e.remark = text(r, layout.col[Remark]);
        if (m_zones && layout.col[Zones] >= 0) {
            for (const QString &zone : zoneNamesOf(text(r, layout.col[Zones]))) {
                if (const auto id = m_zones->constFind(zone); id != m_zones->cend()) {
                    if (!e.zones.contains(*id))
                        e.zones << *id;
                } else if (QList<int> &rows = plan.unknownZones[zone]; !rows.contains(sheetRow)) {
                    rows << sheetRow;
                }
            }
            std::sort(e.zones.begin(), e.zones.end());
        }
        plan.entries.append(e);
    }
    if (r < sheet.rowCount()) {
        plan.endRow = r + 1;
        for (int below = r + 1; below < sheet.rowCount(); ++below)
            if (rowHoldsSomething(sheet, below))
                plan.rowsBelow.append(below + 1);
    }
    // A sheet without a single entry (a blank first row, an empty first
    // sheet, a file of another kind) would delete the whole list; clearing
    // it is what 清除打铃列表 is for.
    if (plan.entries.isEmpty())
        return refused(plan, noEntriesMessage());
    return plan;
}
