#include "relaydialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

// A list of the zones to check, its first row what none means: checking
// it clears the zones, checking a zone clears it, clearing every zone
// checks it again.
QListWidget *zoneList(QWidget *parent, const RelayForm &form, const QString &none)
{
    auto *list = new QListWidget(parent);
    list->setMaximumHeight(list->fontMetrics().lineSpacing() * 7);
    auto *first = new QListWidgetItem(none, list);
    first->setData(Qt::UserRole, 0);
    for (const Zone &z : form.zones()) {
        auto *item = new QListWidgetItem(z.name, list);
        item->setData(Qt::UserRole, z.id);
    }
    for (int i = 0; i < list->count(); ++i)
        list->item(i)->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    QObject::connect(list, &QListWidget::itemChanged, list, [list](QListWidgetItem *changed) {
        const QSignalBlocker block(list);
        const bool noneRow = list->row(changed) == 0;
        if (changed->checkState() == Qt::Checked) {
            for (int i = 0; i < list->count(); ++i)
                if ((i == 0) != noneRow)
                    list->item(i)->setCheckState(Qt::Unchecked);
            return;
        }
        bool any = false;
        for (int i = 1; i < list->count(); ++i)
            any = any || list->item(i)->checkState() == Qt::Checked;
        list->item(0)->setCheckState(any ? Qt::Unchecked : Qt::Checked);
    });
    return list;
}

void checkZones(QListWidget *list, const QList<qint64> &ids)
{
    const QSignalBlocker block(list);
    for (int i = 0; i < list->count(); ++i) {
        const qint64 id = list->item(i)->data(Qt::UserRole).toLongLong();
        list->item(i)->setCheckState((i == 0 ? ids.isEmpty() : ids.contains(id)) ? Qt::Checked : Qt::Unchecked);
    }
}

QList<qint64> checkedZones(const QListWidget *list)
{
    QList<qint64> ids;
    for (int i = 1; i < list->count(); ++i)
        if (list->item(i)->checkState() == Qt::Checked)
            ids << list->item(i)->data(Qt::UserRole).toLongLong();
    return ids;
}

QComboBox *driverBox(QWidget *parent, bool inputs)
{
    auto *box = new QComboBox(parent);
    for (const QString &code : RelayForm::driverCodes(inputs))
        box->addItem(RelayForm::driverText(code), code);
    return box;
}

void chooseDriver(QComboBox *box, const QString &code)
{
    int at = box->findData(code);
    if (at < 0 && !code.isEmpty()) {
        box->addItem(RelayForm::driverText(code), code); // kept as found, refused on save
        at = box->count() - 1;
    }
    box->setCurrentIndex(std::max(0, at));
}

QDoubleSpinBox *secondsBox(QWidget *parent, int maxMs)
{
    auto *box = new QDoubleSpinBox(parent);
    box->setDecimals(1);
    box->setRange(0, RelayForm::seconds(maxMs));
    box->setSuffix(QStringLiteral(" 秒"));
    return box;
}

QHBoxLayout *buttonRow(QWidget *parent, std::initializer_list<std::pair<const char *, std::function<void()>>> actions)
{
    auto *row = new QHBoxLayout;
    for (const auto &[text, slot] : actions) {
        auto *b = new QPushButton(QString::fromUtf8(text), parent);
        QObject::connect(b, &QPushButton::clicked, parent, slot);
        row->addWidget(b);
    }
    row->addStretch();
    return row;
}

int rowOf(const QListWidget *list) { return list->currentRow(); }

} // namespace

