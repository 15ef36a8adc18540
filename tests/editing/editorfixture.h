#pragma once
// A bell store in a temporary home, the board, fakes for the operator's
// boxes and the file chooser, and the editor dialog, driven through keys and
// mouse clicks as an operator would.
#include "bellboard.h"
#include "fakes.h"
#include "tformeditdaling.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

struct EditorFixture {
    TempHome home;
    BellStore store;
    FakeClock clock;
    AppPaths paths{home.path()};
    BellBoard board{store, clock, paths};
    FakePlayer editorPlayer{&clock};
    FakeMessages messages;
    FakeFileDialogs dialogs;
    TFormEditDaLing dlg{store, board, editorPlayer, messages, dialogs};

    EditorFixture() { QVERIFY(store.open(home.db()).isEmpty()); }

    qint64 add(qint64 t, const QString &name, const QString &days = QStringLiteral("一二三四五"))
    {
        return store.insert({0, t, name, name + QStringLiteral(".mp3"), days, QStringLiteral("3"),
                             QStringLiteral("r")});
    }

    // Shows the dialog without a modal loop, active and with the focus on
    // the given field.
    bool show(QWidget *focus = nullptr)
    {
        dlg.show();
        dlg.activateWindow();
        if (!QTest::qWaitForWindowActive(&dlg))
            return false;
        if (focus)
            click(focus);
        return true;
    }
    static QWidget *focused() { return QApplication::focusWidget(); }
    static void key(Qt::Key k) { QTest::keyClick(focused(), k); }
    // Latin text as keys; Chinese as the input method commits it.
    static void type(const QString &text)
    {
        for (QChar c : text) {
            if (c.unicode() < 0x80) {
                QTest::keyClick(focused(), char(c.unicode()));
            } else {
                QInputMethodEvent commit;
                commit.setCommitString(QString(c));
                QApplication::sendEvent(focused(), &commit);
            }
        }
    }
    static void click(QWidget *w) { QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center()); }
    // Types into a field after clicking into it (the old text selected away).
    void fill(QLineEdit *e, const QString &text)
    {
        click(e);
        e->selectAll();
        type(text);
    }
    QList<BellEntry> all() const { return store.list(QStringLiteral("%")); }
};
