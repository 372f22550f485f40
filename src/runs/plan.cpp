#include "runs/plan.h"

#include "runs/class_list.h"
#include "runs/designation.h"

#include <QHash>
#include <QSet>

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

bool PlannedUser::writes(bool allowMissingClass) const
{
    switch (verdict) {
    case Verdict::Change:
    case Verdict::Removes:
        return true;
    case Verdict::ClassMissing:
        return allowMissingClass && !sameValues(after, user.values);
    case Verdict::Unchanged:
    case Verdict::NameNotUnique:
        return false;
    }
    return false;
}

bool PlannedUser::skipped(bool allowMissingClass) const
{
    return verdict == Verdict::NameNotUnique || (verdict == Verdict::ClassMissing && !allowMissingClass);
}

QString PlannedUser::text(bool allowMissingClass) const
{
    if (verdict == Verdict::ClassMissing && writes(allowMissingClass))
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

// What the users of one container share.
struct ContainerPlan {
    QString container;
    QString className;
    bool classMissing = false; // forms 1-3: no line names the container
    QString designation;
    QStringList single; // the values of a user with at most one, once written
};

ContainerPlan containerPlan(const QString &container, int form, const QStringList &classList)
{
    ContainerPlan c{container, {}, false, {}, {}};
    if (form > 0) {
        const ClassMatch match = matchClass(classList, container);
        c.className = match.className;
        c.classMissing = !match.found();
    }
    c.designation = designationOf(form, c.container, c.className);
    if (!c.designation.isEmpty())
        c.single.append(c.designation);
    return c;
}

PlannedUser planIn(const FoundUser &user, const ContainerPlan &c, const QStringList &classList, bool nameTaken,
                   Qt::CaseSensitivity valueCase)
{
    PlannedUser p;
    p.user = user;
    p.container = c.container;
    p.className = c.className;
    p.designation = c.designation;
    p.after = user.values.size() > 1 ? valuesAfter(user.values, c.designation, classList, c.container, valueCase)
                                     : c.single;
    if (nameTaken)
        p.verdict = Verdict::NameNotUnique;
    else if (c.classMissing)
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
    return planIn(user, containerPlan(ParentContainerName(user.fullName), form, classList), classList, nameTaken, valueCase);
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
    // Looked up by views into the users' full names, which outlive both sets:
    // a hundred thousand users cost no copies.
    QSet<QStringView> names;
    names.reserve(users.size());
    QSet<QStringView> taken;
    for (const FoundUser &user : users) {
        const qsizetype before = names.size();
        names.insert(user.fullName);
        if (names.size() == before)
            taken.insert(user.fullName);
    }
    names = {};
    // A class holds many users: its line is looked up once.
    QHash<QStringView, ContainerPlan> containers;
    QList<PlannedUser> planned;
    planned.reserve(users.size());
    for (const FoundUser &user : users) {
        const QStringView container = parentContainerIn(user.fullName);
        auto known = containers.constFind(container);
        if (known == containers.cend())
            known = containers.insert(container, containerPlan(container.toString(), form, classList));
        planned.append(planIn(user, *known, classList, taken.contains(user.fullName), valueCase));
        planned.last().index = static_cast<int>(planned.size());
    }
    return planned;
}

Totals totals(const QList<PlannedUser> &planned, bool allowMissingClass)
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
            if (p.writes(allowMissingClass))
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