RelayDialog::RelayDialog(RelayForm &form, Messages &messages, QWidget *parent, FileDialogs *dialogs)
    : QDialog(parent), m_form(form), m_messages(messages), m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("RelayDialog"));
    setWindowTitle(QStringLiteral("功放电源与消防联动"));
    auto *column = new QVBoxLayout(this);
    tabs = new QTabWidget(this);
    tabs->addTab(buildRelayTab(), QStringLiteral("功放电源"));
    tabs->addTab(buildInputTab(), QStringLiteral("消防联动"));
    column->addWidget(tabs);
    auto *close = new QPushButton(QStringLiteral("关闭"), this);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    auto *bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(close);
    column->addLayout(bottom);
    reloadRelays();
    reloadInputs();
}

QWidget *RelayDialog::buildRelayTab()
{
    auto *page = new QWidget(this);
    auto *row = new QHBoxLayout(page);
    relayList = new QListWidget(page);
    relayList->setMinimumWidth(200);
    row->addWidget(relayList);
    auto *column = new QVBoxLayout;
    auto *f = new QFormLayout;
    relayName = new QLineEdit(page);
    relayDriver = driverBox(page, false);
    relayAddress = new QPlainTextEdit(page);
    relayAddress->setFixedHeight(relayAddress->fontMetrics().lineSpacing() * 3);
    relayHint = new QLabel(page);
    relayHint->setWordWrap(true);
    relayChannel = new QSpinBox(page);
    relayZones = zoneList(page, m_form, RelayForm::kRelayNoZone);
    relayPre = secondsBox(page, RelayStore::kMaxPreMs);
    relayHold = secondsBox(page, RelayStore::kMaxHoldMs);
    relayOrder = new QSpinBox(page);
    relayOrder->setRange(0, 999);
    f->addRow(QStringLiteral("名称："), relayName);
    f->addRow(QStringLiteral("驱动："), relayDriver);
    f->addRow(QStringLiteral("地址："), relayAddress);
    f->addRow(QString(), relayHint);
    f->addRow(QStringLiteral("通道："), relayChannel);
    f->addRow(QStringLiteral("分区："), relayZones);
    f->addRow(QStringLiteral("预开："), relayPre);
    f->addRow(QStringLiteral("保持："), relayHold);
    f->addRow(QStringLiteral("顺序："), relayOrder);
    column->addLayout(f);
    auto *note = new QLabel(QStringLiteral("预开：第一声铃响前多久打开电源；保持：最后一声结束后多久关闭。"
                                           "几台同时打开时按顺序从小到大相隔约 1 秒打开，关闭时相反。"
                                           "通道从 0 开始（模块上的 DO1 是通道 0）。"),
                            page);
    note->setWordWrap(true);
    column->addWidget(note);
    column->addLayout(buttonRow(page, {{"添加", [this] { addRelay(); }},
                                       {"保存", [this] { saveRelay(); }},
                                       {"删除", [this] { deleteRelay(); }}}));
    column->addStretch();
    row->addLayout(column, 1);
    connect(relayList, &QListWidget::currentRowChanged, this, &RelayDialog::showRelay);
    connect(relayDriver, &QComboBox::currentIndexChanged, this, [this] {
        DriverKind kind = DriverKind::ModbusTcp;
        RelayAddress::driverFromName(relayDriver->currentData().toString(), kind);
        relayChannel->setRange(0, RelayAddress::maxChannel(kind));
        relayHint->setText(RelayForm::addressHint(relayDriver->currentData().toString()));
    });
    relayChannel->setRange(0, RelayAddress::maxChannel(DriverKind::ModbusTcp));
    relayHint->setText(RelayForm::addressHint(relayDriver->currentData().toString()));
    return page;
}

