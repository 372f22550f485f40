#include "runs/run_state.h"

namespace runs {

namespace {
bool changedBy(const RecordedUser &user)
{
    return user.outcome == Outcome::Written || user.outcome == Outcome::Unconfirmed;
}
} // namespace

UndoHistory undoHistory(const RecordedRun &run, const QList<RecordedRun> &records)
{
    UndoHistory history;
    for (const RecordedRun &record : records) {
        if (record.header.kind != QLatin1String("undo") || record.header.undoes != run.header.id)
            continue;
        history.undos.append(record.header.id);
        bool settledAny = false;
        for (const RecordedUser &user : record.users) {
            // An undo records a user as written when it took it back, as
            // unchanged when it needed nothing; every other outcome leaves it open.
            if (user.outcome == Outcome::Written || user.outcome == Outcome::Unchanged) {
                history.settled.insert(user.index);
                settledAny = true;
            } else if (user.outcome == Outcome::Unconfirmed) {
                history.sent.insert(user.index);
            }
        }
        if (settledAny)
            history.by.append(record.header.id);
    }
    return history;
}

QList<int> openUsers(const RecordedRun &run, const UndoHistory &history)
{
    QList<int> open;
    for (const RecordedUser &user : run.users) {
        if (changedBy(user) && !history.settled.contains(user.index))
            open.append(user.index);
    }
    return open;
}

QString runState(const RecordedRun &run, const QList<RecordedRun> &records)
{
    QStringList parts;
    if (run.cancelled)
        parts.append(QStringLiteral("abgebrochen, nicht versucht: %1").arg(run.notTried));
    else if (!run.ended)
        parts.append(QStringLiteral("nicht zu Ende"));
    const UndoHistory history = undoHistory(run, records);
    if (!history.undos.isEmpty()) {
        const qsizetype open = openUsers(run, history).size();
        if (open == 0)
            parts.append(QStringLiteral("zurückgenommen von %1").arg(history.by.isEmpty() ? history.undos.join(QStringLiteral(", "))
                                                                                            : history.by.join(QStringLiteral(", "))));
        else
            parts.append(QStringLiteral("teilweise zurückgenommen (%1 offen)").arg(open));
    }
    return parts.join(QStringLiteral(", "));
}

} // namespace runs
