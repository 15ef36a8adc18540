#include "noticeband.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

NoticeBand::NoticeBand(QWidget *parent) : QFrame(parent)
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Plain);
    setAutoFillBackground(true);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(8, 4, 8, 4);
    m_label = new QLabel(this);
    m_label->setObjectName(QStringLiteral("NoticeText"));
    m_label->setWordWrap(true);
    m_label->setTextFormat(Qt::PlainText);
    m_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    row->addWidget(m_label, 1);
    m_button = new QPushButton(this);
    m_button->setObjectName(QStringLiteral("NoticeButton"));
    m_button->hide();
    row->addWidget(m_button);
    connect(m_button, &QPushButton::clicked, this, &NoticeBand::buttonClicked);
    hide();
}

void NoticeBand::showNotice(const QString &text, const QColor &background, const QString &buttonText)
{
    m_label->setText(text);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, background);
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);
    m_button->setText(buttonText);
    m_button->setVisible(!buttonText.isEmpty());
    setVisible(!text.isEmpty());
}

QString NoticeBand::text() const
{
    return m_label->text();
}
