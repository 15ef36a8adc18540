#pragma once
// 系统 → 远程控制…: a thin window over RemoteForm (web/remoteform.h), which
// holds its logic. It works on the store through a connection of its own,
// then asks the engine on its channel to re-read it (Bells.Reload), which
// starts, moves or stops the page's server.
#include "remoteform.h"

#include <QDialog>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QCheckBox;

class RemoteDialog : public QDialog {
    Q_OBJECT
public:
    static inline const QString kMenuText = QStringLiteral("远程控制…");

    RemoteDialog(RemoteForm &form, QWidget *parent = nullptr);
    // The whole command: opens the data folder's store, shows the dialog,
    // keeps what was chosen and asks the engine to re-read its store.
    static void run(QWidget *parent);

    RemoteForm::Input input() const;
    void accept() override;

private:
    void updateWarning();

    RemoteForm &m_form;
    QCheckBox *m_on = nullptr;
    QSpinBox *m_port = nullptr;
    QComboBox *m_address = nullptr;
    QLineEdit *m_certificate = nullptr;
    QLineEdit *m_key = nullptr;
    QGroupBox *m_admin = nullptr;
    QLineEdit *m_adminName = nullptr;
    QLineEdit *m_password = nullptr;
    QLineEdit *m_password2 = nullptr;
    QLabel *m_warning = nullptr;
    QLabel *m_url = nullptr;
};
