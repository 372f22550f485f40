#pragma once

#include <QString>
#include <QStringList>

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

QString rootFullName(const QString &treeName);

// A value that a full name cannot carry (it holds a backslash, or is empty).
bool fitsInFullName(const QString &value);

} // namespace directory
