#pragma once

#include "runs/run_record.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

// Where a run stands, by its record and the records of the undos that took it
// back: the command line's `runs` and the window's history say it alike.
namespace runs {

// What the undos of one run did, from their records. A user counts as back
// when an undo wrote its old values or found that it needs nothing.
struct UndoHistory {
    QSet<int> settled;  // the run's users (by index) that are back or need nothing
    QSet<int> sent;     // sent by an undo without an answer: maybe back
    QStringList undos;  // the undos of the run, oldest first
    QStringList by;     // those that settled users, oldest first
};
UndoHistory undoHistory(const RecordedRun &run, const QList<RecordedRun> &records);

// The users the run changed (written, or sent without an answer) that no undo has settled.
QList<int> openUsers(const RecordedRun &run, const UndoHistory &history);

// The run's state in German, empty when there is nothing to say: "nicht zu
// Ende", "abgebrochen, nicht versucht: 12", "zurückgenommen von …",
// "teilweise zurückgenommen (3 offen)", joined by ", ".
QString runState(const RecordedRun &run, const QList<RecordedRun> &records);

} // namespace runs
