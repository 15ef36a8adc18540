#pragma once
// The window's strip for the live announcement (实时喊话): the button (and
// its hotkey) that starts and ends it, the zones to reach, the level meter
// and the time it has lasted. A thin widget over PagingControl, which
// holds the logic and talks to the engine over its channel.
#include "pagingcontrol.h"

#include <QWidget>

class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QTimer;
class QToolButton;

class PagingPanel : public QWidget {
    Q_OBJECT
public:
    static inline const QKeySequence kHotkey{Qt::Key_F9};
    static inline const QString kAllZones = QStringLiteral("全部分区");

    // Takes the link.
    PagingPanel(PagingLink *link, QWidget *parent = nullptr);

    PagingControl &control() { return *m_control; }
    QPushButton *button() const { return m_button; }
    QProgressBar *meter() const { return m_meter; }
    QLabel *status() const { return m_status; }

private:
    void refreshView();
    void fillZones();

    PagingControl *m_control;
    QPushButton *m_button;
    QToolButton *m_zones;
    QMenu *m_zoneMenu;
    QProgressBar *m_meter;
    QLabel *m_status;
    QTimer *m_tick; // the time shown, once a second while it lasts
};