QWidget *RelayDialog::buildInputTab()
{
    auto *page = new QWidget(this);
    auto *row = new QHBoxLayout(page);
    inputList = new QListWidget(page);
    inputList->setMinimumWidth(200);
    row->addWidget(inputList);
    auto *column = new QVBoxLayout;
    auto *f = new QFormLayout;
    inputName = new QLineEdit(page);
    inputDriver = driverBox(page, true);
    inputAddress = new QLineEdit(page);
    inputHint = new QLabel(page);
    inputHint->setWordWrap(true);
    inputChannel = new QSpinBox(page);
    inputMusic = new QLineEdit(page);
    inputMusic->setPlaceholderText(QStringLiteral("空：警报音"));
    inputZones = zoneList(page, m_form, RelayForm::kInputNoZone);
    inputEndOnOpen = new QCheckBox(QStringLiteral("信号断开时结束紧急广播（不选：由值班人员结束）"), page);
    f->addRow(QStringLiteral("名称："), inputName);
    f->addRow(QStringLiteral("驱动："), inputDriver);
    f->addRow(QStringLiteral("地址："), inputAddress);
    f->addRow(QString(), inputHint);
    f->addRow(QStringLiteral("通道："), inputChannel);
    auto *music = new QHBoxLayout;
    music->addWidget(inputMusic, 1);
    if (m_dialogs) {
        inputChooseMusic = new QPushButton(QStringLiteral("选择…"), page);
        connect(inputChooseMusic, &QPushButton::clicked, this, &RelayDialog::chooseMusic);
        music->addWidget(inputChooseMusic);
    }
    f->addRow(QStringLiteral("音乐："), music);
    f->addRow(QStringLiteral("分区："), inputZones);
    f->addRow(QStringLiteral("断开结束："), inputEndOnOpen);
    column->addLayout(f);
    auto *note = new QLabel(QStringLiteral("消防主机的联动触点闭合 0.2 秒后开始紧急广播。通道从 0 开始（DI1 是通道 0）。"),
                            page);
    note->setWordWrap(true);
    column->addWidget(note);
    column->addLayout(buttonRow(page, {{"添加", [this] { addInput(); }},
                                       {"保存", [this] { saveInput(); }},
                                       {"删除", [this] { deleteInput(); }}}));
    column->addStretch();
    row->addLayout(column, 1);
    connect(inputList, &QListWidget::currentRowChanged, this, &RelayDialog::showInput);
    connect(inputDriver, &QComboBox::currentIndexChanged, this, [this] {
        DriverKind kind = DriverKind::ModbusTcp;
        RelayAddress::driverFromName(inputDriver->currentData().toString(), kind);
        inputChannel->setRange(0, RelayAddress::maxChannel(kind));
        inputHint->setText(RelayForm::addressHint(inputDriver->currentData().toString()));
    });
    inputChannel->setRange(0, RelayAddress::maxChannel(DriverKind::ModbusTcp));
    inputHint->setText(RelayForm::addressHint(inputDriver->currentData().toString()));
    return page;
}

void RelayDialog::reloadRelays(qint64 select)
{
    m_relays = m_form.relays();
    const QSignalBlocker block(relayList);
    relayList->clear();
    int row = m_relays.isEmpty() ? -1 : 0;
    for (int i = 0; i < m_relays.size(); ++i) {
        relayList->addItem(m_form.rowText(m_relays[i]));
        if (m_relays[i].id == select)
            row = i;
    }
    relayList->setCurrentRow(row);
    showRelay();
}

void RelayDialog::reloadInputs(qint64 select)
{
    m_inputs = m_form.inputs();
    const QSignalBlocker block(inputList);
    inputList->clear();
    int row = m_inputs.isEmpty() ? -1 : 0;
    for (int i = 0; i < m_inputs.size(); ++i) {
        inputList->addItem(m_form.rowText(m_inputs[i]));
        if (m_inputs[i].id == select)
            row = i;
    }
    inputList->setCurrentRow(row);
    showInput();
}

void RelayDialog::showRelay()
{
    const int row = rowOf(relayList);
    Relay r = row >= 0 && row < m_relays.size() ? m_relays[row] : Relay{};
    if (r.driver.isEmpty())
        r.driver = RelayForm::driverCodes(false).first();
    relayName->setText(r.name);
    chooseDriver(relayDriver, r.driver);
    relayAddress->setPlainText(r.address);
    relayChannel->setValue(r.channel);
    checkZones(relayZones, r.zones);
    relayPre->setValue(RelayForm::seconds(r.preMs));
    relayHold->setValue(RelayForm::seconds(r.holdMs));
    relayOrder->setValue(r.order);
}

