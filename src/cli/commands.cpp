#include "cli/commands.h"

#include "cli/session.h"
#include "cli/table.h"
#include "directory/ldif.h"
#include "directory/tree.h"
#include "ndk/names.h"
#include "platform/message_pump.h"
#include "runs/undo.h"

#include <QFile>
#include <QMap>
#include <QHash>
#include <QSaveFile>
#include <QSet>

namespace cli {

namespace {

// Changes go to the directory in batches, each recorded and synced ahead, so
// a tree that can keeps a batch in flight and the disk syncs once per batch.
constexpr qsizetype kBatch = 256;

QString messageOf(std::exception_ptr failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception &e) {
        return platform::messageOf(e);
    }
}

QString valuesText(const QStringList &values)
{
    return values.isEmpty() ? QStringLiteral("(leer)") : joinedValues(values);
}

QByteArray changeRecord(const runs::RecordedUser &user, const QString &attribute)
{
    const auto [removed, added] = directory::difference(user.before, user.after);
    return directory::ldif::replaceRecord(user.dn.toUtf8(), attribute.toUtf8(), removed, added);
}

void printTotals(const runs::Totals &t, qsizetype users)
{
    out() << QStringLiteral("Benutzer: %1; ändern: %2, unverändert: %3, entfernt den Wert: %4, "
                            "Klasse fehlt: %5, Name nicht eindeutig: %6")
                 .arg(users).arg(t.change).arg(t.unchanged).arg(t.removes).arg(t.classMissing).arg(t.notUnique)
          << Qt::endl;
}

struct Sent {
    runs::Outcome outcome = runs::Outcome::NotTried;
    QString message;
};

// Sends the changes, recorded ahead; stops after the first refusal unless
// `goOn`. Changes never sent stay NotTried.
QList<Sent> send(Session &session, runs::RunRecordWriter &record, const QList<runs::RecordedUser> &changes, bool goOn,
                 int pauseMs)
{
    QList<Sent> sent(changes.size());
    const qsizetype batchSize = pauseMs > 0 ? 1 : kBatch;
    bool stopped = false;
    for (qsizetype first = 0; first < changes.size() && !stopped; first += batchSize) {
        if (pauseMs > 0)
            platform::DelayWithMessages(static_cast<std::uint32_t>(pauseMs));
        const QList<runs::RecordedUser> batch = changes.mid(first, batchSize);
        record.ahead(batch);
        QList<directory::ValueChange> values;
        for (const runs::RecordedUser &user : batch)
            values.append({user.fullName, QStringLiteral("OU"), user.before, user.after});
        QList<bool> answered(batch.size(), false);
        session.tree().storeChanges(values, [&](qsizetype i, std::exception_ptr failure) {
            Sent &s = sent[first + i];
            s = failure ? Sent{runs::Outcome::Refused, messageOf(failure)} : Sent{runs::Outcome::Written, {}};
            answered[i] = true;
            record.outcome(batch.at(i).index, s.outcome, s.message);
            if (failure) {
                err() << QStringLiteral("Abgelehnt: %1: %2").arg(batch.at(i).fullName, s.message) << Qt::endl;
                stopped = stopped || !goOn;
            }
            return !stopped;
        });
        for (qsizetype i = 0; i < batch.size(); ++i) {
            if (!answered.at(i))
                record.outcome(batch.at(i).index, runs::Outcome::NotTried);
        }
    }
    record.finish();
    return sent;
}

QString outcomeText(runs::Outcome outcome)
{
    switch (outcome) {
    case runs::Outcome::Unknown:
        return QStringLiteral("unbekannt");
    case runs::Outcome::Written:
        return QStringLiteral("geschrieben");
    case runs::Outcome::Unchanged:
        return QStringLiteral("unverändert");
    case runs::Outcome::Refused:
        return QStringLiteral("abgelehnt");
    case runs::Outcome::Skipped:
        return QStringLiteral("übersprungen");
    case runs::Outcome::NotTried:
        return QStringLiteral("nicht versucht");
    }
    return {};
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw platform::Error(QStringLiteral("Datei %1 kann nicht geschrieben werden: %2").arg(path, file.errorString()));
}

runs::RunHeader headerFor(Session &session, const Options &o, const QString &context, const runs::ClassList &classes)
{
    runs::RunHeader header;
    header.tree = session.treeName();
    header.server = session.source();
    header.context = context;
    header.subtree = o.subtree;
    header.form = o.form;
    header.classesPath = classes.path;
    header.classesSha256 = QString::fromLatin1(classes.sha256);
    header.attribute = session.attribute();
    return header;
}

} // namespace

