#pragma once
// 系统 → 功放电源…: the amplifiers' relays (功放电源) and the fire alarm's
// contacts (消防联动), each a list with 添加, 保存 and 删除. A thin window:
// the drivers' words, the seconds, the rows' lines and the saves live in
// RelayForm, the checks and their messages in RelayStore.
#include "relayform.h"
#include "seams.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;

class RelayDialog : public QDialog {
    Q_OBJECT
public:
    static inline const QString kMenuText = QStringLiteral("功放电源…");

    // dialogs: where 音乐's 选择… asks for a file (none: typed only).
    RelayDialog(RelayForm &form, Messages &messages, QWidget *parent = nullptr, FileDialogs *dialogs = nullptr);

    QTabWidget *tabs = nullptr;
    // 功放电源
    QListWidget *relayList = nullptr;
    QLineEdit *relayName = nullptr;
    QComboBox *relayDriver = nullptr; // data: the stored code
    QPlainTextEdit *relayAddress = nullptr;
    QLabel *relayHint = nullptr;
    QSpinBox *relayChannel = nullptr;
    QListWidget *relayZones = nullptr; // checkable; the first row: none
    QDoubleSpinBox *relayPre = nullptr;  // seconds
    QDoubleSpinBox *relayHold = nullptr; // seconds
    QSpinBox *relayOrder = nullptr;
    // 消防联动
    QListWidget *inputList = nullptr;
    QLineEdit *inputName = nullptr;
    QComboBox *inputDriver = nullptr;
    QLineEdit *inputAddress = nullptr;
    QLabel *inputHint = nullptr;
    QSpinBox *inputChannel = nullptr;
    QLineEdit *inputMusic = nullptr;
    QPushButton *inputChooseMusic = nullptr;
    QListWidget *inputZones = nullptr;
    QCheckBox *inputEndOnOpen = nullptr;

    // Whether anything was saved or deleted: the engine then reads the relays again.
    bool changed() const { return m_form.changed(); }

    void addRelay();
    void saveRelay();
    void deleteRelay();
    void addInput();
    void saveInput();
    void deleteInput();
    void chooseMusic();

private:
    QWidget *buildRelayTab();
    QWidget *buildInputTab();
    void reloadRelays(qint64 select = 0);
    void reloadInputs(qint64 select = 0);
    void showRelay();
    void showInput();
    Relay editedRelay() const;
    FireInput editedInput() const;
    // Saves the row (id 0: adds it); a refusal shows the store's message.
    template <class Row, class Reload> void store(const Row &row, Reload reload);

    RelayForm &m_form;
    Messages &m_messages;
    FileDialogs *m_dialogs = nullptr;
    QList<Relay> m_relays;
    QList<FireInput> m_inputs;
};
