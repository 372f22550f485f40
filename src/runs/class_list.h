#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The class list "Klassen.txt" (lines like "8a;Abi05a": real class ; container
// name) and its lookup.

// Where "Klassen.txt" is looked for, in this order: beside the executable
// (`programFolder`), in the user's configuration folder
// (~/.config/klassomat), then in the system's (/etc/klassomat).
QStringList ClassListCandidates(const QString &programFolder);

// The first candidate that exists; the first one when none does.
QString ClassListPath(const QString &programFolder);

// The lines of the file's content: a line ends at CR LF, LF or CR; a trailing
// line break makes no empty line; a NUL ends the text. UTF-8 when valid, else
// Windows-1252.
QStringList ClassListLines(const QByteArray &content);

// The key of the first line whose rest (after the first ";") begins with the
// container name, ignoring the letter case of a-z and leading blanks; empty
// when no line matches.
QString LookupClassIn(const QStringList &classList, const QString &container);

namespace runs {

// A class list as read from its file, with what a run record names it by.
struct ClassList {
    QString path;
    QStringList lines;
    QByteArray sha256; // hex, of the file's bytes
};

// Reads the file; raises "Datei … kann nicht geöffnet werden" when it cannot.
ClassList readClassList(const QString &path);

// How a container name finds its line.
struct ClassMatch {
    QString className;
    int line = -1;              // zero-based index of the matching line; -1 none
    bool throughLonger = false; // the line names a longer container ("8a;Abi05a" for Abi05)
};
ClassMatch matchClass(const QStringList &classList, const QString &container);

// Whether `name` is the key of a line that names a container, compared with
// `cs`; in log(lines), as a run asks it for many users.
bool isClassName(const QStringList &classList, const QString &name, Qt::CaseSensitivity cs);

} // namespace runs
