#include "zonedialog.h"

#include "schedulemodel.h"
#include "snapstatus.h"
#include "soundserver.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

ZoneDialog::ZoneDialog(ZoneStore &zones, OutputChoice &outputs, OutputPreview::MakePlayer makePlayer,
                       Messages &messages, QWidget *parent, SnapStatus *snap, Settings *settings)
    : QDialog(parent), m_zones(zones), m_outputs(outputs), m_preview(std::move(makePlayer)),
      m_messages(messages), m_snap(snap), m_settings(settings)
{
    setObjectName(QStringLiteral("ZoneDialog"));
    setWindowTitle(QStringLiteral("分区设置"));
    auto *row = new QHBoxLayout(this);
    list = new QListWidget(this);
    list->setMinimumWidth(160);
    row->addWidget(list);
    auto *column = new QVBoxLayout;
    auto *form = new QFormLayout;
    name = new QLineEdit(this);
    output = new QComboBox(this);
    output->setMinimumWidth(360);
    lead = new QSpinBox(this);
    lead->setRange(0, ZoneStore::kMaxLeadMs);
    lead->setSuffix(QStringLiteral(" 毫秒"));
    form->addRow(QStringLiteral("名称："), name);
    form->addRow(QStringLiteral("声音输出："), output);
    form->addRow(QStringLiteral("提前："), lead);
    listeners = new QLabel(this);
    listeners->setWordWrap(true);
    form->addRow(QString(), listeners);
    column->addLayout(form);
    if (m_snap) {
        snapPart = new QWidget(this);
        auto *part = new QVBoxLayout(snapPart);
        part->setContentsMargins(0, 0, 0, 0);
        auto *server = new QHBoxLayout;
        snapHost = new QLineEdit(m_snap->host(), snapPart);
        snapPort = new QSpinBox(snapPart);
        snapPort->setRange(1, 65535);
        snapPort->setValue(m_snap->port());
        auto *apply = new QPushButton(QStringLiteral("应用"), snapPart);
        connect(apply, &QPushButton::clicked, this, &ZoneDialog::applySnapServer);
        server->addWidget(new QLabel(QStringLiteral("Snapcast 服务器："), snapPart));
        server->addWidget(snapHost, 1);
        server->addWidget(new QLabel(QStringLiteral("端口："), snapPart));
        server->addWidget(snapPort);
        server->addWidget(apply);
        part->addLayout(server);
        snapState = new QLabel(snapPart);
        snapState->setWordWrap(true);
        part->addWidget(snapState);
        column->addWidget(snapPart);
        snapPart->hide();
        connect(m_snap, &SnapStatus::updated, this, &ZoneDialog::showListeners);
        m_ask = new QTimer(this);
        connect(m_ask, &QTimer::timeout, m_snap, &SnapStatus::fetch);
    }
    auto *note = new QLabel(QStringLiteral("提前：本机声卡填 0；经网络传到各楼栋的输出填它的缓冲时间，"
                                           "铃声才能在整秒响起。没有选分区的铃声仍在“铃声输出”播放。"),
                            this);
    note->setWordWrap(true);
    column->addWidget(note);
    auto *buttons = new QHBoxLayout;
    const std::pair<const char *, void (ZoneDialog::*)()> actions[] = {
        {"添加", &ZoneDialog::addZone}, {"保存", &ZoneDialog::saveZone},
        {"删除", &ZoneDialog::deleteZone}, {"试听", &ZoneDialog::listen}};
    for (const auto &[text, slot] : actions) {
        auto *b = new QPushButton(QString::fromUtf8(text), this);
        connect(b, &QPushButton::clicked, this, slot);
        buttons->addWidget(b);
    }
    auto *close = new QPushButton(QStringLiteral("关闭"), this);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(close);
    column->addLayout(buttons);
    column->addStretch();
    row->addLayout(column, 1);

    if (const QString error = m_outputs.load(m_preview.player()); !error.isEmpty())
        note->setText(QStringLiteral("无法读取声音输出：") + error);
    connect(list, &QListWidget::currentRowChanged, this, &ZoneDialog::showSelected);
    reload();
}

ZoneDialog::~ZoneDialog() { m_preview.stop(); }

void ZoneDialog::reload(qint64 select)
{
    m_list = m_zones.list();
    list->clear();
    int row = m_list.isEmpty() ? -1 : 0;
    for (int i = 0; i < m_list.size(); ++i) {
        list->addItem(m_list[i].name);
        if (m_list[i].id == select)
            row = i;
    }
    list->setCurrentRow(row);
    followSnapcastZones();
    showSelected();
}

