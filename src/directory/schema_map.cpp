#include "directory/schema_map.h"

#include <QSettings>

namespace directory {

SchemaMap::SchemaMap()
    : m_classes{{QStringLiteral("User"), QStringLiteral("inetOrgPerson")},
                {QStringLiteral("Organizational Unit"), QStringLiteral("organizationalUnit")},
                {QStringLiteral("Organization"), QStringLiteral("organization")},
                {QStringLiteral("Group"), QStringLiteral("groupOfNames")},
                {QStringLiteral("Organizational Role"), QStringLiteral("organizationalRole")},
                {QStringLiteral("Country"), QStringLiteral("country")},
                {QStringLiteral("Locality"), QStringLiteral("locality")}},
      m_attributes{{QStringLiteral("OU"), QStringLiteral("ou")}}
{
}

namespace {
void setMapping(QList<QPair<QString, QString>> &map, const QString &from, const QString &to)
{
    for (auto &pair : map) {
        if (pair.first.compare(from, Qt::CaseInsensitive) == 0) {
            pair.second = to;
            return;
        }
    }
    map.append({from, to});
}

QString lookup(const QList<QPair<QString, QString>> &map, const QString &from)
{
    for (const auto &pair : map) {
        if (pair.first.compare(from, Qt::CaseInsensitive) == 0)
            return pair.second;
    }
    return from;
}
} // namespace

void SchemaMap::readOverrides(const QSettings &settings)
{
    for (const QString &key : settings.childKeys()) {
        const QString value = settings.value(key).toString().trimmed(); // names hold no commas
        if (key.startsWith(QLatin1String("class."), Qt::CaseInsensitive))
            setMapping(m_classes, key.mid(6), value);
        else if (key.startsWith(QLatin1String("attribute."), Qt::CaseInsensitive))
            setMapping(m_attributes, key.mid(10), value);
    }
}

QString SchemaMap::ndsClass(const QStringList &objectClasses) const
{
    for (const auto &[nds, ldap] : m_classes) {
        if (objectClasses.contains(ldap, Qt::CaseInsensitive))
            return nds;
    }
    return objectClasses.isEmpty() ? QString() : objectClasses.last();
}

QString SchemaMap::objectClass(const QString &ndsClass) const
{
    return lookup(m_classes, ndsClass);
}

QString SchemaMap::attribute(const QString &ndsAttribute) const
{
    return lookup(m_attributes, ndsAttribute);
}

} // namespace directory
