#pragma once
// 系统 → 声音输出…: a thin window over OutputChoice (the list and the two
// choices) and OutputPreview (试听); all of its logic lives there.
#include "seams.h"
#include "soundoutputs.h"

class InputChoice;
class QCheckBox;

#include <QDialog>

class QComboBox;
class QLabel;

class OutputDialog : public QDialog {
    Q_OBJECT
public:
    static inline const QString kMenuText = QStringLiteral("声音输出…");

    // input, when given: the live announcement's input and chime, listed too.
    OutputDialog(OutputChoice &choice, OutputPreview::MakePlayer makePlayer, Messages &messages,
                 QWidget *parent = nullptr, InputChoice *input = nullptr);
    ~OutputDialog() override;

    QComboBox *combo(SoundOutputs::Role role) const { return m_combo[role]; }
    QComboBox *inputCombo() const { return m_inputCombo; }
    QCheckBox *chimeBox() const { return m_chime; }
    // Reads the server's list again (the button 刷新, and once on opening).
    void refresh();
    void preview(SoundOutputs::Role role);
    void accept() override;

private:
    void fill();

    OutputChoice &m_choice;
    OutputPreview m_preview;
    Messages &m_messages;
    QComboBox *m_combo[2] = {nullptr, nullptr};
    QLabel *m_note = nullptr;
    int m_retries = 0;
    InputChoice *m_input = nullptr;
    QComboBox *m_inputCombo = nullptr;
    QCheckBox *m_chime = nullptr;
};
