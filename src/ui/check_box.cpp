#include "ui/check_box.h"

namespace ui {

CheckBox::CheckBox(const QString &text, QWidget *parent)
    : QCheckBox(text, parent)
{
}

bool CheckBox::hitButton(const QPoint &pos) const
{
    return rect().contains(pos);
}

} // namespace ui
