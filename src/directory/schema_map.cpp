#include "directory/schema_map.h"

#include "directory/dn.h"

#include <QSettings>

namespace directory {

ServerKind recogniseServer(const QStringList &supportedCapabilities, const QString &vendorName)
{
    if (supportedCapabilities.contains(QLatin1String("1.2.840.113556.1.4.800"))) // LDAP_CAP_ACTIVE_DIRECTORY_OID
        return ServerKind::ActiveDirectory;
    if (vendorName.contains(QLatin1String("389 Project"), Qt::CaseInsensitive)
        || vendorName.contains(QLatin1String("Fedora Project"), Qt::CaseInsensitive))
        return ServerKind::Ds389;
    if (vendorName.contains(QLatin1String("Novell"), Qt::CaseInsensitive)
        || vendorName.contains(QLatin1String("NetIQ"), Qt::CaseInsensitive))
        return ServerKind::EDirectory;
    return ServerKind::OpenLdap;
}

QString serverKindName(ServerKind kind)
{
    switch (kind) {
    case ServerKind::ActiveDirectory:
        return QStringLiteral("Active Directory");
    case ServerKind::Ds389:
        return QStringLiteral("389 Directory Server");
    case ServerKind::EDirectory:
        return QStringLiteral("eDirectory");
    case ServerKind::OpenLdap:
        break;
    }
    return QStringLiteral("OpenLDAP");
}

SchemaMap::SchemaMap()
    : m_classes{{QStringLiteral("User"), {QStringLiteral("inetOrgPerson")}},
                {QStringLiteral("Organizational Unit"), {QStringLiteral("organizationalUnit")}},
                {QStringLiteral("Organization"), {QStringLiteral("organization")}},
                {QStringLiteral("Group"), {QStringLiteral("groupOfNames")}},
                {QStringLiteral("Organizational Role"), {QStringLiteral("organizationalRole")}},
                {QStringLiteral("Country"), {QStringLiteral("country")}},
                {QStringLiteral("Locality"), {QStringLiteral("locality")}}},
      m_attributes{{QStringLiteral("OU"), QStringLiteral("ou")}}
{
}

namespace {
template <typename Value>
Value *find(QList<QPair<QString, Value>> &map, const QString &from)
{
    for (auto &pair : map) {
        if (pair.first.compare(from, Qt::CaseInsensitive) == 0)
            return &pair.second;
    }
    return nullptr;
}

template <typename Value>
const Value *find(const QList<QPair<QString, Value>> &map, const QString &from)
{
    return find(const_cast<QList<QPair<QString, Value>> &>(map), from);
}

template <typename Value>
void setMapping(QList<QPair<QString, Value>> &map, const QString &from, const Value &to)
{
    if (Value *found = find(map, from))
        *found = to;
    else
        map.append({from, to});
}

QStringList trimmed(const QStringList &list)
{
    QStringList result;
    for (const QString &item : list) {
        if (!item.trimmed().isEmpty())
            result.append(item.trimmed());
    }
    return result;
}
} // namespace

void SchemaMap::set(const QString &key, const QStringList &value, bool fromConfiguration)
{
    const qsizetype dot = key.indexOf(QLatin1Char('.'));
    const QString kind = key.left(dot).toLower();
    const QString name = key.mid(dot + 1);
    if (kind == QLatin1String("class"))
        setMapping(m_classes, name, value);
    else if (kind == QLatin1String("attribute"))
        setMapping(m_attributes, name, value.join(QLatin1Char(',')));
    else if (kind == QLatin1String("filter")) {
        QString filter = value.join(QLatin1Char(','));
        if (!filter.startsWith(QLatin1Char('(')))
            filter = QLatin1Char('(') + filter + QLatin1Char(')');
        setMapping(m_filters, name, filter);
    } else
        return;
    if (fromConfiguration)
        m_configured.insert(key.toLower());
}

void SchemaMap::readOverrides(const QSettings &settings)
{
    for (const QString &key : settings.childKeys()) {
        // QSettings reads a value with commas as a list: several object classes, or a filter's parts.
        const QVariant value = settings.value(key);
        const QStringList parts = value.metaType() == QMetaType::fromType<QStringList>() ? value.toStringList()
                                                                                          : QStringList{value.toString()};
        if (key.startsWith(QLatin1String("filter."), Qt::CaseInsensitive))
            set(key, {parts.join(QLatin1Char(',')).trimmed()}, true);
        else if (key.contains(QLatin1Char('.')))
            set(key, trimmed(parts), true);
    }
}

QStringList SchemaMap::ndsClasses() const
{
    QStringList names;
    for (const auto &[ndsClass, objectClasses] : m_classes)
        names.append(ndsClass);
    return names;
}

QStringList SchemaMap::applyServerDefaults(ServerKind kind)
{
    if (kind != ServerKind::ActiveDirectory)
        return {}; // 389 and eDirectory know inetOrgPerson and ou, as OpenLDAP does
    const QList<QPair<QString, QStringList>> defaults{
        {QStringLiteral("class.User"), {QStringLiteral("user")}},
        // CN=Users and CN=Computers are containers, not OUs.
        {QStringLiteral("class.Organizational Unit"), {QStringLiteral("organizationalUnit"), QStringLiteral("container")}},
        {QStringLiteral("attribute.OU"), {QStringLiteral("department")}},
    };
    QStringList taken;
    for (const auto &[key, value] : defaults) {
        if (m_configured.contains(key.toLower()))
            continue;
        set(key, value, false);
        taken.append(key + QLatin1Char('=') + value.join(QStringLiteral(", ")));
    }
    // A computer account is a user too (class computer derives from user): the
    // category keeps it out, whichever class.User says.
    if (!m_configured.contains(QStringLiteral("filter.user"))) {
        const QString users = QStringLiteral("(&(objectCategory=person)%1)").arg(filter(QStringLiteral("User")));
        set(QStringLiteral("filter.User"), {users}, false);
        taken.append(QStringLiteral("filter.User=") + users);
    }
    // Its own class keeps a computer apart from the users in the browser.
    if (!m_configured.contains(QStringLiteral("class.computer")))
        m_classes.prepend({QStringLiteral("Computer"), {QStringLiteral("computer")}});
    return taken;
}

QString SchemaMap::ndsClass(const QStringList &objectClasses) const
{
    for (const auto &[nds, ldap] : m_classes) {
        for (const QString &objectClass : ldap) {
            if (objectClasses.contains(objectClass, Qt::CaseInsensitive))
                return nds;
        }
    }
    return objectClasses.isEmpty() ? QString() : objectClasses.last();
}

QString SchemaMap::objectClass(const QString &ndsClass) const
{
    const QStringList *classes = find(m_classes, ndsClass);
    return classes && !classes->isEmpty() ? classes->first() : ndsClass;
}

QString SchemaMap::filter(const QString &ndsClass) const
{
    if (const QString *filter = find(m_filters, ndsClass))
        return *filter;
    const QStringList *found = find(m_classes, ndsClass);
    const QStringList classes = found && !found->isEmpty() ? *found : QStringList{ndsClass};
    QString terms;
    for (const QString &objectClass : classes)
        terms += QStringLiteral("(objectClass=%1)").arg(escapeFilterValue(objectClass));
    return classes.size() == 1 ? terms : QStringLiteral("(|%1)").arg(terms);
}

QString directAttribute(const QString &directoryName)
{
    return QLatin1Char('=') + directoryName;
}

QString SchemaMap::attribute(const QString &ndsAttribute) const
{
    if (ndsAttribute.startsWith(QLatin1Char('=')))
        return ndsAttribute.mid(1);
    const QString *found = find(m_attributes, ndsAttribute);
    return found ? *found : ndsAttribute;
}

} // namespace directory
