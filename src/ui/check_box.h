#pragma once

#include <QCheckBox>

namespace ui {

// A check box that answers a click anywhere on its designed box, not only on
// the mark and the text.
class CheckBox : public QCheckBox {
    Q_OBJECT
public:
    CheckBox(const QString &text, QWidget *parent);

protected:
    [[nodiscard]] bool hitButton(const QPoint &pos) const override;
};

} // namespace ui
