#include "ndk/names.h"

#include "platform/text.h"

namespace ndk {

void appendDottedName(QString &out, QStringView fullName)
{
    // A name with a dot in it is left as it is.
    if (fullName.isEmpty() || fullName.contains(QLatin1Char('.'))) {
        out += fullName;
        return;
    }
    qsizetype start = 0;
    if (const qsizetype pair = fullName.indexOf(QLatin1String("\\\\")); pair >= 0)
        start = pair + 2; // "NDS:" and the two backslashes
    if (const qsizetype tree = fullName.indexOf(QLatin1Char('\\'), start); tree >= 0)
        start = tree + 1; // the tree name
    // The components below the tree, last first; an empty first one leaves no dot.
    const QStringView path = fullName.sliced(start);
    const qsizetype from = out.size();
    for (qsizetype end = path.size();;) {
        const qsizetype cut = end == 0 ? -1 : path.lastIndexOf(QLatin1Char('\\'), end - 1);
        out += path.sliced(cut + 1, end - cut - 1);
        if (cut < 0)
            break;
        out += QLatin1Char('.');
        end = cut;
    }
    if (out.size() > from && out.endsWith(QLatin1Char('.')))
        out.chop(1);
}

QString ToDottedName(const QString &fullName)
{
    QString dotted;
    appendDottedName(dotted, fullName);
    return dotted;
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
