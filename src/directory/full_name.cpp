#include "directory/full_name.h"

#include "platform/error.h"

namespace directory {

namespace {
const QString kPrefix = QStringLiteral("NDS:\\\\");

// Whether the text begins with the prefix, in any case: every write asks it of its name.
bool startsAsFullName(QStringView text)
{
    return text.size() >= kPrefix.size() && sameName(text.first(kPrefix.size()), kPrefix);
}
} // namespace

FullNameShape shapeOf(QStringView text)
{
    if (!startsAsFullName(text))
        throw platform::Error(QStringLiteral("Ungültiger Objektname \"%1\": er beginnt nicht mit NDS:\\\\").arg(text));
    QStringView rest = text.sliced(kPrefix.size());
    // One trailing backslash is tolerated, as the program's own name helpers do.
    if (rest.endsWith(QLatin1Char('\\')))
        rest.chop(1);
    // One pass: a run asks this of every name it writes.
    FullNameShape shape{rest, {}, 0};
    qsizetype partStart = 0;
    bool emptyPart = false;
    for (qsizetype i = 0; i <= rest.size(); ++i) {
        if (i < rest.size() && rest[i] != QLatin1Char('\\'))
            continue;
        emptyPart = emptyPart || i == partStart;
        if (shape.depth++ == 0 && i < rest.size()) {
            shape.treeName = rest.first(i);
            shape.path = rest.sliced(i + 1);
        }
        partStart = i + 1;
    }
    --shape.depth; // the tree name is no component
    if (emptyPart)
        throw platform::Error(QStringLiteral("Ungültiger Objektname \"%1\": leerer Namensteil").arg(text));
    return shape;
}

QStringView treeNameIn(QStringView text)
{
    if (!startsAsFullName(text))
        return {};
    const QStringView rest = text.sliced(kPrefix.size());
    return rest.left(rest.indexOf(QLatin1Char('\\')));
}

bool sameName(QStringView a, QStringView b)
{
    // Folding keeps a name's length: texts of two lengths never match.
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        const char16_t x = a[i].unicode();
        const char16_t y = b[i].unicode();
        if (x == y)
            continue;
        if (x >= 0x80 || y >= 0x80) // K and the Kelvin sign are the same name
            return a.sliced(i).compare(b.sliced(i), Qt::CaseInsensitive) == 0;
        const char16_t lower = x | 0x20;
        if (lower != (y | 0x20) || lower < u'a' || lower > u'z')
            return false;
    }
    return true;
}

FullName FullName::parse(const QString &text)
{
    const FullNameShape shape = shapeOf(text);
    FullName name{shape.treeName.toString(), {}};
    if (shape.depth > 0)
        name.components = shape.path.toString().split(QLatin1Char('\\'));
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

bool nameable(QStringView value)
{
    return !value.isEmpty() && !value.contains(QLatin1Char('\\'));
}

bool nameable(const Rdn &rdn)
{
    return rdn.size() == 1 && nameable(rdn.first().value);
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
