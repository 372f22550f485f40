#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The class list "Klassen.txt" (lines like "8a;Abi05a": real class ; container
// name) and its lookup.
namespace runs {

// Where "Klassen.txt" is looked for, in this order: beside the executable
// (`programFolder`), in the user's configuration folder
// (~/.config/klassomat), then in the system's (/etc/klassomat).
QStringList classListCandidates(const QString &programFolder);

// The first candidate that exists; the first one when none does.
QString classListPath(const QString &programFolder);

// What the greyed designation forms say when no candidate exists: where the
// class list was looked for.
QString noClassListText(const QString &programFolder);

// The lines of the file's content: a line ends at CR LF, LF or CR; a trailing
// line break makes no empty line; a NUL ends the text. UTF-8 when valid, else
// Windows-1252.
QStringList classListLines(const QByteArray &content);

// A class list as read from its file, with what a run record names it by.
struct ClassList {
    QString path;
    QStringList lines;
    QByteArray sha256; // hex, of the file's bytes
    // What the administrator should know of a list that was read, else
    // empty: text after a NUL, which is not read.
    QString note;
};

// Reads the file. Raises "Datei … kann nicht geöffnet werden" when it cannot,
// and refuses, naming the file, what is no regular file (a FIFO, a device, a
// folder) and what is no text (UTF-16, control characters: naming the line).
ClassList readClassList(const QString &path);

// How a container name finds its line.
struct ClassMatch {
    QString className;
    int line = -1;              // zero-based index of the matching line; -1 none
    bool throughLonger = false; // the line names a longer container ("8a;Abi05a" for Abi05)
    // Whether a line names the container. Its class may still be empty
    // (";Abi05a"): that class is empty on purpose, not missing.
    [[nodiscard]] bool found() const { return line >= 0; }
};
ClassMatch matchClass(const QStringList &classList, const QString &container);

// Whether `name` is the key of a line that names a container, compared with
// `cs`; in log(lines), as a run asks it for many users.
bool isClassName(const QStringList &classList, const QString &name, Qt::CaseSensitivity cs);

} // namespace runs
