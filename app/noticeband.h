#pragma once
// A band across the top of a window that says what is wrong until it is
// put right: a text, a colour and, when given, one button (for a notice the
// operator may dismiss, or an action). Hidden while it has nothing to say.
#include <QColor>
#include <QFrame>

class QLabel;
class QPushButton;

class NoticeBand : public QFrame {
    Q_OBJECT
public:
    // Background colours of the levels the program uses.
    static inline const QColor kFault = QColor(255, 205, 205);
    static inline const QColor kWarning = QColor(255, 236, 170);
    static inline const QColor kNotice = QColor(214, 234, 255);

    explicit NoticeBand(QWidget *parent = nullptr);

    // An empty text hides the band; an empty button text hides the button.
    void showNotice(const QString &text, const QColor &background, const QString &buttonText = {});
    void clearNotice() { showNotice({}, {}); }
    QString text() const;
    QLabel *label() const { return m_label; }
    QPushButton *button() const { return m_button; }

signals:
    void buttonClicked();

private:
    QLabel *m_label;
    QPushButton *m_button;
};
