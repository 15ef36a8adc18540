#include "adhocplaylist.h"

AdhocPlaylist::AdhocPlaylist(BellStore &store, Messages &messages, FileDialogs &dialogs,
                             QObject *parent)
    : QObject(parent), m_store(store), m_messages(messages), m_dialogs(dialogs)
{
}

QList<qint64> AdhocPlaylist::lineIds() const
{
    QList<qint64> ids;
    ids.reserve(m_lines.size());
    for (const PlaylistLine &l : m_lines)
        ids << l.id;
    return ids;
}

void AdhocPlaylist::select(int row)
{
    if (row < 0 || row >= count() || row == m_selected)
        return;
    m_selected = row;
    emit selectionChanged(row);
}

void AdhocPlaylist::Refresh()
{
    const QList<PlaylistItem> items = m_store.refresh();
    m_lines.clear();
    m_lines.reserve(items.size());
    for (const PlaylistItem &it : items)
        m_lines.append({it.id, it.music});
    m_selected = -1;
    emit linesChanged();
}

void AdhocPlaylist::addFiles()
{
    const QStringList files = m_dialogs.openFiles();
    if (files.isEmpty())
        return;
    m_store.addFiles(files);
    Refresh();
}

void AdhocPlaylist::deleteSelected()
{
    if (m_lines.isEmpty()) {
        m_messages.plain(kNoMusic);
        return;
    }
    if (m_selected < 0) {
        m_messages.plain(kChoose);
        return;
    }
    m_store.remove(m_lines[m_selected].id);
    Refresh();
}

void AdhocPlaylist::clear()
{
    m_store.clear();
    Refresh();
}

void AdhocPlaylist::dropOn(int row)
{
    if (!acceptsDrop(row) || row == m_selected)
        return;
    m_lines.move(m_selected, row);
    m_selected = row;
    emit linesChanged();
    emit selectionChanged(row);
}

void AdhocPlaylist::saveOrder()
{
    m_store.saveOrder(lineIds());
}
