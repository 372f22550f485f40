#pragma once

#include "runs/plan.h"
#include "runs/run_record.h"

// Taking a run back: the change records are inverted (their added values
// deleted, their deleted values added again), but only where the user still
// holds what the run wrote.
namespace runs {

struct UndoStep {
    RecordedUser change; // before: the values now; after: the values once taken back
    bool writes = false;
    bool neverStored = false; // an unconfirmed change that the directory did not keep
    QString reason; // why it is not written, when it is not
};

// Plans the undo of `run` against the users as they are now (found by DN).
QList<UndoStep> planUndo(const RecordedRun &run, const QList<FoundUser> &now);

} // namespace runs
