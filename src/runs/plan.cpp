#include "runs/plan.h"

#include "runs/class_list.h"
#include "runs/designation.h"

#include <QHash>

namespace runs {

QString verdictText(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Change:
        return QStringLiteral("ändern");
    case Verdict::Unchanged:
        return QStringLiteral("unverändert");
    case Verdict::Removes:
        return QStringLiteral("löscht den Wert");
    case Verdict::ClassMissing:
        return QStringLiteral("Klasse fehlt in der Klassenliste");
    case Verdict::NameNotUnique:
        return QStringLiteral("Name nicht eindeutig");
    }
    return {};
}

bool PlannedUser::writes(bool allowEmptyClass) const
{
    switch (verdict) {
    case Verdict::Change:
    case Verdict::Removes:
        return true;
    case Verdict::ClassMissing:
        return (allowEmptyClass || !designation.isEmpty()) && !sameValues(after, user.values);
    case Verdict::Unchanged:
    case Verdict::NameNotUnique:
        return false;
    }
    return false;
}

QString PlannedUser::text(bool allowEmptyClass) const
{
    if (verdict == Verdict::ClassMissing && writes(allowEmptyClass))
        return verdictText(verdict) + (designation.isEmpty() ? QStringLiteral(" – löscht den Wert") : QStringLiteral(" – ändern"));
    return verdictText(verdict);
}

RecordedUser PlannedUser::recorded() const
{
    RecordedUser recorded;
    recorded.index = index;
    recorded.fullName = user.fullName;
    recorded.dn = user.dn;
    recorded.before = user.values;
    recorded.after = after;
    return recorded;
}

namespace {

PlannedUser planWithClass(const FoundUser &user, int form, const QStringList &classList, bool nameTaken,
                          const QString &container, const QString &className, Qt::CaseSensitivity valueCase)
{
    PlannedUser p;
    p.user = user;
    p.container = container;
    p.className = className;
    p.designation = Designation(form, p.container, p.className);
    p.after = valuesAfter(user.values, p.designation, classList, p.container, valueCase);
    if (nameTaken)
        p.verdict = Verdict::NameNotUnique;
    else if (form > 0 && p.className.isEmpty())
        p.verdict = Verdict::ClassMissing;
    else if (sameValues(p.after, user.values))
        p.verdict = Verdict::Unchanged;
    else if (p.designation.isEmpty())
        p.verdict = Verdict::Removes;
    return p;
}

} // namespace

PlannedUser planUser(const FoundUser &user, int form, const QStringList &classList, bool nameTaken,
                     Qt::CaseSensitivity valueCase)
{
    const QString container = ParentContainerName(user.fullName);
    return planWithClass(user, form, classList, nameTaken, container,
                         form > 0 ? LookupClassIn(classList, container) : QString(), valueCase);
}

QHash<QString, QStringList> dnsByFullName(const QList<FoundUser> &users)
{
    QHash<QString, QStringList> dns;
    dns.reserve(users.size());
    for (const FoundUser &user : users)
        dns[user.fullName].append(user.dn);
    return dns;
}

QList<PlannedUser> plan(const QList<FoundUser> &users, int form, const QStringList &classList,
                        Qt::CaseSensitivity valueCase)
{
    const QHash<QString, QStringList> dns = dnsByFullName(users);
    QList<PlannedUser> planned;
    planned.reserve(users.size());
    // A class holds many users: its line is looked up once.
    QHash<QString, QString> classOf;
    for (const FoundUser &user : users) {
        const QString container = ParentContainerName(user.fullName);
        auto known = classOf.constFind(container);
        if (known == classOf.cend())
            known = classOf.insert(container, form > 0 ? LookupClassIn(classList, container) : QString());
        planned.append(planWithClass(user, form, classList, dns.value(user.fullName).size() > 1, container, *known,
                                       valueCase));
        planned.last().index = static_cast<int>(planned.size());
    }
    return planned;
}

Totals totals(const QList<PlannedUser> &planned, bool allowEmptyClass)
{
    Totals t;
    for (const PlannedUser &p : planned) {
        switch (p.verdict) {
        case Verdict::Change:
            ++t.change;
            break;
        case Verdict::Unchanged:
            ++t.unchanged;
            break;
        case Verdict::Removes:
            ++t.removes;
            break;
        case Verdict::ClassMissing:
            ++t.classMissing;
            if (p.writes(allowEmptyClass))
                ++(p.designation.isEmpty() ? t.removes : t.change);
            break;
        case Verdict::NameNotUnique:
            ++t.notUnique;
            break;
        }
    }
    return t;
}

QString Totals::text(qsizetype users) const
{
    return QStringLiteral("Benutzer: %1; ändern: %2, unverändert: %3, löscht den Wert: %4, Klasse fehlt: %5, "
                          "Name nicht eindeutig: %6")
        .arg(users).arg(change).arg(unchanged).arg(removes).arg(classMissing).arg(notUnique);
}

} // namespace runs