int check(const Options &o)
{
    Session session(o.tree);
    const runs::ClassList classes = classListAt(o.classes);
    const QString root = session.tree().rootFullName();
    const QList<runs::FoundUser> users = session.search(root, QStringLiteral("User"), true);
    QList<runs::FoundUser> containers = session.search(root, QStringLiteral("Organizational Unit"), true);
    containers += session.search(root, QStringLiteral("Organization"), true);

    QMap<QString, int> holders; // containers holding users, by full name: their users
    for (const runs::FoundUser &user : users) {
        const qsizetype last = user.fullName.lastIndexOf(QLatin1Char('\\'));
        ++holders[user.fullName.left(last)];
    }
    out() << QStringLiteral("Baum %1: %2 Benutzer, %3 Container, Klassenliste %4 (%5 Zeilen)")
                 .arg(session.treeName()).arg(users.size()).arg(containers.size()).arg(classes.path).arg(classes.lines.size())
          << Qt::endl;

    int questionable = 0;
    QSet<int> usedLines;
    QStringList missing;
    QStringList longer;
    for (auto it = holders.cbegin(); it != holders.cend(); ++it) {
        const runs::ClassMatch match = runs::matchClass(classes.lines, it.key().section(QLatin1Char('\\'), -1));
        if (match.line < 0) {
            missing.append(QStringLiteral("  %1 (%2 Benutzer)").arg(ndk::ToDottedName(it.key())).arg(it.value()));
            continue;
        }
        usedLines.insert(match.line);
        if (match.throughLonger)
            longer.append(QStringLiteral("  %1 -> Zeile %2: %3").arg(ndk::ToDottedName(it.key())).arg(match.line + 1).arg(classes.lines.at(match.line)));
    }
    for (const runs::FoundUser &container : containers) {
        const runs::ClassMatch match = runs::matchClass(classes.lines, container.fullName.section(QLatin1Char('\\'), -1));
        if (match.line >= 0)
            usedLines.insert(match.line);
    }
    if (!missing.isEmpty()) {
        out() << QStringLiteral("Klassen, die keine Zeile der Klassenliste nennt:") << Qt::endl << missing.join(QLatin1Char('\n')) << Qt::endl;
        questionable += static_cast<int>(missing.size());
    }
    QStringList unused;
    for (int i = 0; i < classes.lines.size(); ++i) {
        if (!usedLines.contains(i) && classes.lines.at(i).contains(QLatin1Char(';')))
            unused.append(QStringLiteral("  Zeile %1: %2").arg(i + 1).arg(classes.lines.at(i)));
    }
    if (!unused.isEmpty())
        out() << QStringLiteral("Zeilen, die keinen Container treffen:") << Qt::endl << unused.join(QLatin1Char('\n')) << Qt::endl;
    if (!longer.isEmpty()) {
        out() << QStringLiteral("Container, die nur über einen längeren Namen getroffen werden:") << Qt::endl
              << longer.join(QLatin1Char('\n')) << Qt::endl;
        questionable += static_cast<int>(longer.size());
    }
    QStringList doubles;
    const QHash<QString, QStringList> dns = runs::dnsByFullName(users);
    for (auto it = dns.cbegin(); it != dns.cend(); ++it) {
        if (it.value().size() > 1)
            doubles.append(QStringLiteral("  %1 (%2 Objekte)").arg(it.key()).arg(it.value().size()));
    }
    doubles.sort();
    if (!doubles.isEmpty()) {
        out() << QStringLiteral("Namen, die mehrere Objekte bezeichnen:") << Qt::endl << doubles.join(QLatin1Char('\n')) << Qt::endl;
        questionable += static_cast<int>(doubles.size());
    }
    for (const directory::Reference &reference : session.references())
        out() << QStringLiteral("Verweis auf einen anderen Server, nicht durchsucht: %1%2")
                     .arg(reference.url, reference.mayHoldUsers ? QString() : QStringLiteral(" (enthält keine Benutzer)")) << Qt::endl;
    out() << (questionable ? QStringLiteral("Bedenklich: %1").arg(questionable) : QStringLiteral("Keine Bedenken.")) << Qt::endl;
    return questionable ? 1 : 0;
}

