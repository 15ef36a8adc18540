#include "statusbar.h"

#include <QMouseEvent>
#include <QPainter>

DaLingStatusBar::DaLingStatusBar(QWidget *mainWindow, QWidget *parent)
    : QStatusBar(parent ? parent : mainWindow), m_mainWindow(mainWindow)
{
    setObjectName(QStringLiteral("StatusBar1"));
    setFixedHeight(barHeight);
    setCursor(Qt::PointingHandCursor);
    setSizeGripEnabled(true);
}

void DaLingStatusBar::setText(const QString &text)
{
    m_text = text;
    update();
}

void DaLingStatusBar::paintEvent(QPaintEvent *)
{
    // The whole bar is ours to draw (no temporary messages, no item frames);
    // the size grip is a child widget and draws itself.
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Button));
    StatusBar1DrawPanel(p, QRect(0, 0, qMin(panelWidth, width()), height()));
}

void DaLingStatusBar::StatusBar1DrawPanel(QPainter &p, const QRect &panel)
{
    p.fillRect(panel, palette().color(QPalette::Button));
    QFont f = font();
    f.setPointSize(12);
    p.setFont(f);
    p.setPen(QColor(255, 0, 0));
    p.setClipRect(panel);
    // The width is taken at each drawing, so the text follows a resize.
    const int outerWidth = m_mainWindow ? m_mainWindow->frameGeometry().width() : width();
    const QRect textRect(textOffset(outerWidth), panel.top() + 2, panel.width(),
                         panel.height() - 2);
    p.drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, m_text);
}

void DaLingStatusBar::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton;
    QStatusBar::mousePressEvent(event);
}

void DaLingStatusBar::mouseReleaseEvent(QMouseEvent *event)
{
    // A click is a press and a release on the bar, as a button has it.
    const bool click = m_pressed && event->button() == Qt::LeftButton
                       && rect().contains(event->position().toPoint());
    m_pressed = false;
    QStatusBar::mouseReleaseEvent(event);
    if (click)
        emit clicked();
}
