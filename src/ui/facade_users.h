#pragma once

#include "runs/plan.h"

#include <QList>
#include <QString>

namespace ui {

// The users below `context` (a full name) with their DNs and values of
// `attribute` (an NDS name, "OU" as the window's run reads), found as the run finds them: through the facade, one
// level or the whole subtree. The facade's scope is the whole subtree again
// afterwards, as after a run.
QList<runs::FoundUser> findUsers(const QString &context, bool subtree, const QString &attribute = QStringLiteral("OU"));

} // namespace ui
