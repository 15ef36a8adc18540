#include "sheetimport.h"

#include "apppaths.h"
#include "zonestore.h"

#include <QFileInfo>

SheetImport::SheetImport(BellStore &store, const AppPaths &paths, Messages &messages,
                         FileDialogs &dialogs, std::function<void()> afterRow,
                         std::function<void()> refresh)
    : m_store(store), m_paths(paths), m_messages(messages), m_dialogs(dialogs),
      m_afterRow(std::move(afterRow)), m_refresh(std::move(refresh))
{
}

BellSheetReader SheetImport::sheetReader() const
{
    const AppPaths &paths = m_paths;
    BellSheetReader reader(paths.musicFolder(), [&paths](const QString &bareName) {
        return QFileInfo(paths.musicFile(bareName)).isFile();
    });
    QHash<QString, qint64> zones;
    for (const Zone &z : ZoneStore(m_store).list())
        zones.insert(z.name, z.id);
    reader.setZones(std::move(zones));
    return reader;
}

BellSheetPlan SheetImport::planOf(const SheetData &sheet) const
{
    return sheetReader().read(sheet);
}

void SheetImport::run()
{
    const auto chosen = m_dialogs.openFile(m_lastFile);
    if (!chosen)
        return;
    m_lastFile = *chosen;

    const BellSheetPlan plan = planOf(readSheetFile(*chosen));
    if (!plan.problem.isEmpty()) {
        m_messages.plain(plan.problem);
        return;
    }
    if (m_messages.yesNo(Messages::Kind::Confirm, plan.question()) != Messages::Answer::Yes)
        return;
    const QList<BellEntry> &entries = plan.entries;

    try {
        m_store.replaceAll(entries, [this](int) {
            if (m_afterRow)
                m_afterRow();
        });
    } catch (const AppError &e) {
        throw AppError(e.text() + QStringLiteral("，原来的铃声列表没有改变"));
    } catch (const std::exception &e) {
        throw AppError(QString::fromLocal8Bit(e.what()) + QStringLiteral("，原来的铃声列表没有改变"));
    }
    m_messages.plain(plan.doneText());
    if (m_refresh)
        m_refresh();
}
