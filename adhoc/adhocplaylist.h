#pragma once
// The ad-hoc playlist without widgets: the lines read from table linshi, the
// selected line, and the commands that add, delete, clear and reorder them.
// The window shows it; the ad-hoc player plays its selected line.
#include "playliststore.h"
#include "seams.h"

#include <QObject>

struct PlaylistLine {
    qint64 id = 0;
    QString text; // the file name, without its folder
};

class AdhocPlaylist : public QObject {
    Q_OBJECT
public:
    static inline const QString kNoMusic = QStringLiteral("无音乐文件！");
    static inline const QString kChoose = QStringLiteral("请选择音乐文件！");

    AdhocPlaylist(BellStore &store, Messages &messages, FileDialogs &dialogs,
                  QObject *parent = nullptr);

    PlaylistStore &store() { return m_store; }
    const QList<PlaylistLine> &lines() const { return m_lines; }
    int count() const { return int(m_lines.size()); }
    QList<qint64> lineIds() const;

    // The selected line, −1 when none. Only a line of the list can be
    // selected; the selection goes away only with a rebuild of the list.
    int selected() const { return m_selected; }
    void select(int row);

    // Each of these rebuilds the list from the store and leaves no line
    // selected; store failures throw StoreError.
    void Refresh();
    void addFiles(); // "添加文件"
    // " 删除文件": the selected line; tells the operator when there is none.
    void deleteSelected();
    void clear(); // "清空文件"

    // A dragged line may be dropped on row (−1 for no line there).
    bool acceptsDrop(int row) const { return m_selected >= 0 && row >= 0 && row < count(); }
    // Moves the selected line to row and selects it there; only the list
    // changes, the store learns the order at saveOrder().
    void dropOn(int row);
    void saveOrder();

signals:
    void linesChanged();
    void selectionChanged(int row);

private:
    PlaylistStore m_store;
    Messages &m_messages;
    FileDialogs &m_dialogs;
    QList<PlaylistLine> m_lines;
    int m_selected = -1;
};
