#pragma once

#include <QString>

namespace platform {

// Upper-cases only the letters a to z; umlauts and every other character stay.
QString upperAscii(const QString &text);

// Removes leading blanks (code 32 only; a tab is an ordinary character).
QString withoutLeadingBlanks(const QString &text);

// Decodes text as UTF-8 when it is valid UTF-8, else as Windows-1252, so
// files written on old Windows machines still read right.
QString decodeUtf8OrWindows1252(const QByteArray &bytes);

} // namespace platform
