#include "runs/undo.h"

#include "runs/designation.h"

#include <QHash>

#include <algorithm>

namespace runs {

namespace {

bool holds(const QStringList &values, const QString &value)
{
    return std::any_of(values.cbegin(), values.cend(), [&](const QString &v) { return sameValues({v}, {value}); });
}

bool holdsAll(const QStringList &values, const QStringList &wanted)
{
    return std::all_of(wanted.cbegin(), wanted.cend(), [&](const QString &v) { return holds(values, v); });
}

bool holdsNone(const QStringList &values, const QStringList &unwanted)
{
    return std::none_of(unwanted.cbegin(), unwanted.cend(), [&](const QString &v) { return holds(values, v); });
}

// The values once the change record is inverted: what it added goes, what
// it deleted comes back; values others put there stay.
QStringList inverted(const QStringList &now, const RecordedUser &recorded)
{
    QStringList after;
    for (const QString &value : now) {
        if (!holds(recorded.added, value))
            after.append(value);
    }
    for (const QString &value : recorded.removed) {
        if (!holds(after, value))
            after.append(value);
    }
    return after;
}

QString valuesText(const QStringList &values)
{
    return values.isEmpty() ? QStringLiteral("(leer)") : values.join(QStringLiteral(" | "));
}

} // namespace

QList<UndoStep> planUndo(const RecordedRun &run, const QList<FoundUser> &now)
{
    QHash<QString, const FoundUser *> byDn;
    for (const FoundUser &user : now)
        byDn.insert(user.dn.toLower(), &user);

    QList<UndoStep> steps;
    for (const RecordedUser &recorded : run.users) {
        if (recorded.outcome != Outcome::Written && recorded.outcome != Outcome::Unconfirmed)
            continue;
        UndoStep step;
        step.change = recorded;
        step.change.outcome = Outcome::Unconfirmed;
        step.change.message.clear();
        const FoundUser *user = byDn.value(recorded.dn.toLower());
        if (!recorded.agrees) {
            step.reason = QStringLiteral("Zeile %1: Kommentar und Änderung des Protokolls widersprechen sich").arg(recorded.line);
        } else if (!user) {
            step.reason = QStringLiteral("nicht mehr vorhanden");
        } else if (holdsAll(user->values, recorded.added) && holdsNone(user->values, recorded.removed)) {
            step.change.before = user->values;
            step.change.after = inverted(user->values, recorded);
            step.writes = true;
        } else if (recorded.outcome == Outcome::Unconfirmed && holdsAll(user->values, recorded.removed)
                   && holdsNone(user->values, recorded.added)) {
            // Sent without an answer, and the directory did not keep it.
            step.change.before = user->values;
            step.neverStored = true;
            step.reason = QStringLiteral("nichts gespeichert, der alte Wert steht noch");
        } else {
            step.change.before = user->values;
            step.reason = QStringLiteral("seit dem Lauf geändert, jetzt: %1").arg(valuesText(user->values));
        }
        steps.append(step);
    }
    return steps;
}

} // namespace runs
