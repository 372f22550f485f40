#pragma once

#include <QString>

// Asks for the password of a tree's simple bind in a small login dialog that
// names the tree, its server and the bind DN; the answer is kept in memory
// only. Empty when the administrator cancels.
QString askPassword(const QString &treeName, const QString &bindDn);
