#pragma once

#include <QString>

// Name forms and class codes; none of them touches the directory.
namespace ndk {

// NDS:\\TREE\O\OU\CN -> CN.OU.O; a name holding a "." is returned as it is.
QString ToDottedName(const QString &fullName);

// The icon index 0..9 of an NDS class name, letter case ignored.
qint32 ClassCode(const QString &className);

// Whether `text` is the root token "[Root]", in any letter case.
bool IsRootToken(const QString &text);

} // namespace ndk
