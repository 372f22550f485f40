#include "runs/undo.h"

#include "directory/schema_map.h"
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

// The values someone put beside the run's: they stay.
QStringList besides(const QStringList &now, const RecordedUser &recorded)
{
    QStringList others;
    for (const QString &value : now) {
        if (!holds(recorded.added, value) && !holds(recorded.removed, value))
            others.append(value);
    }
    return others;
}

QString valuesText(const QStringList &values)
{
    return values.isEmpty() ? QStringLiteral("(leer)") : values.join(QStringLiteral(" | "));
}

void judge(UndoStep &step, const RecordedUser &recorded, const QStringList &now, const UndoHistory &history)
{
    step.change.before = now;
    if (holdsAll(now, recorded.added) && holdsNone(now, recorded.removed)) {
        step.change.after = inverted(now, recorded);
        step.writes = true;
        if (const QStringList others = besides(now, recorded); !others.isEmpty())
            step.reason = QStringLiteral("behält den seither dazugekommenen Wert %1").arg(valuesText(others));
    } else if (holdsAll(now, recorded.removed) && holdsNone(now, recorded.added)
               && (recorded.outcome == Outcome::Unconfirmed || history.sent.contains(recorded.index))) {
        step.settled = true;
        step.reason = history.sent.contains(recorded.index)
                          ? QStringLiteral("schon zurück") // an undo that ended without its answer had sent it
                          : QStringLiteral("nichts gespeichert, der alte Wert steht noch");
    } else if (holdsAll(now, recorded.removed) && holdsNone(now, recorded.added) && besides(now, recorded).isEmpty()) {
        // Written, yet the old values stand: a server the run's change has not reached yet.
        step.reason = QStringLiteral("hat noch den alten Wert; die Änderung des Laufs ist hier noch nicht angekommen");
    } else {
        step.reason = QStringLiteral("seit dem Lauf geändert, jetzt: %1").arg(valuesText(now));
    }
}

} // namespace

QList<UndoStep> planUndo(const RecordedRun &run, const QList<FoundUser> &now, const UndoHistory &history)
{
    QHash<QString, const FoundUser *> byDn;
    for (const FoundUser &user : now)
        byDn.insert(user.dn.toLower(), &user);

    QList<UndoStep> steps;
    for (const RecordedUser &recorded : run.users) {
        if (recorded.outcome != Outcome::Written && recorded.outcome != Outcome::Unconfirmed)
            continue;
        if (history.settled.contains(recorded.index))
            continue;
        UndoStep step;
        step.change = recorded;
        step.change.outcome = Outcome::Unconfirmed;
        step.change.message.clear();
        const FoundUser *user = byDn.value(recorded.dn.toLower());
        if (!recorded.agrees) {
            step.reason = QStringLiteral("Zeile %1: Kommentar und Änderung des Protokolls widersprechen sich").arg(recorded.line);
        } else if (!user) {
            step.settled = true; // nothing left to take back
            step.reason = QStringLiteral("nicht mehr vorhanden");
        } else {
            judge(step, recorded, user->values, history);
        }
        steps.append(step);
    }
    return steps;
}

QString DirectoryPlace::text() const
{
    QStringList in = {base, identity};
    in.removeAll(QString());
    return in.isEmpty() ? server : QStringLiteral("%1 (%2)").arg(server, in.join(QStringLiteral(", ")));
}

Undo::Undo(RecordedRun run, const QList<RecordedRun> &records)
    : m_run(std::move(run)), m_history(undoHistory(m_run, records))
{
}

QString Undo::attribute() const
{
    // A record from before the attribute was kept wrote "ou".
    return directory::directAttribute(m_run.header.attribute.isEmpty() ? QStringLiteral("ou") : m_run.header.attribute);
}

QStringList Undo::warnings(const QString &attributeNow) const
{
    QStringList warnings;
    if (!m_run.ended)
        warnings.append(QStringLiteral("Laufprotokoll %1 ist nicht zu Ende geschrieben: abgebrochen oder abgeschnitten").arg(m_run.path));
    const QString recorded = attribute().mid(1);
    if (!attributeNow.isEmpty() && attributeNow.compare(recorded, Qt::CaseInsensitive) != 0)
        warnings.append(QStringLiteral("Lauf %1 schrieb das Attribut %2; der Baum bildet OU jetzt auf %3 ab. "
                                       "Zurückgenommen wird %2, %3 bleibt, wie es ist")
                            .arg(m_run.header.id, recorded, attributeNow));
    return warnings;
}

DirectoryPlace Undo::ranOn() const
{
    return {m_run.header.server, m_run.header.base, m_run.header.identity};
}

bool Undo::sameDirectory(const DirectoryPlace &now) const
{
    const DirectoryPlace then = ranOn();
    if (!then.identity.isEmpty() && !now.identity.isEmpty())
        return then.identity == now.identity;
    // A record from before identities were kept, or a directory that shows none.
    return then.server == now.server && then.base == now.base;
}

UndoRun::UndoRun(const QString &folder, const Undo &undo, const DirectoryPlace &where, const QList<UndoStep> &steps, Store store)
{
    RunHeader header = undo.recorded().header;
    header.kind = QStringLiteral("undo");
    header.undoes = undo.recorded().header.id;
    header.server = where.server;
    header.base = where.base;
    header.identity = where.identity;
    header.attribute = undo.attribute().mid(1);
    m_record = std::make_unique<RunRecordWriter>(folder, header);
    for (const UndoStep &step : steps) {
        if (step.writes) {
            PlannedUser p;
            p.index = step.change.index;
            p.user = {step.change.fullName, step.change.dn, step.change.before};
            p.after = step.change.after;
            m_changes.append(p);
            continue;
        }
        RecordedUser user = step.change;
        user.outcome = step.settled ? Outcome::Unchanged : Outcome::Skipped;
        user.message = step.reason;
        m_record->notSent(user);
    }
    m_run = std::make_unique<Run>(*m_record, std::move(store), true, true);
}

} // namespace runs
