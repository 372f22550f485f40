#pragma once

#include <QList>
#include <QPixmap>
#include <QString>

namespace nwcontrols {

// The ten 16 x 16 class icons, indexed by class code: 0 any other class,
// 1 User, 2 Organizational Unit, 3 Group, 4 Organization, 5 Organizational
// Role, 6 Root/Top, 7 Tree, 8 Template, 9 Volume.
QList<QPixmap> classIcons();

// The class code 0..9 of an NDS class name, letter case of a-z ignored;
// 0 for any name not in the table.
qint32 classCode(const QString &className);

// What a class code stands for, in German, for screen readers ("Organisation").
QString classTitle(qint32 code);

} // namespace nwcontrols