bool ZoneDialog::hasSnapcastZone() const
{
    return m_snap && std::any_of(m_list.begin(), m_list.end(), [this](const Zone &z) {
               return m_outputs.isPipeSink(z.output) || m_snap->isSnapcast(z.output);
           });
}

void ZoneDialog::followSnapcastZones()
{
    if (!m_snap)
        return;
    // A school without Snapcast is never told that a server it does not
    // have is silent.
    const bool wanted = hasSnapcastZone();
    snapPart->setVisible(wanted);
    if (!wanted) {
        m_ask->stop();
        return;
    }
    if (!m_ask->isActive()) {
        m_ask->start(kAskEveryMs);
        m_snap->fetch();
    }
}

void ZoneDialog::showSelected()
{
    const int row = list->currentRow();
    const Zone z = row >= 0 && row < m_list.size() ? m_list[row] : Zone{};
    name->setText(z.name);
    lead->setValue(z.leadMs);
    output->clear();
    // The system default is no zone's place: a zone names its output.
    for (int i = 0; i < m_outputs.count(); ++i)
        if (!m_outputs.name(i).isEmpty())
            output->addItem(m_outputs.text(i), m_outputs.name(i));
    if (!z.output.isEmpty() && output->findData(z.output) < 0)
        output->addItem(QStringLiteral("%1（现在不可用）").arg(SoundServer::label(z.output)), z.output);
    output->setCurrentIndex(z.output.isEmpty() ? 0 : output->findData(z.output));
    showListeners();
}

void ZoneDialog::showListeners()
{
    if (!m_snap || !snapPart->isVisibleTo(this)) {
        listeners->hide();
        return;
    }
    for (int i = 0; i < m_list.size() && i < list->count(); ++i) {
        const SnapZoneView v = m_snap->zoneView(m_list[i].output);
        list->item(i)->setBackground(v.failed ? statuscolours::background(BellStatus::Failed) : QBrush());
        list->item(i)->setToolTip(v.text);
    }
    snapState->setText(m_snap->serverText());
    const int row = list->currentRow();
    const SnapZoneView v = m_snap->zoneView(row >= 0 && row < m_list.size() ? m_list[row].output : QString());
    listeners->setText(v.text);
    listeners->setVisible(!v.text.isEmpty());
    listeners->setStyleSheet(v.failed ? QStringLiteral("color: %1").arg(statuscolours::foreground(BellStatus::Failed).name())
                                      : QString());
}

void ZoneDialog::applySnapServer()
{
    if (!m_snap || !m_settings)
        return;
    try {
        m_snap->save(*m_settings, snapHost->text(), snapPort->value());
        m_snap->fetch();
        showListeners();
    } catch (const AppError &e) {
        m_messages.typedOk(Messages::Kind::Warning, e.text());
    }
}

qint64 ZoneDialog::selectedId() const
{
    const int row = list->currentRow();
    return row >= 0 && row < m_list.size() ? m_list[row].id : 0;
}

Zone ZoneDialog::edited() const
{
    return {selectedId(), name->text(), output->currentData().toString(), lead->value()};
}

void ZoneDialog::addZone()
{
    Zone z = edited();
    z.id = 0;
    try {
        reload(m_zones.add(z));
        m_changed = true;
    } catch (const AppError &e) {
        m_messages.typedOk(Messages::Kind::Warning, e.text());
    }
}

void ZoneDialog::saveZone()
{
    const Zone z = edited();
    if (z.id == 0) {
        addZone();
        return;
    }
    try {
        m_zones.update(z);
        m_changed = true;
        reload(z.id);
    } catch (const AppError &e) {
        m_messages.typedOk(Messages::Kind::Warning, e.text());
    }
}

void ZoneDialog::deleteZone()
{
    const qint64 id = selectedId();
    if (id == 0)
        return;
    if (m_messages.noYes(Messages::Kind::Confirm,
                         QStringLiteral("删除分区“%1”吗？只在这个分区的铃声将改在“铃声输出”播放。")
                             .arg(list->currentItem()->text()))
        != Messages::Answer::Yes)
        return;
    try {
        m_zones.remove(id);
        m_changed = true;
        reload();
    } catch (const AppError &e) {
        m_messages.typedOk(Messages::Kind::Warning, e.text());
    }
}

void ZoneDialog::listen()
{
    try {
        m_preview.play(output->currentData().toString(), output->currentText());
    } catch (const AppError &e) {
        m_messages.typedOk(Messages::Kind::Warning, QStringLiteral("试听失败：") + e.text());
    }
}
