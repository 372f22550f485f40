#pragma once

#include <QString>

// Name forms; none of them touches the directory.
namespace ndk {

// NDS:\\TREE\O\OU\CN -> CN.OU.O; a name holding a "." is returned as it is.
QString ToDottedName(const QString &fullName);
// The same, appended to `out`: a listing of many users builds one text.
void appendDottedName(QString &out, QStringView fullName);

// The tree's name in a full name: TREE out of NDS:\\TREE\O\OU.
QString TreeName(const QString &fullName);

// Whether `text` is the root token "[Root]", in any letter case.
bool IsRootToken(const QString &text);

} // namespace ndk
