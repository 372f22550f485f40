#include "runs/class_list.h"

#include "platform/error.h"
#include "platform/text.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace runs {

namespace {

const QString kFileName = QStringLiteral("Klassen.txt");

QString shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// The text ends at the first NUL.
QByteArrayView textOf(const QByteArray &content)
{
    const qsizetype nul = content.indexOf('\0');
    return QByteArrayView(content).first(nul < 0 ? content.size() : nul);
}

// The one-based number of the line that the byte at `at` is in.
qsizetype lineAt(const QByteArray &content, qsizetype at)
{
    return classListLines(content.left(at) + 'x').size();
}

// UTF-16 as Windows editors save it: with a byte order mark, or without one a
// NUL beside each of the first characters. Read as 8-bit text it would end
// after its first letter.
bool isUtf16(const QByteArray &content)
{
    if (content.startsWith("\xFF\xFE") || content.startsWith("\xFE\xFF"))
        return true;
    if (content.size() < 4)
        return false;
    const auto nul = [&](qsizetype i) { return content.at(i) == '\0'; };
    return (!nul(0) && nul(1) && !nul(2) && nul(3)) || (nul(0) && !nul(1) && nul(2) && !nul(3));
}

// Why `content` is no class list, or empty when it is text. A control
// character other than TAB, a line end, a form feed or the Ctrl-Z that DOS
// editors put last means the file holds something else: a spreadsheet, a
// picture. What follows a NUL is not read, so it is not judged either.
QString notText(const QByteArray &content)
{
    if (isUtf16(content))
        return QStringLiteral("sie ist in UTF-16 gespeichert; bitte als UTF-8 oder Windows-1252 (ANSI) speichern");
    const QByteArrayView text = textOf(content);
    for (qsizetype at = 0; at < text.size(); ++at) {
        const auto c = static_cast<unsigned char>(text.at(at));
        const bool allowed = (c >= 0x20 && c != 0x7F) || QByteArrayView("\t\n\r\f").contains(char(c))
                             || (c == 0x1A && at == text.size() - 1);
        if (!allowed)
            return QStringLiteral("Zeile %1 enthält das Steuerzeichen 0x%2; eine Klassenliste ist Text in UTF-8 oder Windows-1252")
                .arg(lineAt(content, at))
                .arg(c, 2, 16, QLatin1Char('0'));
    }
    return {};
}

// Says where a NUL ends the text before more of it. NULs alone after it are
// padding that some programs leave, and lose nothing.
QString noteOn(const QString &path, const QByteArray &content)
{
    const qsizetype nul = content.indexOf('\0');
    if (nul < 0 || content.count('\0') == content.size() - nul)
        return {};
    return QStringLiteral("In Zeile %1 der Klassenliste %2 steht ein NUL-Zeichen: dort endet die Liste, "
                          "was folgt (%3 Bytes), wird nicht gelesen.")
        .arg(lineAt(content, nul))
        .arg(shown(path))
        .arg(content.size() - nul - 1);
}

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("ein Ordner");
    if (S_ISFIFO(mode))
        return QStringLiteral("eine Pipe (FIFO)");
    if (S_ISSOCK(mode))
        return QStringLiteral("ein Socket");
    return QStringLiteral("ein Gerät");
}

// Opened without waiting: a FIFO in the file's place would otherwise hang
// the program until something writes to it.
QByteArray readRegularFile(const QString &path)
{
    const auto cannotOpen = [&] {
        return platform::Error(QStringLiteral("Datei %1 kann nicht geöffnet werden").arg(shown(path)));
    };
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw cannotOpen();
    struct stat info{};
    if (::fstat(fd, &info) != 0) {
        ::close(fd);
        throw cannotOpen();
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        throw platform::Error(QStringLiteral("Datei %1 kann nicht geöffnet werden: dort steht %2, keine gewöhnliche Datei")
                                  .arg(shown(path), kindOf(info.st_mode)));
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw cannotOpen();
    }
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw cannotOpen();
    return content;
}

} // namespace

QStringList classListCandidates(const QString &programFolder)
{
    return {QDir(programFolder).filePath(kFileName),
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/klassomat/") + kFileName,
            QStringLiteral("/etc/klassomat/") + kFileName};
}

QString classListPath(const QString &programFolder)
{
    const QStringList candidates = classListCandidates(programFolder);
    for (const QString &path : candidates) {
        if (QFileInfo::exists(path))
            return path;
    }
    return candidates.first();
}

QString noClassListText(const QString &programFolder)
{
    return QStringLiteral("Keine Klassenliste gefunden. Gesucht wurde in dieser Reihenfolge:\n")
           + shown(classListCandidates(programFolder).join(QLatin1Char('\n')));
}

QStringList classListLines(const QByteArray &content)
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

ClassList readClassList(const QString &path)
{
    const QByteArray content = readRegularFile(path);
    if (const QString why = notText(content); !why.isEmpty())
        throw platform::Error(QStringLiteral("Datei %1 ist keine Klassenliste: %2").arg(shown(path), why));
    return {path, classListLines(content), QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex(),
            noteOn(path, content)};
}

} // namespace runs
