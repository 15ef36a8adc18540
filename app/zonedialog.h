#pragma once
// 系统 → 分区设置…: the zones (a name, the output it plays on, its 提前) with
// 添加, 保存, 删除 and 试听, and for zones that reach buildings through
// Snapcast whether the server answers and how many buildings listen. The
// Snapcast part shows, and the server is asked, only while some zone plays
// on a pipe sink (or on a stream the server served before). A thin
// window: the checks live in ZoneStore, the list of outputs in OutputChoice,
// the tone in OutputPreview, who listens in SnapStatus.
#include "seams.h"
#include "soundoutputs.h"
#include "zonestore.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QSpinBox;
class QTimer;
class Settings;
class SnapStatus;

class ZoneDialog : public QDialog {
    Q_OBJECT
public:
    static inline const QString kMenuText = QStringLiteral("分区设置…");

    // snap and settings: the Snapcast part (none: never shown). While it
    // shows, the dialog asks the server every kAskEveryMs.
    ZoneDialog(ZoneStore &zones, OutputChoice &outputs, OutputPreview::MakePlayer makePlayer,
               Messages &messages, QWidget *parent = nullptr, SnapStatus *snap = nullptr,
               Settings *settings = nullptr);
    static constexpr int kAskEveryMs = 2000;
    ~ZoneDialog() override;

    QListWidget *list = nullptr;
    QLineEdit *name = nullptr;
    QComboBox *output = nullptr;
    QSpinBox *lead = nullptr;
    QLabel *listeners = nullptr; // the selected zone's buildings
    QLineEdit *snapHost = nullptr;
    QSpinBox *snapPort = nullptr;
    QLabel *snapState = nullptr; // whether the server answers, its streams
    QWidget *snapPart = nullptr; // the server's row and snapState
    // Whether some zone is a Snapcast zone: its output is a pipe sink, or a
    // stream the server has served.
    bool hasSnapcastZone() const;
    // Whether anything was saved or deleted: the window then reloads zones.
    bool changed() const { return m_changed; }

    void addZone();
    void saveZone();
    void deleteZone();
    void listen();
    // Keeps the Snapcast server's host and port and asks it at once.
    void applySnapServer();

private:
    void reload(qint64 select = 0);
    // Shows the Snapcast part and asks the server only with a Snapcast zone.
    void followSnapcastZones();
    void showSelected();
    Zone edited() const;
    // Each zone's line and the selected zone's buildings, from the last answer.
    void showListeners();
    qint64 selectedId() const;

    ZoneStore &m_zones;
    OutputChoice &m_outputs;
    OutputPreview m_preview;
    Messages &m_messages;
    SnapStatus *m_snap = nullptr;
    Settings *m_settings = nullptr;
    QTimer *m_ask = nullptr;
    QList<Zone> m_list;
    bool m_changed = false;
};
