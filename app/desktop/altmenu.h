#pragma once
// Alt pressed and released alone (no other key between) opens the window's
// menu, in every style, not only in those that ask for it.
#include <QObject>
#include <functional>

class QWidget;

class AltOpensMenu : public QObject {
public:
    // open runs on such a release in `window` (or a widget inside it).
    AltOpensMenu(QWidget *window, std::function<void()> open);

protected:
    bool eventFilter(QObject *obj, QEvent *e) override;

private:
    QWidget *m_window;
    std::function<void()> m_open;
    bool m_armed = false;
};
