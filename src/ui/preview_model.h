#pragma once

#include "runs/plan.h"

#include <QAbstractTableModel>
#include <QList>

namespace ui {

// A plan's users as rows: the view asks only for the rows it shows, so ten
// thousand users cost no more to open than a screenful.
class PreviewModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Name, Before, After, Verdict, Dn, ColumnCount };

    // `allowEmptyClass`: whether a missing class's empty designation is written.
    PreviewModel(QList<runs::PlannedUser> planned, bool allowEmptyClass, QObject *parent);

    [[nodiscard]] int rowCount(const QModelIndex &parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex &parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex &index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    [[nodiscard]] const QList<runs::PlannedUser> &planned() const { return m_planned; }

private:
    QList<runs::PlannedUser> m_planned;
    bool m_allowEmptyClass;
};

// Values as the listings show them: "(leer)", one value, or several joined by " | ".
QString valuesText(const QStringList &values);

} // namespace ui