void RelayDialog::showInput()
{
    const int row = rowOf(inputList);
    FireInput f = row >= 0 && row < m_inputs.size() ? m_inputs[row] : FireInput{};
    if (f.driver.isEmpty())
        f.driver = RelayForm::driverCodes(true).first();
    inputName->setText(f.name);
    chooseDriver(inputDriver, f.driver);
    inputAddress->setText(f.address);
    inputChannel->setValue(f.channel);
    inputMusic->setText(f.music);
    checkZones(inputZones, f.zones);
    inputEndOnOpen->setChecked(f.endOnOpen);
}

Relay RelayDialog::editedRelay() const
{
    const int row = rowOf(relayList);
    return {row >= 0 && row < m_relays.size() ? m_relays[row].id : 0, relayName->text(),
            relayDriver->currentData().toString(), relayAddress->toPlainText(), relayChannel->value(),
            checkedZones(relayZones), RelayForm::milliseconds(relayPre->value()),
            RelayForm::milliseconds(relayHold->value()), relayOrder->value()};
}

FireInput RelayDialog::editedInput() const
{
    const int row = rowOf(inputList);
    return {row >= 0 && row < m_inputs.size() ? m_inputs[row].id : 0, inputName->text(),
            inputDriver->currentData().toString(), inputAddress->text(), inputChannel->value(),
            inputMusic->text(), checkedZones(inputZones), inputEndOnOpen->isChecked()};
}

template <class Row, class Reload> void RelayDialog::store(const Row &row, Reload reload)
{
    try {
        reload(m_form.save(row));
    } catch (const AppError &e) {
        m_messages.typedOk(Messages::Kind::Warning, e.text());
    }
}

void RelayDialog::addRelay()
{
    Relay r = editedRelay();
    r.id = 0;
    store(r, [this](qint64 id) { reloadRelays(id); });
}

void RelayDialog::saveRelay() { store(editedRelay(), [this](qint64 id) { reloadRelays(id); }); }

void RelayDialog::addInput()
{
    FireInput f = editedInput();
    f.id = 0;
    store(f, [this](qint64 id) { reloadInputs(id); });
}

void RelayDialog::saveInput() { store(editedInput(), [this](qint64 id) { reloadInputs(id); }); }

void RelayDialog::deleteRelay()
{
    const int row = rowOf(relayList);
    if (row < 0 || row >= m_relays.size())
        return;
    if (m_messages.noYes(Messages::Kind::Confirm,
                         QStringLiteral("删除功放电源“%1”吗？它将不再随铃声打开。").arg(m_relays[row].name))
        != Messages::Answer::Yes)
        return;
    try {
        m_form.removeRelay(m_relays[row].id);
        reloadRelays();
    } catch (const AppError &e) {
        m_messages.typedOk(Messages::Kind::Warning, e.text());
    }
}

void RelayDialog::deleteInput()
{
    const int row = rowOf(inputList);
    if (row < 0 || row >= m_inputs.size())
        return;
    if (m_messages.noYes(Messages::Kind::Confirm,
                         QStringLiteral("删除消防输入“%1”吗？它将不再开始紧急广播。").arg(m_inputs[row].name))
        != Messages::Answer::Yes)
        return;
    try {
        m_form.removeInput(m_inputs[row].id);
        reloadInputs();
    } catch (const AppError &e) {
        m_messages.typedOk(Messages::Kind::Warning, e.text());
    }
}

void RelayDialog::chooseMusic()
{
    if (const std::optional<QString> path = m_dialogs->openFile(inputMusic->text()))
        inputMusic->setText(m_form.musicName(*path));
}
