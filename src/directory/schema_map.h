#pragma once

#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>

class QSettings;

namespace directory {

// The kind of LDAP server, as its root DSE tells it.
enum class ServerKind { OpenLdap, ActiveDirectory, Ds389, EDirectory };

// Active Directory by its capability OID (MS-ADTS 3.1.1.3.4.3), 389 and
// eDirectory by vendorName; anything else is taken for OpenLDAP.
ServerKind recogniseServer(const QStringList &supportedCapabilities, const QString &vendorName);
QString serverKindName(ServerKind kind);

// An attribute as the directory names it, for wherever an NDS attribute name
// is taken: undo writes the attribute its record names, whatever the tree
// maps "OU" to today. No NDS name begins with "=".
QString directAttribute(const QString &directoryName);

// How one tree's NDS class and attribute names map to LDAP ones.
class SchemaMap {
public:
    // The usual mapping: User <-> inetOrgPerson, Organizational Unit <->
    // organizationalUnit, ..., attribute "OU" <-> ou.
    SchemaMap();

    // Overrides from a tree's configuration, in the current group of
    // `settings`: "class.<NDS class>" (one object class, or several separated
    // by commas), "attribute.<NDS attribute>" and "filter.<NDS class>" (the
    // LDAP filter that finds objects of the class, instead of its object class).
    void readOverrides(const QSettings &settings);

    // Takes the defaults of a server kind where the configuration set nothing,
    // and returns them as "key=value", for `check` to show.
    QStringList applyServerDefaults(ServerKind kind);

    // The NDS class of an entry with these object classes: the first class of
    // the table that the entry has; else the last object class it lists, as
    // the directory names it.
    [[nodiscard]] QString ndsClass(const QStringList &objectClasses) const;

    // The NDS classes the map knows, in table order.
    [[nodiscard]] QStringList ndsClasses() const;

    // The LDAP object class of an NDS class (the first, where it maps to
    // several); the name itself when unmapped.
    [[nodiscard]] QString objectClass(const QString &ndsClass) const;

    // The LDAP filter for the objects of an NDS class.
    [[nodiscard]] QString filter(const QString &ndsClass) const;

    // The LDAP attribute of an NDS attribute ("OU" -> "ou"); a name made by
    // directAttribute() is the directory's own, past the map.
    [[nodiscard]] QString attribute(const QString &ndsAttribute) const;

private:
    void set(const QString &key, const QStringList &value, bool fromConfiguration);

    QList<QPair<QString, QStringList>> m_classes; // NDS class, LDAP object classes; table order
    QList<QPair<QString, QString>> m_attributes;
    QList<QPair<QString, QString>> m_filters;
    QSet<QString> m_configured; // lower-case keys the configuration set
};

} // namespace directory