int preview(const Options &o)
{
    Session session(o.tree);
    const runs::ClassList classes = classListAt(o.classes);
    const QString context = session.resolveContext(o.context);
    const QList<runs::PlannedUser> planned = runs::plan(session.search(context, QStringLiteral("User"), o.subtree), o.form, classes.lines);

    if (o.format == QLatin1String("ldif")) {
        const QString attribute = session.attribute();
        QByteArray bytes;
        for (const runs::PlannedUser &p : planned) {
            if (p.writes(o.allowEmptyClass))
                bytes += changeRecord(p.recorded(), attribute);
        }
        out() << QString::fromUtf8(bytes) << Qt::flush;
        return 0;
    }
    if (o.format == QLatin1String("csv")) {
        Csv csv({QStringLiteral("Name"), QStringLiteral("DN"), QStringLiteral("Alte Werte"), QStringLiteral("Neuer Wert"),
                 QStringLiteral("Status")});
        for (const runs::PlannedUser &p : planned)
            csv.add({ndk::ToDottedName(p.user.fullName), p.user.dn, joinedValues(p.user.values), p.designation, runs::verdictText(p.verdict)});
        out().flush();
        QFile stdoutFile;
        stdoutFile.open(stdout, QIODevice::WriteOnly);
        stdoutFile.write(csv.bytes());
        return 0;
    }
    for (const runs::PlannedUser &p : planned) {
        out() << ndk::ToDottedName(p.user.fullName).leftJustified(40) << QLatin1Char(' ') << valuesText(p.user.values)
              << QStringLiteral(" -> ") << (p.designation.isEmpty() ? QStringLiteral("(leer)") : p.designation)
              << QStringLiteral("  [") << runs::verdictText(p.verdict) << QStringLiteral("]  ") << p.user.dn << QLatin1Char('\n');
    }
    printTotals(runs::totals(planned), planned.size());
    return 0;
}

int runCommand(const Options &o)
{
    Session session(o.tree);
    const runs::ClassList classes = classListAt(o.classes);
    const QString context = session.resolveContext(o.context);
    QList<runs::PlannedUser> planned = runs::plan(session.search(context, QStringLiteral("User"), o.subtree), o.form, classes.lines);
    const runs::Totals totals = runs::totals(planned);
    printTotals(totals, planned.size());
    if (totals.classMissing > 0 && !o.allowEmptyClass)
        throw UsageError(QStringLiteral("Bei %1 Benutzern nennt die Klassenliste %2 die Klasse nicht; die Form %3 würde "
                                        "daraus eine leere Klasse eintragen. Mit --allow-empty-class geht es trotzdem.")
                             .arg(totals.classMissing).arg(classes.path).arg(o.form));
    if (!o.yes && !confirm(QStringLiteral("Jetzt im Baum %1 eintragen?").arg(session.treeName()))) {
        err() << QStringLiteral("Nichts geschrieben.") << Qt::endl;
        return 2;
    }

    runs::RunRecordWriter record(runs::runsFolder(), headerFor(session, o, context, classes));
    QList<runs::RecordedUser> changes;
    QHash<int, runs::Outcome> outcomes;
    QHash<int, QString> messages;
    for (const runs::PlannedUser &p : planned) {
        if (p.writes(o.allowEmptyClass)) {
            changes.append(p.recorded());
            continue;
        }
        runs::RecordedUser user = p.recorded();
        user.outcome = p.verdict == runs::Verdict::NameNotUnique ? runs::Outcome::Skipped : runs::Outcome::Unchanged;
        if (user.outcome == runs::Outcome::Skipped)
            user.message = runs::verdictText(p.verdict);
        record.notSent(user);
        outcomes.insert(p.index, user.outcome);
        messages.insert(p.index, user.message);
    }
    const QList<Sent> sent = send(session, record, changes, o.goOn, o.pauseMs);
    for (qsizetype i = 0; i < changes.size(); ++i) {
        outcomes.insert(changes.at(i).index, sent.at(i).outcome);
        messages.insert(changes.at(i).index, sent.at(i).message);
    }

    QHash<runs::Outcome, int> counts;
    for (const runs::Outcome outcome : std::as_const(outcomes))
        ++counts[outcome];
    if (!o.report.isEmpty()) {
        Csv csv({QStringLiteral("Name"), QStringLiteral("DN"), QStringLiteral("Alte Werte"), QStringLiteral("Neue Werte"),
                 QStringLiteral("Ergebnis"), QStringLiteral("Meldung")});
        for (const runs::PlannedUser &p : planned)
            csv.add({ndk::ToDottedName(p.user.fullName), p.user.dn, joinedValues(p.user.values), joinedValues(p.after),
                     outcomeText(outcomes.value(p.index)), messages.value(p.index)});
        writeFile(o.report, csv.bytes());
    }
    out() << QStringLiteral("Geschrieben: %1, unverändert: %2, abgelehnt: %3, übersprungen: %4, nicht versucht: %5")
                 .arg(counts.value(runs::Outcome::Written)).arg(counts.value(runs::Outcome::Unchanged))
                 .arg(counts.value(runs::Outcome::Refused)).arg(counts.value(runs::Outcome::Skipped))
                 .arg(counts.value(runs::Outcome::NotTried))
          << Qt::endl
          << QStringLiteral("Laufprotokoll: %1 (%2)").arg(record.path(), record.header().id) << Qt::endl;
    return counts.value(runs::Outcome::Refused) + counts.value(runs::Outcome::Skipped) > 0 ? 1 : 0;
}

