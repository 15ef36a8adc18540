#pragma once
// The main window's status bar (StatusBar1): one drawn panel with a fixed
// line of red text, placed at a sixth of the main window's width; a click
// anywhere on it opens the maker's web site (the window connects clicked()).
#include <QPointer>
#include <QStatusBar>

class DaLingStatusBar : public QStatusBar {
    Q_OBJECT
public:
    static constexpr int barHeight = 30;
    static constexpr int panelWidth = 800;
    static QString defaultText()
    {
        return QStringLiteral("Quorlin学校铃声广播系统 — 技术支持：Quorlin官网");
    }
    // Where the text starts, from the bar's left edge, for a main window of
    // the given outer width.
    static int textOffset(int windowOuterWidth) { return windowOuterWidth / 6; }

    // mainWindow: whose outer width places the text at each drawing.
    explicit DaLingStatusBar(QWidget *mainWindow, QWidget *parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString &text);
    // A second text at the right end, in navy (the timetable in use).
    QString note() const { return m_note; }
    void setNote(const QString &note);

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void StatusBar1DrawPanel(QPainter &painter, const QRect &panel);

    QPointer<QWidget> m_mainWindow;
    QString m_text = defaultText();
    QString m_note;
    bool m_pressed = false;
};
