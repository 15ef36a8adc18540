#include "outputdialog.h"

#include "inputchoice.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

OutputDialog::OutputDialog(OutputChoice &choice, OutputPreview::MakePlayer makePlayer,
                           Messages &messages, QWidget *parent, InputChoice *input)
    : QDialog(parent), m_choice(choice), m_preview(std::move(makePlayer)), m_messages(messages), m_input(input)
{
    setObjectName(QStringLiteral("OutputDialog"));
    setWindowTitle(QStringLiteral("声音输出"));
    auto *column = new QVBoxLayout(this);
    auto *grid = new QGridLayout;
    const QString labels[2] = {QStringLiteral("铃声与试播："), QStringLiteral("临时广播：")};
    for (int role = 0; role < 2; ++role) {
        const auto r = SoundOutputs::Role(role);
        grid->addWidget(new QLabel(labels[role], this), role, 0);
        m_combo[role] = new QComboBox(this);
        m_combo[role]->setMinimumWidth(420);
        connect(m_combo[role], &QComboBox::activated, this, [this, r](int i) { m_choice.choose(r, i); });
        grid->addWidget(m_combo[role], role, 1);
        auto *listen = new QPushButton(QStringLiteral("试听"), this);
        listen->setObjectName(role == 0 ? QStringLiteral("ButtonListenBells")
                                        : QStringLiteral("ButtonListenBroadcast"));
        connect(listen, &QPushButton::clicked, this, [this, r] { preview(r); });
        grid->addWidget(listen, role, 2);
    }
    if (m_input) {
        grid->addWidget(new QLabel(QStringLiteral("实时喊话输入："), this), 2, 0);
        m_inputCombo = new QComboBox(this);
        m_inputCombo->setObjectName(QStringLiteral("PagingInput"));
        connect(m_inputCombo, &QComboBox::activated, this, [this](int i) { m_input->choose(i); });
        grid->addWidget(m_inputCombo, 2, 1);
        m_chime = new QCheckBox(InputChoice::kChimeText, this);
        m_chime->setChecked(m_input->chime());
        connect(m_chime, &QCheckBox::toggled, this, [this](bool on) { m_input->setChime(on); });
        grid->addWidget(m_chime, 3, 1);
    }
    column->addLayout(grid);
    m_note = new QLabel(this);
    m_note->setWordWrap(true);
    column->addWidget(m_note);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    auto *again = buttons->addButton(QStringLiteral("刷新"), QDialogButtonBox::ResetRole);
    connect(again, &QPushButton::clicked, this, &OutputDialog::refresh);
    connect(buttons, &QDialogButtonBox::accepted, this, &OutputDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);
    fill();
    // Listed once the window is up: the first read also starts the player.
    QTimer::singleShot(0, this, &OutputDialog::refresh);
}

OutputDialog::~OutputDialog() { m_preview.stop(); }

void OutputDialog::fill()
{
    for (int role = 0; role < 2; ++role) {
        QComboBox *c = m_combo[role];
        c->clear();
        for (int i = 0; i < m_choice.count(); ++i)
            c->addItem(m_choice.text(i));
        c->setCurrentIndex(m_choice.chosen(SoundOutputs::Role(role)));
    }
    if (m_input) {
        m_inputCombo->clear();
        for (int i = 0; i < m_input->count(); ++i)
            m_inputCombo->addItem(m_input->text(i));
        m_inputCombo->setCurrentIndex(m_input->chosen());
    }
}

void OutputDialog::refresh()
{
    const QString error = m_choice.load(m_preview.player());
    if (m_input)
        m_input->load();
    fill();
    if (error.isEmpty()) {
        m_retries = 0;
        m_note->setText(QStringLiteral("共有 %1 个声音输出。多个地点同时播放：在声音服务器中建立合并输出或网络输出，再在这里选择它。")
                            .arg(m_choice.count() - 1));
        return;
    }
    m_note->setText(QStringLiteral("无法读取声音输出：") + error);
    // A server slow to answer the first time usually answers a moment later.
    if (m_retries++ < 3)
        QTimer::singleShot(500, this, &OutputDialog::refresh);
}

void OutputDialog::preview(SoundOutputs::Role role)
{
    try {
        m_preview.play(m_choice.device(role), m_choice.description(m_choice.chosen(role)));
    } catch (const AppError &e) {
        m_messages.typedOk(Messages::Kind::Warning, QStringLiteral("试听失败：") + e.text());
    }
}

void OutputDialog::accept()
{
    try {
        m_choice.save();
        if (m_input)
            m_input->save();
    } catch (const AppError &e) {
        m_messages.generalError(e.text());
        return;
    }
    QDialog::accept();
}
