#include "directory/full_name.h"

#include "platform/error.h"

namespace directory {

namespace {
const QString kPrefix = QStringLiteral("NDS:\\\\");
}

FullName FullName::parse(const QString &text)
{
    if (!text.startsWith(kPrefix, Qt::CaseInsensitive))
        throw platform::Error(QStringLiteral("Ungültiger Objektname \"%1\": er beginnt nicht mit NDS:\\\\").arg(text));
    QStringList parts = text.mid(kPrefix.size()).split(QLatin1Char('\\'));
    FullName name;
    name.treeName = parts.takeFirst();
    // One trailing backslash is tolerated, as the program's own name helpers do.
    if (!parts.isEmpty() && parts.last().isEmpty())
        parts.removeLast();
    if (name.treeName.isEmpty() || parts.contains(QString()))
        throw platform::Error(QStringLiteral("Ungültiger Objektname \"%1\": leerer Namensteil").arg(text));
    name.components = parts;
    return name;
}

QString FullName::toString() const
{
    QString text = rootFullName(treeName);
    for (const QString &component : components)
        text += QLatin1Char('\\') + component;
    return text;
}

QString rootFullName(const QString &treeName)
{
    return kPrefix + treeName;
}

bool nameable(const Rdn &rdn)
{
    return rdn.size() == 1 && !rdn.first().value.isEmpty() && !rdn.first().value.contains(QLatin1Char('\\'));
}

platform::Error objectNotFound(const QString &fullName)
{
    return platform::Error(QStringLiteral("Objekt %1 nicht gefunden").arg(fullName));
}

platform::Error objectAmbiguous(const QString &fullName, const QString &component)
{
    return platform::Error(QStringLiteral("Objekt %1 ist nicht eindeutig: mehrere Objekte tragen den Namen %2")
                               .arg(fullName, component));
}

platform::Error objectAmbiguous(const QString &fullName, const QStringList &dns)
{
    return platform::Error(QStringLiteral("Objekt %1 ist nicht eindeutig: der Name trifft %2")
                               .arg(fullName, dns.join(QStringLiteral(" und "))));
}

platform::Error notInTree(const QString &fullName, const QString &treeName)
{
    return platform::Error(QStringLiteral("Objekt %1 liegt nicht im Baum %2").arg(fullName, treeName));
}

platform::Error notNameable(const QString &dn)
{
    return platform::Error(QStringLiteral("Das Objekt %1 hat einen Namen, der sich nicht als NDS-Name schreiben "
                                          "lässt (\\ oder mehrteiliger RDN)").arg(dn));
}

} // namespace directory
