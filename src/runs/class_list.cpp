#include "runs/class_list.h"

#include "platform/error.h"
#include "platform/text.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

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
    return runs::matchClass(classList, container).className;
}

namespace runs {

namespace {
struct Line {
    QString key;
    QString rest; // without its leading blanks
};

std::optional<Line> splitLine(const QString &line)
{
    const QString trimmed = platform::withoutLeadingBlanks(line);
    const qsizetype separator = trimmed.indexOf(QLatin1Char(';'));
    if (separator < 0)
        return std::nullopt;
    return Line{trimmed.left(separator), platform::withoutLeadingBlanks(trimmed.mid(separator + 1))};
}

// Why `content` is no class list, or empty when it is text. NULs at the end
// are padding (the text ends at the first); a control character other than
// TAB, a line end, a form feed or the Ctrl-Z that DOS editors put at the end
// means the file holds something else: a spreadsheet, a picture, UTF-16.
QString notText(const QByteArray &content)
{
    if (content.startsWith("\xFF\xFE") || content.startsWith("\xFE\xFF"))
        return QStringLiteral("sie ist in UTF-16 gespeichert; bitte als UTF-8 oder Windows-1252 (ANSI) speichern");
    const qsizetype nul = content.indexOf('\0');
    const qsizetype end = nul < 0 ? content.size() : nul;
    qsizetype at = 0;
    while (at < end) {
        const auto c = static_cast<unsigned char>(content.at(at));
        if ((c < 0x20 && !QByteArrayView("\t\n\r\f\x1a").contains(char(c))) || c == 0x7F)
            break;
        ++at;
    }
    if (at == content.size() || (at == nul && std::all_of(content.cbegin() + nul, content.cend(), [](char c) { return c == 0; })))
        return {};
    return QStringLiteral("Zeile %1 enthält das Steuerzeichen 0x%2; eine Klassenliste ist Text in UTF-8 oder Windows-1252")
        .arg(ClassListLines(content.left(at) + 'x').size())
        .arg(static_cast<unsigned char>(content.at(at)), 2, 16, QLatin1Char('0'));
}

} // namespace

ClassList readClassList(const QString &path)
{
    QFile file(path);
    const auto failure = [&] {
        return platform::Error(QStringLiteral("Datei %1 kann nicht geöffnet werden").arg(QDir::toNativeSeparators(path)));
    };
    if (!file.open(QIODevice::ReadOnly) || file.isSequential())
        throw failure();
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw failure();
    if (const QString why = notText(content); !why.isEmpty())
        throw platform::Error(QStringLiteral("Datei %1 ist keine Klassenliste: %2").arg(QDir::toNativeSeparators(path), why));
    return {path, ClassListLines(content), QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex()};
}

ClassMatch matchClass(const QStringList &classList, const QString &container)
{
    const QString name = platform::upperAscii(platform::withoutLeadingBlanks(container));
    if (name.isEmpty())
        return {};
    for (int i = 0; i < classList.size(); ++i) {
        const std::optional<Line> line = splitLine(classList.at(i));
        if (!line)
            continue;
        const QString rest = platform::upperAscii(line->rest);
        if (rest.startsWith(name)) {
            // "8a;Abi05a;Raum 12" names Abi05a exactly: what follows a ";" is a remark.
            const QString named = rest.section(QLatin1Char(';'), 0, 0);
            return {line->key, i, named != name};
        }
    }
    return {};
}

QStringList classNames(const QStringList &classList)
{
    QStringList names;
    for (const QString &text : classList) {
        if (const std::optional<Line> line = splitLine(text); line && !line->rest.isEmpty())
            names.append(line->key);
    }
    return names;
}

} // namespace runs
