#include "runs/undo.h"

#include "runs/designation.h"

#include <QHash>

namespace runs {

QList<UndoStep> planUndo(const RecordedRun &run, const QList<FoundUser> &now)
{
    QHash<QString, const FoundUser *> byDn;
    for (const FoundUser &user : now)
        byDn.insert(user.dn.toLower(), &user);

    QList<UndoStep> steps;
    for (const RecordedUser &recorded : run.users) {
        // A change sent without an answer may have been stored: the values decide.
        if (recorded.outcome != Outcome::Written && recorded.outcome != Outcome::Unknown)
            continue;
        UndoStep step;
        step.change = recorded;
        step.change.outcome = Outcome::Unknown;
        step.change.message.clear();
        step.change.before = recorded.after;
        step.change.after = recorded.before;
        const FoundUser *user = byDn.value(recorded.dn.toLower());
        if (!user) {
            step.reason = QStringLiteral("nicht mehr vorhanden");
        } else if (sameValues(user->values, recorded.after)) {
            step.change.before = user->values;
            step.writes = true;
        } else if (recorded.outcome == Outcome::Unknown && sameValues(user->values, recorded.before)) {
            continue; // never stored: nothing to take back
        } else {
            step.change.before = user->values;
            step.reason = QStringLiteral("seit dem Lauf geändert, jetzt: %1")
                              .arg(user->values.isEmpty() ? QStringLiteral("(leer)") : user->values.join(QStringLiteral(" | ")));
        }
        steps.append(step);
    }
    return steps;
}

} // namespace runs
