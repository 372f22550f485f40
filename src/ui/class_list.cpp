#include "ui/class_list.h"

#include "platform/text.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {
const QString kFileName = QStringLiteral("Klassen.txt");
}

QStringList ClassListCandidates(const QString &programFolder)
{
    return {QDir(programFolder).filePath(kFileName),
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/klassomat/") + kFileName,
            QStringLiteral("/etc/klassomat/") + kFileName};
}

QString ClassListPath(const QString &programFolder)
{
    const QStringList candidates = ClassListCandidates(programFolder);
    for (const QString &path : candidates) {
        if (QFileInfo::exists(path))
            return path;
    }
    return candidates.first();
}

QStringList ClassListLines(const QByteArray &content)
{
    const qsizetype nul = content.indexOf('\0');
    const QString text = platform::decodeUtf8OrWindows1252(nul < 0 ? content : content.left(nul));

    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n'))
            continue;
        lines.append(text.mid(start, i - start));
        if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.append(text.mid(start));
    return lines;
}

QString LookupClassIn(const QStringList &classList, const QString &container)
{
    const QString name = platform::upperAscii(platform::withoutLeadingBlanks(container));
    if (name.isEmpty())
        return {};
    for (const QString &line : classList) {
        const QString trimmed = platform::withoutLeadingBlanks(line);
        const qsizetype separator = trimmed.indexOf(QLatin1Char(';'));
        if (separator < 0)
            continue;
        const QString rest = platform::withoutLeadingBlanks(trimmed.mid(separator + 1));
        if (platform::upperAscii(rest).startsWith(name))
            return trimmed.left(separator);
    }
    return {};
}

QString ParentContainerName(const QString &fullName)
{
    const qsizetype last = fullName.lastIndexOf(QLatin1Char('\\'));
    if (last <= 0)
        return {};
    const qsizetype before = fullName.lastIndexOf(QLatin1Char('\\'), last - 1);
    return fullName.mid(before + 1, last - before - 1);
}

QString Designation(int form, const QString &container, const QString &className)
{
    switch (form) {
    case 1:
        return className;
    case 2:
        return className + QStringLiteral(", ") + container;
    case 3:
        return container + QStringLiteral(", ") + className;
    default:
        return container;
    }
}
