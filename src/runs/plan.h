#pragma once

#include "runs/run_record.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// What a run would do to each user, before it does it: the preview, the
// command line's run and the window's run all decide here.
namespace runs {

// A user as the search found it, with the values of the attribute it writes.
struct FoundUser {
    QString fullName;
    QString dn;
    QStringList values;
};

enum class Verdict {
    Change,        // the value is written
    Unchanged,     // the value already is the designation
    Removes,       // an empty designation: the values are deleted
    ClassMissing,  // forms 1-3: no line of the class list names the container
    NameNotUnique, // the full name names two objects: never written
};
QString verdictText(Verdict verdict);

struct PlannedUser {
    int index = 0; // position in the search's order
    FoundUser user;
    QString container;
    QString className;
    QString designation;
    QStringList after; // the values once written
    Verdict verdict = Verdict::Change;

    // Whether a run sends a change for this user. A missing class makes a
    // designation without its class (none at all in form 1, which deletes the
    // values): written only when the run allows it. A class that its line
    // leaves empty (";Abi05a") is no missing class and is written.
    [[nodiscard]] bool writes(bool allowMissingClass) const;
    // Whether a run leaves this user out, saying why (verdictText): twin
    // names always, a missing class unless allowed. A user neither written
    // nor skipped is unchanged.
    [[nodiscard]] bool skipped(bool allowMissingClass) const;
    // The verdict as the preview shows it, saying when values are deleted.
    [[nodiscard]] QString text(bool allowMissingClass) const;
    [[nodiscard]] RecordedUser recorded() const;
};

// The DNs of the found objects by full name; a name with two DNs names two
// objects, and is never written.
QHash<QString, QStringList> dnsByFullName(const QList<FoundUser> &users);

// Plans every user, in the search's order; `valueCase` is how the directory
// compares the attribute's values.
QList<PlannedUser> plan(const QList<FoundUser> &users, int form, const QStringList &classList,
                        Qt::CaseSensitivity valueCase = Qt::CaseSensitive);

// One user's plan; `nameTaken` says whether another found object shares its full name.
PlannedUser planUser(const FoundUser &user, int form, const QStringList &classList, bool nameTaken,
                     Qt::CaseSensitivity valueCase = Qt::CaseSensitive);

// What a run would do: `change` and `removes` are the changes it sends;
// `classMissing` counts every user whose class is missing, written or not.
struct Totals {
    int change = 0, unchanged = 0, removes = 0, classMissing = 0, notUnique = 0;
    [[nodiscard]] QString text(qsizetype users) const;
};
Totals totals(const QList<PlannedUser> &planned, bool allowMissingClass);

} // namespace runs