int listRuns(const Options &o)
{
    QStringList problems;
    const QList<runs::RecordedRun> records = runs::listRunRecords(runs::runsFolder(), &problems);
    for (const QString &problem : problems)
        err() << problem << Qt::endl;
    for (const runs::RecordedRun &r : records) {
        if (!o.tree.isEmpty() && r.header.tree.compare(o.tree, Qt::CaseInsensitive) != 0)
            continue;
        const QString what = r.header.kind == QLatin1String("undo") ? QStringLiteral("Rücknahme von %1").arg(r.header.undoes)
                                                                    : QStringLiteral("Form %1").arg(r.header.form);
        out() << r.header.id << QLatin1Char('\t') << r.header.when.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"))
              << QLatin1Char('\t') << r.header.who << QLatin1Char('\t') << r.header.tree << QLatin1Char('\t')
              << ndk::ToDottedName(r.header.context) << QLatin1Char('\t') << what << QLatin1Char('\t')
              << QStringLiteral("geschrieben %1, unverändert %2, abgelehnt %3, übersprungen %4%5")
                     .arg(r.count(runs::Outcome::Written)).arg(r.count(runs::Outcome::Unchanged))
                     .arg(r.count(runs::Outcome::Refused)).arg(r.count(runs::Outcome::Skipped))
                     .arg(r.ended ? QString() : QStringLiteral(", nicht zu Ende"))
              << Qt::endl;
    }
    return 0;
}

int undo(const Options &o)
{
    const runs::RecordedRun run = [&] {
        try {
            return runs::findRunRecord(runs::runsFolder(), o.run);
        } catch (const platform::Error &e) {
            throw UsageError(e.message());
        }
    }();
    Session session(run.header.tree);
    const QList<runs::FoundUser> now = session.search(run.header.context, QStringLiteral("User"), run.header.subtree);
    const QList<runs::UndoStep> steps = runs::planUndo(run, now);

    QList<runs::RecordedUser> changes;
    int skipped = 0;
    for (const runs::UndoStep &step : steps) {
        if (step.writes) {
            changes.append(step.change);
        } else {
            ++skipped;
            err() << QStringLiteral("Übersprungen: %1: %2").arg(step.change.fullName, step.reason) << Qt::endl;
        }
    }
    if (o.ldif) {
        QByteArray bytes;
        for (const runs::RecordedUser &change : changes)
            bytes += changeRecord(change, run.header.attribute);
        out() << QString::fromUtf8(bytes) << Qt::flush;
        return skipped ? 1 : 0;
    }
    if (o.dryRun) {
        for (const runs::RecordedUser &change : changes)
            out() << ndk::ToDottedName(change.fullName).leftJustified(40) << QLatin1Char(' ') << valuesText(change.before)
                  << QStringLiteral(" -> ") << valuesText(change.after) << Qt::endl;
        out() << QStringLiteral("Zurückzunehmen: %1, übersprungen: %2").arg(changes.size()).arg(skipped) << Qt::endl;
        return skipped ? 1 : 0;
    }

    runs::RunHeader header = run.header;
    header.kind = QStringLiteral("undo");
    header.undoes = run.header.id;
    header.server = session.source();
    runs::RunRecordWriter record(runs::runsFolder(), header);
    for (const runs::UndoStep &step : steps) {
        if (!step.writes) {
            runs::RecordedUser user = step.change;
            user.outcome = runs::Outcome::Skipped;
            user.message = step.reason;
            record.notSent(user);
        }
    }
    const QList<Sent> sent = send(session, record, changes, true, 0);
    const auto refused = std::count_if(sent.cbegin(), sent.cend(), [](const Sent &s) { return s.outcome == runs::Outcome::Refused; });
    out() << QStringLiteral("Zurückgenommen: %1, übersprungen: %2, abgelehnt: %3")
                 .arg(changes.size() - refused).arg(skipped).arg(refused)
          << Qt::endl
          << QStringLiteral("Laufprotokoll: %1 (%2)").arg(record.path(), record.header().id) << Qt::endl;
    return skipped + refused > 0 ? 1 : 0;
}

} // namespace cli
