#pragma once
// 系统 → 分区设置…: the zones (a name, the output it plays on, its 提前) with
// 添加, 保存, 删除 and 试听. A thin window: the checks live in ZoneStore,
// the list of outputs in OutputChoice, the tone in OutputPreview.
#include "seams.h"
#include "soundoutputs.h"
#include "zonestore.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QSpinBox;

class ZoneDialog : public QDialog {
    Q_OBJECT
public:
    static inline const QString kMenuText = QStringLiteral("分区设置…");

    ZoneDialog(ZoneStore &zones, OutputChoice &outputs, OutputPreview::MakePlayer makePlayer,
               Messages &messages, QWidget *parent = nullptr);
    ~ZoneDialog() override;

    QListWidget *list = nullptr;
    QLineEdit *name = nullptr;
    QComboBox *output = nullptr;
    QSpinBox *lead = nullptr;
    // Whether anything was saved or deleted: the window then reloads zones.
    bool changed() const { return m_changed; }

    void addZone();
    void saveZone();
    void deleteZone();
    void listen();

private:
    void reload(qint64 select = 0);
    void showSelected();
    Zone edited() const;
    qint64 selectedId() const;

    ZoneStore &m_zones;
    OutputChoice &m_outputs;
    OutputPreview m_preview;
    Messages &m_messages;
    QList<Zone> m_list;
    bool m_changed = false;
};
