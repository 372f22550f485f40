// The class list: any bytes as "Klassen.txt", looked up with any container
// name, must give lines without line breaks and a lookup result that is one
// of the lines' keys.
#include "runs/class_list.h"
#include "runs/designation.h"

#include <cstdlib>

namespace {
void require(bool condition)
{
    if (!condition)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QStringList lines = ClassListLines(content);
    for (const QString &line : lines)
        require(!line.contains(QLatin1Char('\n')) && !line.contains(QLatin1Char('\r')) && !line.contains(QChar(0)));

    // The first line doubles as a full name and as the container to look up.
    const QString probe = lines.value(0);
    const QString container = ParentContainerName(probe);
    require(container.isEmpty() || probe.contains(container + QLatin1Char('\\')));
    for (const QString &name : {container, probe, lines.value(lines.size() - 1)}) {
        const QString key = LookupClassIn(lines, name);
        if (!key.isEmpty()) {
            bool found = false;
            for (const QString &line : lines)
                found = found || line.contains(key + QLatin1Char(';'));
            require(found);
        }
        for (int form = 0; form < 4; ++form)
            (void)Designation(form, name, key);
    }
    return 0;
}
