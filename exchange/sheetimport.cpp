#include "sheetimport.h"

#include "apppaths.h"
#include "timetext.h"

#include <QFileInfo>
#include <QHash>

SheetImport::SheetImport(BellStore &store, const AppPaths &paths, Messages &messages,
                         FileDialogs &dialogs, std::function<void()> processEvents,
                         std::function<void()> refresh)
    : m_store(store), m_paths(paths), m_messages(messages), m_dialogs(dialogs),
      m_processEvents(std::move(processEvents)), m_refresh(std::move(refresh))
{
}

QString SheetImport::missingFileMessage(const QString &musicCell) const
{
    const QString folder = m_paths.musicFolder();
    return folder + musicCell + QStringLiteral("文件不存在，") + QStringLiteral("\r\r\r")
           + QStringLiteral("请先把文件:") + musicCell + QStringLiteral("\r")
           + QStringLiteral("复制到:") + QStringLiteral("\r\r") + folder;
}

QString SheetImport::badTimeMessage(int sheetRow, const QString &timeCell)
{
    return QString::number(sheetRow) + QStringLiteral("  【") + timeCell
           + QStringLiteral("】行不是日期型数据，注意检查全角数字和符号，例如 十二点三十分  12:30:00");
}

QString SheetImport::question()
{
    return QStringLiteral("原来数据会被清除，你确定导入铃声广播列表吗？");
}

QString SheetImport::noEntriesMessage()
{
    return QStringLiteral("表格中没有找到铃声记录，铃声列表没有改变。");
}

QList<BellEntry> SheetImport::entriesOf(const SheetData &sheet, QString *problem) const
{
    // Column numbers from 0: 序 时间 名称 音乐 周期, then 时长 备注 or 备注.
    const bool exportLayout = sheet.cell(0, 5).trimmed() == QStringLiteral("时长")
                              && sheet.cell(0, 6).trimmed() == QStringLiteral("备注");
    // Empty cells become empty texts, never NULL: the list query matches
    // 周期 with "like", which a NULL never satisfies.
    auto text = [&sheet](int r, int c) {
        const QString s = sheet.cell(r, c);
        return s.isNull() ? QStringLiteral("") : s;
    };
    QList<BellEntry> entries;
    QHash<QString, bool> present;
    for (int r = 1; r < sheet.rowCount(); ++r) {
        if (sheet.cell(r, 0).isEmpty())
            break;
        const QString music = text(r, 3);
        // A bare name only: a path could reach outside the music folder.
        // A list names a few files many times: each is looked up once.
        auto known = present.constFind(music);
        if (known == present.cend())
            known = present.insert(music, AppPaths::isBareFileName(music)
                                              && QFileInfo(m_paths.musicFile(music)).isFile());
        if (!*known) {
            *problem = missingFileMessage(music);
            return {};
        }
        const QString timeText = text(r, 1);
        const auto seconds = parseTimeText(timeText);
        if (!seconds) {
            *problem = badTimeMessage(r + 1, timeText);
            return {};
        }
        BellEntry e;
        e.time = *seconds;
        e.name = text(r, 2);
        e.music = music;
        e.weekdays = text(r, 4);
        if (exportLayout) {
            e.duration = text(r, 5);
            e.remark = text(r, 6);
        } else {
            e.duration = QStringLiteral("");
            e.remark = text(r, 5);
        }
        entries.append(e);
    }
    problem->clear();
    return entries;
}

void SheetImport::run()
{
    const auto chosen = m_dialogs.openFile(m_lastFile);
    if (!chosen)
        return;
    m_lastFile = *chosen;

    const SheetData sheet = readSheetFile(*chosen);
    QString problem;
    const QList<BellEntry> entries = entriesOf(sheet, &problem);
    if (!problem.isEmpty()) {
        m_messages.plain(problem);
        return;
    }
    // A sheet without a single entry (a blank A2, an empty first sheet, a
    // file of another kind) would delete the whole list; clearing it is
    // what 清除打铃列表 is for.
    if (entries.isEmpty()) {
        m_messages.plain(noEntriesMessage());
        return;
    }
    if (m_messages.yesNo(Messages::Kind::Confirm, question()) != Messages::Answer::Yes)
        return;

    try {
        m_store.replaceAll(entries, [this](int) {
            if (m_processEvents)
                m_processEvents();
        });
    } catch (const AppError &e) {
        throw AppError(e.text() + QStringLiteral("，原来的铃声列表没有改变"));
    } catch (const std::exception &e) {
        throw AppError(QString::fromLocal8Bit(e.what()) + QStringLiteral("，原来的铃声列表没有改变"));
    }
    m_messages.plain(QStringLiteral("数据已经成功导入到数据库"));
    if (m_refresh)
        m_refresh();
}
