#include "ui/status_bar.h"

#include <QHBoxLayout>
#include <QLabel>

namespace ui {

StatusBar::StatusBar(QWidget *parent, int panel0Width)
    : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 0);
    layout->setSpacing(2);
    for (int i = 0; i < 2; ++i) {
        m_panels[i] = new QLabel(this);
        m_panels[i]->setObjectName(QStringLiteral("Panel%1").arg(i));
        m_panels[i]->setFrameShape(QFrame::Panel);
        m_panels[i]->setFrameShadow(QFrame::Sunken);
        m_panels[i]->setIndent(2);
        m_panels[i]->setTextFormat(Qt::PlainText);
    }
    m_panels[0]->setFixedWidth(panel0Width);
    m_panels[1]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(m_panels[0]);
    layout->addWidget(m_panels[1], 1);
}

QString StatusBar::panelText(int panel) const
{
    return m_panels[panel]->text();
}

void StatusBar::setPanelText(int panel, const QString &text)
{
    m_panels[panel]->setText(text);
}

} // namespace ui
