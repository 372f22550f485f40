#pragma once

#include "runs/plan.h"
#include "runs/run_record.h"

#include <QList>

#include <exception>
#include <functional>

// One run: for each planned user the record ahead, the write, its outcome and
// the count. The window drives it one user at a time, the command line in
// batches; both get the same decisions and the same counts.
namespace runs {

// Sends `changes` (before: the values found, after: the values to store) in
// order and hands each answer to `answered`: its index and the failure, or
// none; sending stops when `answered` returns false.
using Answered = std::function<bool(qsizetype index, std::exception_ptr failure)>;
using Store = std::function<void(const QList<RecordedUser> &changes, const Answered &answered)>;

// The outcome of a failed store, by what the directory said: refused,
// never sent, or anything else, which may have been stored.
Outcome outcomeOfFailure(std::exception_ptr failure);

// What became of one user.
struct Step {
    PlannedUser planned;
    Outcome outcome = Outcome::NotTried;
    QString message;
    [[nodiscard]] bool stored() const { return outcome == Outcome::Written || outcome == Outcome::Unchanged; }
};

struct Counts {
    int written = 0, unchanged = 0, refused = 0, unconfirmed = 0, skipped = 0, notTried = 0;
    void add(Outcome outcome);
    [[nodiscard]] int stored() const { return written + unchanged; }
    [[nodiscard]] QString text() const; // "Geschrieben: 3, unverändert: 1, …"
};

class Run {
public:
    // `goOn`: a refusal does not stop the run.
    Run(RunRecordWriter &record, Store store, bool allowEmptyClass, bool goOn);
    Q_DISABLE_COPY_MOVE(Run)

    // Records, stores and counts `users`, in order: the changes of the batch
    // are recorded and synced before the first is sent. A failure of the
    // record raises its error after every answer that came is counted.
    QList<Step> take(const QList<PlannedUser> &users);

    // A refusal (without goOn), an unconfirmed change or a failure of the
    // record ended the run; further users are not tried.
    [[nodiscard]] bool stopped() const { return m_stopped; }
    [[nodiscard]] const Counts &counts() const { return m_counts; }
    [[nodiscard]] const RunRecordWriter &record() const { return m_record; }

    // Ends the record; a cancelled run's end says how many users it did not try.
    void finish();
    void finishCancelled(int notTried);

private:
    RunRecordWriter &m_record;
    Store m_store;
    bool m_allowEmptyClass;
    bool m_goOn;
    bool m_stopped = false;
    Counts m_counts;
};

// The users of one container and its designation, for a per-class summary.
struct ClassTotal {
    QString container;
    QString designation;
    int users = 0;
    QList<QPair<QString, int>> counts; // besides the main case, by text, non-zero only
    [[nodiscard]] QString text() const; // "Abi05a → 8a: 25 Benutzer, 3 unverändert"
};
// By the plan: the users' verdicts other than a change.
QList<ClassTotal> classTotals(const QList<PlannedUser> &planned, bool allowEmptyClass);
// By what the run did: outcomes other than written.
QList<ClassTotal> classTotals(const QList<Step> &steps);

} // namespace runs
