#include "remotedialog.h"

#include "apppaths.h"
#include "bellstore.h"
#include "instance.h"
#include "rpcclient.h"
#include "storesql.h"
#include "weblog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

QLineEdit *fileField(QWidget *parent, QFormLayout *form, const QString &label, const QString &value)
{
    auto *edit = new QLineEdit(value, parent);
    auto *browse = new QPushButton(QStringLiteral("浏览…"), parent);
    browse->setObjectName(QStringLiteral("browse"));
    QObject::connect(browse, &QPushButton::clicked, parent, [parent, edit] {
        const QString f = QFileDialog::getOpenFileName(parent, QString(), edit->text(),
                                                       QStringLiteral("PEM 文件 (*.pem *.crt *.key);;所有文件 (*)"));
        if (!f.isEmpty())
            edit->setText(f);
    });
    auto *row = new QHBoxLayout;
    row->addWidget(edit, 1);
    row->addWidget(browse);
    form->addRow(label, row);
    return edit;
}

} // namespace

RemoteDialog::RemoteDialog(RemoteForm &form, QWidget *parent) : QDialog(parent), m_form(form)
{
    setWindowTitle(QStringLiteral("远程控制"));
    const RemoteSettings s = form.settings();
    auto *layout = new QVBoxLayout(this);
    auto *fields = new QFormLayout;
    m_on = new QCheckBox(QStringLiteral("允许从浏览器远程控制"), this);
    m_on->setChecked(s.enabled());
    fields->addRow(m_on);
    m_port = new QSpinBox(this);
    m_port->setRange(1, 65535);
    m_port->setValue(s.enabled() ? s.port : RemoteSettings::kDefaultPort);
    fields->addRow(QStringLiteral("端口"), m_port);
    m_address = new QComboBox(this);
    QStringList choices = RemoteForm::addressChoices();
    if (!choices.contains(s.address))
        choices << s.address; // kept even when the interface is down now
    for (const QString &a : std::as_const(choices))
        m_address->addItem(RemoteForm::addressText(a), a);
    m_address->setCurrentIndex(int(choices.indexOf(s.address)));
    fields->addRow(QStringLiteral("监听地址"), m_address);
    m_certificate = fileField(this, fields, QStringLiteral("证书（PEM）"), s.certificate);
    m_key = fileField(this, fields, QStringLiteral("密钥（PEM）"), s.key);
    layout->addLayout(fields);

    m_admin = new QGroupBox(QStringLiteral("第一个管理账号"), this);
    auto *adminFields = new QFormLayout(m_admin);
    m_adminName = new QLineEdit(m_admin);
    m_password = new QLineEdit(m_admin);
    m_password2 = new QLineEdit(m_admin);
    m_password->setEchoMode(QLineEdit::Password);
    m_password2->setEchoMode(QLineEdit::Password);
    adminFields->addRow(QStringLiteral("名称"), m_adminName);
    adminFields->addRow(QStringLiteral("口令"), m_password);
    adminFields->addRow(QStringLiteral("再输一次"), m_password2);
    m_admin->setVisible(!form.hasAdmin());
    layout->addWidget(m_admin);

    m_url = new QLabel(this);
    m_warning = new QLabel(this);
    m_warning->setWordWrap(true);
    m_warning->setStyleSheet(QStringLiteral("color: #b00000;"));
    layout->addWidget(m_url);
    layout->addWidget(m_warning);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, &RemoteDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &RemoteDialog::reject);
    layout->addWidget(buttons);
    for (QLineEdit *e : {m_certificate, m_key})
        connect(e, &QLineEdit::textChanged, this, &RemoteDialog::updateWarning);
    connect(m_on, &QCheckBox::toggled, this, &RemoteDialog::updateWarning);
    connect(m_port, &QSpinBox::valueChanged, this, &RemoteDialog::updateWarning);
    connect(m_address, &QComboBox::currentIndexChanged, this, &RemoteDialog::updateWarning);
    updateWarning();
}

RemoteForm::Input RemoteDialog::input() const
{
    RemoteForm::Input in;
    in.settings.port = m_on->isChecked() ? m_port->value() : 0;
    in.settings.address = m_address->currentData().toString();
    in.settings.certificate = m_certificate->text().trimmed();
    in.settings.key = m_key->text().trimmed();
    in.adminName = m_adminName->text();
    in.adminPassword = m_password->text();
    in.adminPassword2 = m_password2->text();
    return in;
}

void RemoteDialog::updateWarning()
{
    const RemoteSettings s = input().settings;
    for (QWidget *w : std::initializer_list<QWidget *>{m_port, m_address, m_certificate, m_key})
        w->setEnabled(m_on->isChecked());
    for (QPushButton *browse : findChildren<QPushButton *>(QStringLiteral("browse")))
        browse->setEnabled(m_on->isChecked());
    m_admin->setEnabled(m_on->isChecked());
    m_url->setText(RemoteForm::urlText(s));
    m_warning->setText(RemoteForm::warning(s));
}

void RemoteDialog::accept()
{
    if (const QString why = m_form.save(input()); !why.isEmpty()) {
        QMessageBox::warning(this, windowTitle(), why);
        return;
    }
    QDialog::accept();
}

void RemoteDialog::run(QWidget *parent)
{
    BellStore store;
    if (const QString error = store.open(AppPaths::besideExecutable().databaseFile()); !error.isEmpty()) {
        QMessageBox::warning(parent, QStringLiteral("远程控制"), error);
        return;
    }
    try {
        RemoteForm form(store);
        RemoteDialog dialog(form, parent);
        if (dialog.exec() != QDialog::Accepted)
            return;
    } catch (const AppError &e) {
        qCWarning(lcWeb).noquote() << "remote control dialog:" << e.text();
        QMessageBox::warning(parent, QStringLiteral("远程控制"), e.text());
        return;
    }
    // Asked without waiting: the engine may be this very process.
    auto *client = new RpcClient(parent);
    client->connectToServer(Instance::defaultSocketPath());
    client->call(QStringLiteral("Bells.Reload"), QJsonValue(), [client](const RpcResult &r) {
        if (r.isError())
            qCWarning(lcWeb).noquote() << "the engine did not re-read its store:" << r.error().message;
        client->deleteLater();
    });
}
