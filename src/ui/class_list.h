#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The class list "Klassen.txt" (lines like "8a;Abi05a": real class ; container
// name) and the designations built from it.

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

// The text strictly between the last two backslashes of a full name.
QString ParentContainerName(const QString &fullName);

// The designation in form 0 (container), 1 (class), 2 (class, container)
// or 3 (container, class).
QString Designation(int form, const QString &container, const QString &className);
