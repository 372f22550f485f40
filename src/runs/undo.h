#pragma once

#include "runs/plan.h"
#include "runs/run_record.h"

// Taking a run back: each user written by the run gets its old values again,
// but only where the value is still what the run wrote.
namespace runs {

struct UndoStep {
    RecordedUser change; // before: the values now (what the run wrote); after: the old ones
    bool writes = false;
    QString reason; // why it is skipped, when it is
};

// Plans the undo of `run` against the users as they are now (found by DN).
QList<UndoStep> planUndo(const RecordedRun &run, const QList<FoundUser> &now);

} // namespace runs
