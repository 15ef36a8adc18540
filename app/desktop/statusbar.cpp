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

void DaLingStatusBar::setNote(const QString &note)
{
    m_note = note;
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
    if (!m_note.isEmpty()) {
        // Clear of the size grip, over the end of the link's text if the
        // window is narrow: the timetable matters more.
        p.setClipping(false);
        const QRect noteRect(0, 2, width() - 24, height() - 2);
        const int w = p.fontMetrics().horizontalAdvance(m_note) + 16;
        p.fillRect(QRect(noteRect.right() - w, 0, w + 1, height()), palette().color(QPalette::Button));
        p.setPen(QColor(0, 0, 128));
        p.drawText(noteRect, Qt::AlignRight | Qt::AlignTop | Qt::TextSingleLine, m_note);
    }
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
