#include "ndk/names.h"

#include "platform/text.h"

#include <algorithm>

namespace ndk {

void appendDottedName(QString &out, QStringView fullName)
{
    // A name with a dot in it is left as it is.
    if (fullName.isEmpty() || fullName.contains(QLatin1Char('.'))) {
        out += fullName;
        return;
    }
    qsizetype start = 0;
    if (const qsizetype pair = fullName.indexOf(u"\\\\"); pair >= 0)
        start = pair + 2; // "NDS:" and the two backslashes
    if (const qsizetype tree = fullName.indexOf(QLatin1Char('\\'), start); tree >= 0)
        start = tree + 1; // the tree name
    // The components below the tree, last first, each backslash a dot: as
    // long as the path. An empty first component leaves no dot.
    const QStringView path = fullName.sliced(start);
    const qsizetype from = out.size();
    out.resize(from + path.size());
    QChar *to = out.data() + from;
    for (qsizetype end = path.size();;) {
        qsizetype cut = end;
        while (cut > 0 && path[cut - 1] != u'\\')
            --cut;
        to = std::copy(path.begin() + cut, path.begin() + end, to);
        if (cut == 0)
            break;
        *to++ = u'.';
        end = cut - 1;
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
