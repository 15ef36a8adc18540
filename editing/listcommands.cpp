#include "listcommands.h"
#include "ringengine.h"

ListCommands::ListCommands(BellBoard &board, TFormEditDaLing &editor, TestPlayback &test,
                           AudioPlayer &player, Messages &messages, ShowModal showModal)
    : m_board(board), m_editor(editor), m_test(&test), m_player(&player), m_messages(messages)
{
    setShowModal(std::move(showModal));
}

ListCommands::ListCommands(BellBoard &board, TFormEditDaLing &editor, Messages &messages, ShowModal showModal)
    : m_board(board), m_editor(editor), m_messages(messages)
{
    setShowModal(std::move(showModal));
}

void ListCommands::setShowModal(ShowModal showModal)
{
    if (!showModal)
        showModal = [](TFormEditDaLing &editor) { editor.exec(); };
    m_showModal = std::move(showModal);
}

QString ListCommands::deleteQuestion(const QString &number, const QString &name)
{
    return QStringLiteral("你确定删除第  ") + number + QStringLiteral(" 条 【") + name
           + QStringLiteral("】 吗？");
}

const BellEntry *ListCommands::selectedEntry() const
{
    return m_board.entryAtRow(m_board.selectedRow());
}

// The buttons are disabled while the list may not change; the handlers check
// again so that a stray call cannot edit during a bell or a test.

void ListCommands::ButtonADDClick()
{
    if (!m_board.editingEnabled())
        return;
    m_editor.clearedit();
    m_editor.beginInsert();
    m_showModal(m_editor);
    m_board.Refresh();
}

void ListCommands::ButtonEditClick()
{
    if (!m_board.editingEnabled())
        return;
    // An empty row locates nothing: the editor opens at 00:00:00 and its
    // save adds a new entry.
    const BellEntry *e = selectedEntry();
    m_editor.locate(e ? QString::number(e->id) : QString());
    m_editor.fillFromRecord();
    m_showModal(m_editor);
    m_board.Refresh();
}

void ListCommands::ButtonDelClick()
{
    if (!m_board.editingEnabled())
        return;
    const BellEntry *e = selectedEntry();
    // Asking to delete a row without an entry would ask about nothing.
    if (!e)
        throw StoreError(kNoEntry);
    const QString id = QString::number(e->id);
    const QString question = deleteQuestion(QString::number(m_board.selectedRow()), e->name);
    if (m_messages.yesNo(Messages::Kind::Confirm, question) != Messages::Answer::Yes)
        return;
    m_editor.clearedit();
    m_editor.deleteRecord(id);
    m_board.Refresh();
}

void ListCommands::N6Click()
{
    if (m_messages.noYes(Messages::Kind::Confirm, kClearQuestion) != Messages::Answer::Yes)
        return;
    m_board.store().clear();
    m_board.Refresh();
}

void ListCommands::StringGridshowDblClick()
{
    if (m_board.running() || !m_test)
        return;
    const bool started = !m_board.testing();
    if (started)
        m_test->ButtonCheckClick(); // starts the test, which already plays the row once
    const BellEntry *e = selectedEntry();
    // A bell with zones is heard in its zones only, as it rings: never
    // also on 铃声输出.
    if (e && m_test->playsInZones(*e)) {
        if (!started)
            m_test->playSelectedInZones();
        return;
    }
    if (!started)
        m_test->stopSound(); // the zones of the row played before fall silent too
    const QString music = e ? e->music : QString();
    m_board.setYunXing(music);
    try {
        // An empty row names no file: the folder itself is nothing to play.
        if (music.isEmpty())
            throw AudioError(BellBoard::kNotFound);
        ringFile(m_board, *m_player, music);
    } catch (const AudioError &e) {
        m_messages.plain(BellBoard::ringFailureText(e));
    } catch (const AppError &e) {
        m_messages.plain(BellBoard::ringFailureText(e));
    }
}
