#include "ui/status_bar.h"

#include <QLabel>

namespace ui {

StatusBar::StatusBar(QWidget *parent, int panel0Width)
    : QWidget(parent), m_panel0Width(panel0Width)
{
    for (int i = 0; i < 2; ++i) {
        m_panels[i] = new QLabel(this);
        m_panels[i]->setObjectName(QStringLiteral("Panel%1").arg(i));
        m_panels[i]->setFrameShape(QFrame::Panel);
        m_panels[i]->setFrameShadow(QFrame::Sunken);
        m_panels[i]->setIndent(2);
        m_panels[i]->setTextFormat(Qt::PlainText);
    }
    m_panels[1]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

void StatusBar::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // Panels of a fixed size: a new text (one per user in a run) repaints
    // its panel without asking a layout to measure it again.
    const int height = qMax(0, this->height() - kTop);
    m_panels[0]->setFixedSize(m_panel0Width, height);
    m_panels[0]->move(0, kTop);
    m_panels[1]->setFixedSize(qMax(0, width() - m_panel0Width - kSpacing), height);
    m_panels[1]->move(m_panel0Width + kSpacing, kTop);
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
