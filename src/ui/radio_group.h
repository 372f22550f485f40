#pragma once

#include <QGroupBox>
#include <QStringList>

class QButtonGroup;

namespace ui {

// A framed group of option buttons in one column; ItemIndex is the chosen one.
class RadioGroup : public QGroupBox {
    Q_OBJECT
public:
    RadioGroup(QWidget *parent, const QString &caption, const QStringList &items);

    [[nodiscard]] int ItemIndex() const;
    void setItemIndex(int index);
    [[nodiscard]] QStringList items() const { return m_items; }

private:
    QButtonGroup *m_buttons;
    QStringList m_items;
};

} // namespace ui
