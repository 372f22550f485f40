#pragma once

#include "directory/dn.h"
#include "platform/error.h"

#include <QString>
#include <QStringList>
#include <QStringView>

namespace directory {

// A full name: "NDS:\\" + tree name, then "\" + each RDN value from the top
// container down, e.g. NDS:\\SCHULE\Gym\Abi05a\mueller.
struct FullName {
    QString treeName;
    QStringList components; // from the top down; empty for the tree root

    // Raises an error naming the text when it is no full name.
    static FullName parse(const QString &text);
    [[nodiscard]] QString toString() const;
};

// What a full name says without its parts copied, checked as parse() checks
// it: for the many names of a run.
struct FullNameShape {
    QStringView treeName;
    QStringView path; // the components and the backslashes between them
    qsizetype depth = 0; // how many components
};
FullNameShape shapeOf(QStringView text);

// The tree that a text names if it begins as a full name does; empty if it
// does not. Never raises: for names typed by hand.
QStringView treeNameIn(QStringView text);

QString rootFullName(const QString &treeName);

// Whether two names are the same, as names are: ignoring case. ASCII is
// compared here, in the many look-ups of a run; the rest as Qt folds it.
bool sameName(QStringView a, QStringView b);

// Whether a full name can carry this RDN value: not empty, without a
// backslash; and this RDN: a single value that it can carry.
bool nameable(QStringView value);
bool nameable(const Rdn &rdn);

// The errors about names that every tree raises, in the user's words.
platform::Error objectNotFound(const QString &fullName);
platform::Error objectAmbiguous(const QString &fullName, const QString &component);
platform::Error objectAmbiguous(const QString &fullName, const QStringList &dns);
platform::Error notInTree(const QString &fullName, const QString &treeName);
platform::Error notNameable(const QString &dn);

} // namespace directory
