#include "runs/designation.h"

#include "runs/class_list.h"

#include <algorithm>

namespace runs {

QString ParentContainerName(const QString &fullName)
{
    return parentContainerIn(fullName).toString();
}

QString designationOf(int form, const QString &container, const QString &className)
{
    switch (form) {
    case 1:
        return className;
    case 2:
        return className + QStringLiteral(", ") + container;
    case 3:
        return container + QStringLiteral(", ") + className;
    default:
        return container;
    }
}

QStringView parentContainerIn(QStringView fullName)
{
    const qsizetype last = fullName.lastIndexOf(QLatin1Char('\\'));
    if (last <= 0)
        return {};
    const qsizetype before = fullName.lastIndexOf(QLatin1Char('\\'), last - 1);
    return fullName.sliced(before + 1, last - before - 1);
}

QStringList valuesAfter(const QStringList &values, const QString &designation, const QStringList &classList,
                        const QString &container, Qt::CaseSensitivity valueCase)
{
    QStringList after;
    if (values.size() > 1) {
        const auto isDesignationPart = [&](const QString &part) {
            return part.compare(container, valueCase) == 0 || isClassName(classList, part, valueCase);
        };
        for (const QString &value : values) {
            // Forms 2 and 3 over a missing class left ", Abi05a" or "Abi05a, ".
            const QStringList parts = value.split(QStringLiteral(", "));
            const bool designationLike = parts.size() <= 2 && !value.isEmpty()
                                         && std::all_of(parts.cbegin(), parts.cend(), [&](const QString &part) {
                                                return (parts.size() == 2 && part.isEmpty()) || isDesignationPart(part);
                                            });
            if (!designationLike && value.compare(designation, valueCase) != 0)
                after.append(value);
        }
    }
    if (!designation.isEmpty())
        after.append(designation);
    return after;
}

bool sameValues(const QStringList &a, const QStringList &b)
{
    if (a.size() != b.size())
        return false;
    if (a.size() <= 1)
        return a == b; // the common case, without copies
    QStringList x = a;
    QStringList y = b;
    x.sort();
    y.sort();
    return x == y;
}

} // namespace runs
