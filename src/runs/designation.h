#pragma once

#include <QString>
#include <QStringList>

// The designation rule: which value a user gets, and which of its values it replaces.
namespace runs {

// The text strictly between the last two backslashes of a full name.
QString ParentContainerName(const QString &fullName);

// The designation in form 0 (container), 1 (class), 2 (class, container)
// or 3 (container, class). An empty class stays empty: ", Abi05a" in form 2.
QString designationOf(int form, const QString &container, const QString &className);

// The values a user is to have once `designation` is written. A single value
// is the designation's place and is replaced. Of several values (ou is
// multi-valued in LDAP, where "Schueler" or "Bibliothek" sit beside the
// class), only those that are a designation are replaced: the container's
// name, a class of the class list, or two of these joined by ", ". The rest
// stays, in its order. An empty designation removes what it would replace.
// Values are compared as the directory compares them (`valueCase`): where it
// ignores case, "r7a" is the designation "R7a", and is replaced by it.
QStringList valuesAfter(const QStringList &values, const QString &designation, const QStringList &classList,
                        const QString &container, Qt::CaseSensitivity valueCase = Qt::CaseSensitive);

// ParentContainerName() as a part of `fullName`, for looking up many users without copies.
QStringView parentContainerIn(QStringView fullName);

// Whether two value lists hold the same values, in any order.
bool sameValues(const QStringList &a, const QStringList &b);

} // namespace runs
