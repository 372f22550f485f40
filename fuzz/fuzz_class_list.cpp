// The class list: any bytes as "Klassen.txt", looked up with any container
// name, must give lines without line breaks and a lookup result that is one
// of the lines' keys, the same as a plain walk through the lines gives.
#include "runs/class_list.h"
#include "runs/designation.h"
#include "platform/text.h"

#include <cstdlib>

namespace {
void require(bool condition)
{
    if (!condition)
        std::abort();
}

// The rule read line by line: the first line whose rest begins with the name.
runs::ClassMatch linearMatch(const QStringList &lines, const QString &container)
{
    const QString name = platform::upperAscii(platform::withoutLeadingBlanks(container));
    if (name.isEmpty())
        return {};
    for (int i = 0; i < lines.size(); ++i) {
        const QString trimmed = platform::withoutLeadingBlanks(lines.at(i));
        const qsizetype separator = trimmed.indexOf(QLatin1Char(';'));
        if (separator < 0)
            continue;
        const QString rest = platform::upperAscii(platform::withoutLeadingBlanks(trimmed.mid(separator + 1)));
        if (rest.startsWith(name))
            return {trimmed.left(separator), i, rest.section(QLatin1Char(';'), 0, 0) != name};
    }
    return {};
}

void requireSame(const QStringList &lines, const QString &container)
{
    const runs::ClassMatch indexed = runs::matchClass(lines, container);
    const runs::ClassMatch linear = linearMatch(lines, container);
    require(indexed.className == linear.className && indexed.line == linear.line
            && indexed.throughLonger == linear.throughLonger);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QStringList lines = runs::classListLines(content);
    for (const QString &line : lines)
        require(!line.contains(QLatin1Char('\n')) && !line.contains(QLatin1Char('\r')) && !line.contains(QChar(0)));

    // The first line doubles as a full name and as the container to look up.
    const QString probe = lines.value(0);
    const QString container = runs::ParentContainerName(probe);
    require(container.isEmpty() || probe.contains(container + QLatin1Char('\\')));
    // Every line's rest and its prefixes as names: many lines match some of them.
    for (const QString &line : lines) {
        const QString rest = line.section(QLatin1Char(';'), 1);
        for (qsizetype n = 1; n <= rest.size() && n <= 4; ++n)
            requireSame(lines, rest.left(n));
        requireSame(lines, rest);
    }
    for (const QString &name : {container, probe, lines.value(lines.size() - 1)}) {
        requireSame(lines, name);
        const QString key = runs::matchClass(lines, name).className;
        if (!key.isEmpty()) {
            bool found = false;
            for (const QString &line : lines)
                found = found || line.contains(key + QLatin1Char(';'));
            require(found);
        }
        for (int form = 0; form < 4; ++form)
            (void)runs::designationOf(form, name, key);
    }
    return 0;
}
