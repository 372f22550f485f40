#include "ndk/names.h"

#include "platform/text.h"

#include <algorithm>

namespace ndk {

namespace {

// Where a full name's tree name lies: after "NDS:" and the two backslashes
// when it has them, up to the next backslash (`end` -1: none follows).
struct TreeSpan {
    qsizetype start;
    qsizetype end;
};

TreeSpan treeSpan(QStringView fullName)
{
    const qsizetype pair = fullName.indexOf(u"\\\\");
    const qsizetype start = pair < 0 ? 0 : pair + 2;
    return {start, fullName.indexOf(u'\\', start)};
}

} // namespace

void appendDottedName(QString &out, QStringView fullName)
{
    // A name with a dot in it is left as it is.
    if (fullName.isEmpty() || fullName.contains(QLatin1Char('.'))) {
        out += fullName;
        return;
    }
    const TreeSpan tree = treeSpan(fullName);
    // The components below the tree, last first, each backslash a dot: as
    // long as the path. An empty first component leaves no dot.
    const QStringView path = fullName.sliced(tree.end < 0 ? tree.start : tree.end + 1);
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
    const TreeSpan tree = treeSpan(fullName);
    return fullName.mid(tree.start, tree.end < 0 ? -1 : tree.end - tree.start);
}

bool IsRootToken(const QString &text)
{
    return platform::upperAscii(text) == QLatin1String("[ROOT]");
}

} // namespace ndk
