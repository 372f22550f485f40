#include "ui/preview_model.h"

#include "ndk/names.h"

namespace ui {

QString valuesText(const QStringList &values)
{
    return values.isEmpty() ? QStringLiteral("(leer)") : values.join(QStringLiteral(" | "));
}

PreviewModel::PreviewModel(QList<runs::PlannedUser> planned, bool allowEmptyClass, QObject *parent)
    : QAbstractTableModel(parent), m_planned(std::move(planned)), m_allowEmptyClass(allowEmptyClass)
{
}

int PreviewModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_planned.size());
}

int PreviewModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant PreviewModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    const runs::PlannedUser &p = m_planned.at(index.row());
    switch (index.column()) {
    case Name:
        return role == Qt::ToolTipRole ? p.user.fullName : ndk::ToDottedName(p.user.fullName);
    case Before:
        return valuesText(p.user.values);
    case After:
        return valuesText(p.after);
    case Verdict:
        return p.text(m_allowEmptyClass);
    case Dn:
        return p.user.dn;
    }
    return {};
}

QVariant PreviewModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    static const QString titles[ColumnCount] = {QStringLiteral("Name"), QStringLiteral("Alte Werte"),
                                                QStringLiteral("Neue Werte"), QStringLiteral("Ergebnis"),
                                                QStringLiteral("DN")};
    return section >= 0 && section < ColumnCount ? titles[section] : QVariant();
}

} // namespace ui
