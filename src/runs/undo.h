#pragma once

#include "runs/plan.h"
#include "runs/run.h"
#include "runs/run_record.h"
#include "runs/run_state.h"

#include <QList>
#include <QString>

#include <memory>

// Taking a run back: one engine for the command line's `undo` and the
// window's history. It acts on what the record names (its attribute, its
// users, its values), not on today's configuration: the change records are
// inverted (their added values deleted, their deleted values added again),
// but only where the user still holds what the run wrote. An undo that could
// not settle every user leaves the run open, and the next one takes back what
// is still open, reading the directory anew.
namespace runs {

struct UndoStep {
    RecordedUser change; // dn: where the user is now; before: its values now; after: once taken back
    bool writes = false;
    bool settled = false; // not written, and needs nothing: it counts as back
    QString reason;       // why it is not written; for one written, the values it keeps beside
};

// Plans the undo of the users of `run` that `history` leaves open, against the
// users as they are now (`now`: their values of the record's attribute).
QList<UndoStep> planUndo(const RecordedRun &run, const QList<FoundUser> &now, const UndoHistory &history = {});

// A directory as a record or the tree names it now.
struct DirectoryPlace {
    QString server;   // its URI or LDIF file
    QString base;     // the tree's base DN
    QString identity; // the base entry's own identity, when it shows one
    [[nodiscard]] QString text() const; // "ldap://a (o=Schule, entryUUID=…)"
};

class Undo {
public:
    // `records`: the records of the folder, among them the undos of `run` done before.
    Undo(RecordedRun run, const QList<RecordedRun> &records);

    [[nodiscard]] const RecordedRun &recorded() const { return m_run; }
    [[nodiscard]] const UndoHistory &history() const { return m_history; }
    // The users the run changed that are not yet back.
    [[nodiscard]] qsizetype open() const { return openUsers(m_run, m_history).size(); }
    // Taken back before: an undo ran and left nothing open.
    [[nodiscard]] bool done() const { return !m_history.undos.isEmpty() && open() == 0; }

    // The attribute to search and write, as a Tree takes it: the record's own,
    // past the tree's map of "OU".
    [[nodiscard]] QString attribute() const;
    // What to tell before anything is done: a record without its end, an
    // attribute the tree maps differently now (`attributeNow`, the directory's name).
    [[nodiscard]] QStringList warnings(const QString &attributeNow) const;
    // Whether the record lacks its end (a killed run, a cut file): the undo
    // does what it can, and does not count as done well.
    [[nodiscard]] bool recordCut() const { return !m_run.ended; }

    [[nodiscard]] DirectoryPlace ranOn() const;
    // Whether `now` is the directory the run wrote to: by the base entry's
    // identity where both have one (another server of it, another spelling of
    // its URI), else by server and base.
    [[nodiscard]] bool sameDirectory(const DirectoryPlace &now) const;

    // The steps against the users found now below the record's context.
    [[nodiscard]] QList<UndoStep> plan(const QList<FoundUser> &now) const { return planUndo(m_run, now, m_history); }

private:
    RecordedRun m_run;
    UndoHistory m_history;
};

// An undo under way: its own record in `folder` (the directory `where`, the
// steps not written with their reasons), and the run that sends its changes
// through `store`, which writes Undo::attribute(). The caller drives run()
// over changes() as it drives a run, and finishes it.
class UndoRun {
public:
    UndoRun(const QString &folder, const Undo &undo, const DirectoryPlace &where, const QList<UndoStep> &steps, Store store);
    Q_DISABLE_COPY_MOVE(UndoRun)

    [[nodiscard]] const QList<PlannedUser> &changes() const { return m_changes; }
    [[nodiscard]] Run &run() { return *m_run; }
    [[nodiscard]] const RunRecordWriter &record() const { return *m_record; }

private:
    std::unique_ptr<RunRecordWriter> m_record;
    std::unique_ptr<Run> m_run;
    QList<PlannedUser> m_changes;
};

} // namespace runs
