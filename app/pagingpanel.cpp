#include "pagingpanel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>

PagingPanel::PagingPanel(PagingLink *link, QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("PagingPanel"));
    link->setParent(this);
    m_control = new PagingControl(*link, this);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(6, 4, 6, 4);
    m_button = new QPushButton(this);
    m_button->setObjectName(QStringLiteral("ButtonPaging"));
    m_button->setMinimumWidth(150);
    m_button->setToolTip(QStringLiteral("按一下开始实时喊话，再按一下结束（%1）").arg(kHotkey.toString()));
    m_zones = new QToolButton(this);
    m_zones->setObjectName(QStringLiteral("PagingZones"));
    m_zones->setPopupMode(QToolButton::InstantPopup);
    m_zoneMenu = new QMenu(m_zones);
    m_zones->setMenu(m_zoneMenu);
    m_meter = new QProgressBar(this);
    m_meter->setObjectName(QStringLiteral("PagingMeter"));
    m_meter->setRange(0, 100);
    m_meter->setTextVisible(false);
    m_meter->setFixedHeight(12);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("PagingStatus"));
    row->addWidget(m_button);
    row->addWidget(m_zones);
    row->addWidget(m_meter, 1);
    row->addWidget(m_status, 2);

    auto *hotkey = new QShortcut(kHotkey, this);
    hotkey->setContext(Qt::WindowShortcut);
    connect(hotkey, &QShortcut::activated, m_control, &PagingControl::toggle);
    connect(m_button, &QPushButton::clicked, m_control, &PagingControl::toggle);
    m_tick = new QTimer(this);
    m_tick->setInterval(1000);
    connect(m_tick, &QTimer::timeout, this, &PagingPanel::refreshView);
    connect(m_control, &PagingControl::changed, this, &PagingPanel::refreshView);
    connect(m_zoneMenu, &QMenu::aboutToShow, this, &PagingPanel::fillZones);
    connect(m_control, &PagingControl::message, this, [this](const QString &text) {
        auto *box = new QMessageBox(QMessageBox::Warning, PagingControl::kStartText, text, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    });
    refreshView();
}

void PagingPanel::fillZones()
{
    m_zoneMenu->clear();
    const QStringList chosen = m_control->chosen();
    QAction *all = m_zoneMenu->addAction(kAllZones);
    all->setCheckable(true);
    all->setChecked(chosen.isEmpty());
    connect(all, &QAction::triggered, this, [this] {
        m_control->setChosen({});
        refreshView();
    });
    m_zoneMenu->addSeparator();
    for (const QString &zone : m_control->choices()) {
        QAction *a = m_zoneMenu->addAction(zone);
        a->setCheckable(true);
        a->setChecked(chosen.contains(zone));
        connect(a, &QAction::toggled, this, [this, zone](bool on) {
            QStringList c = m_control->chosen();
            c.removeAll(zone);
            if (on)
                c << zone;
            m_control->setChosen(c);
            refreshView();
        });
    }
}

void PagingPanel::refreshView()
{
    const bool on = m_control->active();
    m_button->setText(QStringLiteral("%1 (%2)").arg(m_control->buttonText(), kHotkey.toString()));
    m_button->setEnabled(!m_control->busy());
    m_button->setStyleSheet(on ? QStringLiteral("background: rgb(230,40,40); color: white; font-weight: bold;")
                               : QString());
    const QStringList chosen = m_control->chosen();
    // A school without zones pages 广播输出, its only choice.
    const QStringList choices = m_control->choices();
    m_zones->setText(!chosen.isEmpty() ? chosen.join(u'、') : choices.size() == 1 ? choices.first() : kAllZones);
    m_zones->setEnabled(!on);
    m_meter->setValue(on ? m_control->meter() : 0);
    m_status->setText(m_control->statusText(QDateTime::currentDateTime()));
    if (on && !m_tick->isActive())
        m_tick->start();
    else if (!on)
        m_tick->stop();
}
