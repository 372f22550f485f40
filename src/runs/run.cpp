#include "runs/run.h"

#include "directory/tree.h"
#include "runs/designation.h"

#include <QHash>
#include <QScopeGuard>

namespace runs {

namespace {

// The directory's result code in the message (as "(50)") with what the
// administrator can do about it.
QString withHint(const QString &message)
{
    if (message.contains(QLatin1String("(50)")))
        return message + QStringLiteral(". Das Konto aus binddn= darf dieses Attribut nicht schreiben: "
                                        "seine Rechte auf dem Attribut prüfen");
    if (message.contains(QLatin1String("(65)")))
        return message + QStringLiteral(". Die Objektklasse des Benutzers erlaubt das Attribut nicht: "
                                        "attribute.OU= auf ein Attribut stellen, das zum Schema passt");
    return message;
}

// A message that names the user once: the tree's own message mostly names it
// by DN already.
QString aboutUser(const PlannedUser &p, const QString &message)
{
    if (message.contains(p.user.dn, Qt::CaseInsensitive) || message.contains(p.user.fullName))
        return message;
    return QStringLiteral("%1: %2").arg(p.user.dn.isEmpty() ? p.user.fullName : p.user.dn, message);
}

} // namespace

Outcome outcomeOfFailure(std::exception_ptr failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const directory::Refused &) {
        return Outcome::Refused;
    } catch (const directory::NotSent &) {
        return Outcome::NotTried;
    } catch (...) {
        // No answer, or an answer we cannot read: the change may be stored.
        return Outcome::Unconfirmed;
    }
}

void Counts::add(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Written:
        ++written;
        break;
    case Outcome::Unchanged:
        ++unchanged;
        break;
    case Outcome::Refused:
        ++refused;
        break;
    case Outcome::Unconfirmed:
        ++unconfirmed;
        break;
    case Outcome::Skipped:
        ++skipped;
        break;
    case Outcome::NotTried:
        ++notTried;
        break;
    }
}

QString Counts::text() const
{
    return QStringLiteral("Geschrieben: %1, unverändert: %2, abgelehnt: %3, unbestätigt: %4, übersprungen: %5, "
                          "nicht versucht: %6")
        .arg(written).arg(unchanged).arg(refused).arg(unconfirmed).arg(skipped).arg(notTried);
}

Run::Run(RunRecordWriter &record, Store store, bool allowEmptyClass, bool goOn)
    : m_record(record), m_store(std::move(store)), m_allowEmptyClass(allowEmptyClass), m_goOn(goOn)
{
}

QList<Step> Run::take(const QList<PlannedUser> &users)
{
    QList<Step> steps;
    steps.reserve(users.size());
    QList<RecordedUser> changes;
    QList<qsizetype> stepOfChange;
    std::exception_ptr recordFailure;
    const auto counted = qScopeGuard([&] {
        for (const Step &step : std::as_const(steps))
            m_counts.add(step.outcome);
    });

    for (const PlannedUser &p : users) {
        steps.append(Step{p, Outcome::NotTried, {}});
        if (m_stopped)
            continue;
        if (p.writes(m_allowEmptyClass)) {
            changes.append(p.recorded());
            stepOfChange.append(steps.size() - 1);
            continue;
        }
        Step &step = steps.last();
        if (p.skipped(m_allowEmptyClass)) {
            step.outcome = Outcome::Skipped;
            step.message = verdictText(p.verdict);
        } else {
            step.outcome = Outcome::Unchanged; // the values already are what the run would write
        }
        RecordedUser user = p.recorded();
        user.outcome = step.outcome;
        user.message = step.message;
        m_record.notSent(user);
    }
    if (changes.isEmpty())
        return steps;

    m_record.ahead(changes); // on failure nothing is sent, and the batch counts as not tried
    QList<bool> answered(changes.size(), false);
    std::exception_ptr storeFailure;
    const auto answer = [&](qsizetype i, std::exception_ptr failure) {
        Step &step = steps[stepOfChange.at(i)];
        answered[i] = true;
        if (failure) {
            step.outcome = outcomeOfFailure(failure);
            step.message = aboutUser(step.planned, withHint(platform::messageOf(failure)));
        } else {
            step.outcome = Outcome::Written;
        }
        if (step.outcome == Outcome::Unconfirmed || (step.outcome != Outcome::Written && !m_goOn))
            m_stopped = true;
        try {
            m_record.outcome(changes.at(i).index, step.outcome, step.message);
        } catch (...) {
            // The change is stored all the same; its block in the record,
            // synced ahead, lets undo find it by its values.
            if (!recordFailure)
                recordFailure = std::current_exception();
            m_stopped = true;
        }
        return !m_stopped;
    };
    try {
        m_store(changes, answer);
    } catch (...) {
        storeFailure = std::current_exception();
        m_stopped = true;
    }
    for (qsizetype i = 0; i < changes.size(); ++i) {
        if (answered.at(i))
            continue;
        if (storeFailure) {
            answer(i, storeFailure);
            continue;
        }
        try {
            m_record.outcome(changes.at(i).index, Outcome::NotTried);
        } catch (...) {
            if (!recordFailure)
                recordFailure = std::current_exception();
        }
    }
    if (recordFailure)
        std::rethrow_exception(recordFailure);
    return steps;
}

void Run::finish()
{
    m_record.finish();
}

void Run::finishCancelled(int notTried)
{
    m_record.finishCancelled(notTried);
}

namespace {

using TotalIndex = QHash<std::pair<QString, QString>, qsizetype>; // by container and designation

ClassTotal &totalFor(QList<ClassTotal> &totals, TotalIndex &index, const PlannedUser &p)
{
    const std::pair<QString, QString> key{p.container, p.designation};
    auto it = index.constFind(key);
    if (it == index.cend()) {
        it = index.insert(key, totals.size());
        totals.append(ClassTotal{p.container, p.designation, 0, {}});
    }
    ClassTotal &total = totals[*it];
    ++total.users;
    return total;
}

void addCount(ClassTotal &total, const QString &text)
{
    for (auto &count : total.counts) {
        if (count.first == text) {
            ++count.second;
            return;
        }
    }
    total.counts.append({text, 1});
}

} // namespace

QString ClassTotal::text() const
{
    QString line = QStringLiteral("%1 → %2: %3 Benutzer")
                       .arg(container, designation.isEmpty() ? QStringLiteral("(leer)") : designation)
                       .arg(users);
    for (const auto &count : counts)
        line += QStringLiteral(", %1 %2").arg(count.second).arg(count.first);
    return line;
}

QList<ClassTotal> classTotals(const QList<PlannedUser> &planned, bool allowEmptyClass)
{
    QList<ClassTotal> totals;
    TotalIndex index;
    for (const PlannedUser &p : planned) {
        ClassTotal &total = totalFor(totals, index, p);
        if (p.verdict != Verdict::Change)
            addCount(total, p.text(allowEmptyClass));
    }
    return totals;
}

QList<ClassTotal> classTotals(const QList<Step> &steps)
{
    QList<ClassTotal> totals;
    TotalIndex index;
    for (const Step &step : steps) {
        ClassTotal &total = totalFor(totals, index, step.planned);
        if (step.outcome != Outcome::Written)
            addCount(total, outcomeText(step.outcome));
    }
    return totals;
}

} // namespace runs
