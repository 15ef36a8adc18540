#pragma once
// The main window's commands on the bell list: add, change, delete, clear,
// and the double-click that plays a row through test playback. Each reloads
// the grid when done. Failures are thrown (AppError, StoreError, AudioError)
// for the main window to show in the general error box.
#include "audioplayer.h"
#include "bellboard.h"
#include "seams.h"
#include "testplayback.h"
#include "tformeditdaling.h"

#include <functional>

class ListCommands {
public:
    // Shows the editor modally and returns once it has closed. The default
    // runs exec(); tests put the operator's actions here.
    using ShowModal = std::function<void(TFormEditDaLing &)>;

    // player is the main window's MediaPlayer1.
    ListCommands(BellBoard &board, TFormEditDaLing &editor, TestPlayback &test, AudioPlayer &player,
                 Messages &messages, ShowModal showModal = {});

    // Without test playback (a window whose engine plays the bells
    // elsewhere): the double-click is the window's own matter then.
    ListCommands(BellBoard &board, TFormEditDaLing &editor, Messages &messages, ShowModal showModal = {});

    void setShowModal(ShowModal showModal);

    static inline const QString kClearQuestion =
        QStringLiteral("原来数据会被清除，你确定清除铃声广播列表吗？");
    static inline const QString kNoEntry = QStringLiteral("所选行没有铃声记录，无法删除");
    static QString deleteQuestion(const QString &number, const QString &name);

    void ButtonADDClick();         // "添  加"
    void ButtonEditClick();        // "修  改"
    void ButtonDelClick();         // "删  除"
    void N6Click();                // "清除打铃列表"
    void StringGridshowDblClick(); // double-click on a grid row

private:
    const BellEntry *selectedEntry() const; // nullptr on a spare row

    BellBoard &m_board;
    TFormEditDaLing &m_editor;
    TestPlayback *m_test = nullptr;
    AudioPlayer *m_player = nullptr;
    Messages &m_messages;
    ShowModal m_showModal;
};
