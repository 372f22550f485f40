#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Why the window cannot open here, in German; empty when it can, or when only
// the platform itself can tell (offscreen, vnc, ...). Asked before the
// application object is made, since Qt ends a program whose platform finds no
// display with its own English text and an abort. `arguments` are the
// program's, Qt's own options (-platform, -display) still among them.
QString missingDisplay(const QStringList &arguments, const QProcessEnvironment &environment);
