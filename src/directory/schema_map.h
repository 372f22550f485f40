#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

class QSettings;

namespace directory {

// How one tree's NDS class and attribute names map to LDAP ones.
class SchemaMap {
public:
    // The usual mapping: User <-> inetOrgPerson, Organizational Unit <->
    // organizationalUnit, ..., attribute "OU" <-> ou.
    SchemaMap();

    // Overrides from a tree's configuration: keys "class.<NDS class>" and
    // "attribute.<NDS attribute>" in the current group of `settings`.
    void readOverrides(const QSettings &settings);

    // The NDS class of an entry with these object classes: the first class of
    // the table that the entry has; else the last object class it lists, as
    // the directory names it.
    [[nodiscard]] QString ndsClass(const QStringList &objectClasses) const;

    // The LDAP object class of an NDS class; the name itself when unmapped.
    [[nodiscard]] QString objectClass(const QString &ndsClass) const;

    // The LDAP attribute of an NDS attribute ("OU" -> "ou").
    [[nodiscard]] QString attribute(const QString &ndsAttribute) const;

private:
    QList<QPair<QString, QString>> m_classes; // NDS class, LDAP object class; table order
    QList<QPair<QString, QString>> m_attributes;
};

} // namespace directory
