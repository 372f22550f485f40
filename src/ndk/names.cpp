#include "ndk/names.h"

#include "platform/text.h"

namespace ndk {

QString ToDottedName(const QString &fullName)
{
    if (fullName.isEmpty() || fullName.contains(QLatin1Char('.')))
        return fullName;

    QString s = fullName;
    const qsizetype pair = s.indexOf(QLatin1String("\\\\"));
    if (pair >= 0)
        s.remove(0, pair + 2); // "NDS:" and the two backslashes
    const qsizetype tree = s.indexOf(QLatin1Char('\\'));
    if (tree >= 0)
        s.remove(0, tree + 1); // the tree name
    s += QLatin1Char('\\');

    QString d;
    for (qsizetype p = s.indexOf(QLatin1Char('\\')); p >= 0; p = s.indexOf(QLatin1Char('\\'))) {
        d = QLatin1Char('.') + s.left(p) + d;
        s.remove(0, p + 1);
    }
    if (d.startsWith(QLatin1Char('.')))
        d.remove(0, 1);
    if (d.endsWith(QLatin1Char('.')))
        d.chop(1);
    return d;
}

QString TreeName(const QString &fullName)
{
    const qsizetype pair = fullName.indexOf(QLatin1String("\\\\"));
    const qsizetype start = pair < 0 ? 0 : pair + 2;
    const qsizetype end = fullName.indexOf(QLatin1Char('\\'), start);
    return fullName.mid(start, end < 0 ? -1 : end - start);
}

bool IsRootToken(const QString &text)
{
    return platform::upperAscii(text) == QLatin1String("[ROOT]");
}

} // namespace ndk
