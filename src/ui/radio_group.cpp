#include "ui/radio_group.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QVBoxLayout>

namespace ui {

RadioGroup::RadioGroup(QWidget *parent, const QString &caption, const QStringList &items)
    : QGroupBox(caption, parent), m_buttons(new QButtonGroup(this)), m_items(items)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 2, 2, 2);
    layout->setSpacing(0);
    for (int i = 0; i < items.size(); ++i) {
        auto *button = new QRadioButton(this);
        // The captions are shown as they stand: "&" is no accelerator here.
        button->setText(QString(items.at(i)).replace(QLatin1Char('&'), QLatin1String("&&")));
        m_buttons->addButton(button, i);
        layout->addWidget(button);
    }
}

int RadioGroup::ItemIndex() const
{
    return m_buttons->checkedId();
}

void RadioGroup::setItemIndex(int index)
{
    if (QAbstractButton *button = m_buttons->button(index))
        button->setChecked(true);
}

} // namespace ui
