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

bool fitsInFullName(const QString &value)
{
    return !value.isEmpty() && !value.contains(QLatin1Char('\\'));
}

} // namespace directory
