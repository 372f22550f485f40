#include "cli/commands.h"

#include "cli/interrupt.h"
#include "cli/session.h"
#include "cli/table.h"
#include "directory/tree.h"
#include "ndk/names.h"
#include "platform/message_pump.h"
#include "runs/run.h"
#include "runs/undo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QHash>
#include <QSaveFile>
#include <QSet>

namespace cli {

namespace {

// Changes go to the directory in batches, each recorded and synced ahead, so
// a tree that can keeps a batch in flight and the disk syncs once per batch.
// Each batch ends in a wait for all its answers: they grow from a first one
// that a directory refusing every write stops soon.
constexpr qsizetype kFirstBatch = 64;
constexpr qsizetype kLargestBatch = 4096;

const QStringList kCsvColumns = {QStringLiteral("Name"), QStringLiteral("DN"), QStringLiteral("Alte Werte"),
                                 QStringLiteral("Neue Werte"), QStringLiteral("Ergebnis"), QStringLiteral("Meldung")};

// Long listings go out a piece at a time, not a stream call per field.
constexpr qsizetype kOutputChunk = 1 << 16;

void appendValues(QString &text, const QStringList &values)
{
    if (values.isEmpty())
        text += QLatin1String("(leer)");
    else
        text += values.size() == 1 ? values.first() : joinedValues(values);
}

// A user's change as the listings show it: the dotted name in 40 columns,
// then the values before and after.
void appendChange(QString &text, const runs::PlannedUser &p)
{
    const qsizetype start = text.size();
    ndk::appendDottedName(text, p.user.fullName);
    if (text.size() - start < 40)
        text.resize(start + 40, QLatin1Char(' '));
    text += QLatin1Char(' ');
    appendValues(text, p.user.values);
    text += QLatin1String(" -> ");
    appendValues(text, p.after); // of several values, all that the user keeps
}

// Bytes that are text already (UTF-8) go to stdout as they are, after what
// the stream holds.
void writeOut(const QByteArray &bytes)
{
    out().flush();
    QFile stdoutFile;
    stdoutFile.open(stdout, QIODevice::WriteOnly);
    stdoutFile.write(bytes);
}

void printClassTotals(const QList<runs::ClassTotal> &totals)
{
    for (const runs::ClassTotal &total : totals)
        out() << QStringLiteral("  ") << total.text() << QLatin1Char('\n');
}

void addClassTotals(Csv &csv, const QList<runs::ClassTotal> &totals)
{
    for (const runs::ClassTotal &total : totals)
        csv.add({QStringLiteral("Summe"), {}, total.container, total.designation, total.text(), {}});
}

// The run's changes go through the tree, a batch at a time, into `attribute` (an NDS name).
runs::Store storeThrough(Session &session, const QString &attribute = QStringLiteral("OU"))
{
    return [&session, attribute](const QList<runs::RecordedUser> &changes, const runs::Answered &answered) {
        QList<directory::ValueChange> values;
        values.reserve(changes.size());
        for (const runs::RecordedUser &user : changes)
            values.append({user.fullName, attribute, user.before, user.after});
        session.tree().storeChanges(values, answered);
    };
}

// Takes `planned` through `run` in batches (one user after each pause), telling
// each failure as it comes. Users after the run stopped are not tried.
QList<runs::Step> drive(runs::Run &run, const QList<runs::PlannedUser> &planned, int pauseMs, std::exception_ptr &failure)
{
    QList<runs::Step> steps;
    steps.reserve(planned.size());
    qsizetype batchSize = pauseMs > 0 ? 1 : kFirstBatch;
    try {
        for (qsizetype first = 0; first < planned.size() && !run.stopped() && !Interrupt::requested(); first += batchSize) {
            if (pauseMs > 0) {
                platform::DelayWithMessages(static_cast<std::uint32_t>(pauseMs));
                if (Interrupt::requested())
                    break;
            } else if (first > 0)
                batchSize = qMin(2 * batchSize, kLargestBatch);
            for (const runs::Step &step : run.take(planned.mid(first, batchSize))) {
                if (step.outcome == runs::Outcome::Refused)
                    err() << QStringLiteral("Abgelehnt: ") << step.message << Qt::endl;
                else if (step.outcome == runs::Outcome::Unconfirmed)
                    err() << QStringLiteral("Unbestätigt: ") << step.message << Qt::endl;
                else if (step.outcome == runs::Outcome::NotTried && !step.message.isEmpty()) // it could not be sent
                    err() << QStringLiteral("Nicht versucht: ") << step.message << Qt::endl;
                steps.append(step);
            }
        }
        if (Interrupt::requested())
            run.finishCancelled(static_cast<int>(planned.size() - steps.size()));
        else
            run.finish();
    } catch (...) {
        failure = std::current_exception();
    }
    for (qsizetype i = steps.size(); i < planned.size(); ++i)
        steps.append(runs::Step{planned.at(i), runs::Outcome::NotTried, {}});
    return steps;
}

runs::Counts countsOf(const QList<runs::Step> &steps)
{
    runs::Counts counts;
    for (const runs::Step &step : steps)
        counts.add(step.outcome);
    return counts;
}

// An output that cannot be written is found before the first change is sent.
std::unique_ptr<QSaveFile> openReport(const QString &path)
{
    if (path.isEmpty())
        return nullptr;
    const QFileInfo info(path);
    const QString cannot = QStringLiteral("Bericht %1 kann nicht geschrieben werden: ").arg(path);
    // QSaveFile says no more than "unknown error" for these two.
    if (info.isDir())
        throw UsageError(cannot + QStringLiteral("%1 ist ein Ordner; bitte den Namen einer Datei angeben").arg(path));
    if (!info.dir().exists())
        throw UsageError(cannot + QStringLiteral("den Ordner %1 gibt es nicht").arg(info.dir().path()));
    auto file = std::make_unique<QSaveFile>(path);
    if (!file->open(QIODevice::WriteOnly))
        throw UsageError(cannot + file->errorString());
    return file;
}

void commit(QSaveFile &file, const QByteArray &bytes)
{
    if (file.write(bytes) != bytes.size() || !file.commit())
        throw platform::Error(QStringLiteral("Bericht %1 kann nicht geschrieben werden: %2").arg(file.fileName(), file.errorString()));
}

// The record is opened before the first change is sent; a folder or file
// that is not the user's own stops the command there.
std::unique_ptr<runs::RunRecordWriter> openRecord(const runs::RunHeader &header)
{
    try {
        return std::make_unique<runs::RunRecordWriter>(runs::runsFolder(), header);
    } catch (const platform::Error &e) {
        throw UsageError(e.message());
    }
}

runs::RunHeader headerFor(Session &session, const Options &o, const QString &context, const runs::ClassList &classes)
{
    runs::RunHeader header;
    header.tree = session.treeName();
    header.server = session.source();
    header.base = session.base();
    header.identity = session.identity();
    header.context = context;
    header.subtree = o.subtree;
    header.form = o.form;
    header.classesPath = classes.path;
    header.classesSha256 = QString::fromLatin1(classes.sha256);
    header.attribute = session.attribute();
    return header;
}

int exitCode(const runs::Counts &counts)
{
    if (counts.unconfirmed > 0)
        return 2;
    return counts.refused + counts.skipped + counts.notTried > 0 ? 1 : 0; // users left as they were: not done
}

} // namespace

namespace {

// What the class list says of the containers that hold users: which no line
// names, which a line gives an empty class (";Abi05a", on purpose), which are
// named only through a longer name; and which lines name no container.
struct ClassListFindings {
    QStringList missing, emptyClass, longer, unused;
};

ClassListFindings findingsOf(const QStringList &lines, const QMap<QString, int> &holders, const QList<runs::FoundUser> &containers)
{
    ClassListFindings found;
    const auto lineText = [&](const runs::ClassMatch &match) {
        return QStringLiteral("Zeile %1: %2").arg(match.line + 1).arg(lines.at(match.line));
    };
    QSet<int> usedLines;
    for (auto it = holders.cbegin(); it != holders.cend(); ++it) {
        const QString dotted = ndk::ToDottedName(it.key());
        const runs::ClassMatch match = runs::matchClass(lines, it.key().section(QLatin1Char('\\'), -1));
        if (!match.found()) {
            found.missing.append(QStringLiteral("  %1 (%2 Benutzer)").arg(dotted).arg(it.value()));
            continue;
        }
        usedLines.insert(match.line);
        if (match.className.isEmpty())
            found.emptyClass.append(QStringLiteral("  %1 -> %2").arg(dotted, lineText(match)));
        if (match.throughLonger)
            found.longer.append(QStringLiteral("  %1 -> %2").arg(dotted, lineText(match)));
    }
    for (const runs::FoundUser &container : containers) {
        const runs::ClassMatch match = runs::matchClass(lines, container.fullName.section(QLatin1Char('\\'), -1));
        if (match.found())
            usedLines.insert(match.line);
    }
    for (int i = 0; i < lines.size(); ++i) {
        if (!usedLines.contains(i) && lines.at(i).contains(QLatin1Char(';')))
            found.unused.append(QStringLiteral("  Zeile %1: %2").arg(i + 1).arg(lines.at(i)));
    }
    return found;
}

// Prints a heading and its lines, when there are any; returns how many.
int printSection(const QString &heading, const QStringList &lines)
{
    if (!lines.isEmpty())
        out() << heading << Qt::endl << lines.join(QLatin1Char('\n')) << Qt::endl;
    return static_cast<int>(lines.size());
}

// What preview and run open with: the class list (read before the tree,
// which may ask for a password), the tree, the context and each user's plan.
struct PlannedRun {
    explicit PlannedRun(const Options &o);
    runs::ClassList classes;
    Session session;
    QString context;
    QList<runs::PlannedUser> planned;
};

runs::ClassList noted(runs::ClassList classes)
{
    if (!classes.note.isEmpty())
        err() << classes.note << Qt::endl;
    return classes;
}

PlannedRun::PlannedRun(const Options &o)
    : classes(noted(classListAt(o.classes, o.form))), session(o.tree), context(session.resolveContext(o.context)),
      planned(runs::plan(session.search(context, QStringLiteral("User"), o.subtree), o.form, classes.lines, session.valueCase()))
{
    if (const QString warning = session.noUsersWarning(context, planned.size()); !warning.isEmpty())
        err() << warning << Qt::endl;
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
    const QString classList = classes.path.isEmpty()
                                  ? QStringLiteral("keine Klassenliste (gesucht in: %1)").arg(classListPlaces())
                                  : QStringLiteral("Klassenliste %1 (%2 Zeilen)").arg(classes.path).arg(classes.lines.size());
    out() << QStringLiteral("Baum %1: %2 Benutzer, %3 Container, %4").arg(session.treeName()).arg(users.size()).arg(containers.size()).arg(classList)
          << Qt::endl;
    if (const QString server = session.serverDescription(); !server.isEmpty())
        out() << QStringLiteral("Server: %1").arg(server) << Qt::endl;

    int questionable = 0;
    if (!classes.note.isEmpty()) { // lines that may be meant are not read
        out() << classes.note << Qt::endl;
        ++questionable;
    }
    if (const QString warning = session.noUsersWarning(root, users.size()); !warning.isEmpty()) {
        out() << warning << Qt::endl;
        ++questionable;
    }
    const ClassListFindings found = findingsOf(classes.lines, holders, containers);
    questionable += printSection(QStringLiteral("Klassen, die keine Zeile der Klassenliste nennt:"), found.missing);
    printSection(QStringLiteral("Klassen, denen die Klassenliste eine leere Klasse gibt (die Form 1 löscht dort den Wert, "
                                "die Formen 2 und 3 tragen nur den Container mit \", \" ein):"),
                 found.emptyClass);
    printSection(QStringLiteral("Zeilen, die keinen Container treffen:"), found.unused);
    questionable += printSection(QStringLiteral("Container, die nur über einen längeren Namen getroffen werden:"), found.longer);
    QStringList doubles;
    const QHash<QString, QStringList> dns = runs::dnsByFullName(users);
    for (auto it = dns.cbegin(); it != dns.cend(); ++it) {
        if (it.value().size() > 1)
            doubles.append(QStringLiteral("  %1 (%2 Objekte)").arg(it.key()).arg(it.value().size()));
    }
    doubles.sort();
    questionable += printSection(QStringLiteral("Namen, die mehrere Objekte bezeichnen:"), doubles);
    for (const directory::Reference &reference : session.references())
        out() << QStringLiteral("Verweis auf einen anderen Server, nicht durchsucht: %1%2")
                     .arg(reference.url, reference.mayHoldUsers ? QString() : QStringLiteral(" (enthält keine Benutzer)")) << Qt::endl;
    out() << (questionable ? QStringLiteral("Bedenklich: %1").arg(questionable) : QStringLiteral("Keine Bedenken.")) << Qt::endl;
    return questionable ? 1 : 0;
}

int preview(const Options &o)
{
    const PlannedRun r(o);
    const QList<runs::PlannedUser> &planned = r.planned;
    if (o.format == QLatin1String("ldif")) {
        const QByteArray type = r.session.attribute().toUtf8();
        QByteArray bytes;
        for (const runs::PlannedUser &p : planned) {
            if (p.writes(o.allowEmptyClass))
                bytes += runs::changeRecord(p.user.dn, type, p.user.values, p.after);
        }
        writeOut(bytes);
        return 0;
    }
    if (o.format == QLatin1String("csv")) {
        Csv csv(kCsvColumns);
        for (const runs::PlannedUser &p : planned)
            csv.add({ndk::ToDottedName(p.user.fullName), p.user.dn, joinedValues(p.user.values), joinedValues(p.after),
                     p.text(o.allowEmptyClass), {}});
        addClassTotals(csv, runs::classTotals(planned, o.allowEmptyClass));
        writeOut(csv.bytes());
        return 0;
    }
    QString text;
    for (const runs::PlannedUser &p : planned) {
        appendChange(text, p);
        text += QLatin1String("  [");
        text += p.text(o.allowEmptyClass);
        text += QLatin1String("]  ");
        text += p.user.dn;
        text += QLatin1Char('\n');
        if (text.size() >= kOutputChunk) {
            out() << text;
            text.truncate(0);
        }
    }
    out() << text;
    out() << runs::totals(planned, o.allowEmptyClass).text(planned.size()) << Qt::endl;
    printClassTotals(runs::classTotals(planned, o.allowEmptyClass));
    return 0;
}

int runCommand(const Options &o)
{
    PlannedRun r(o);
    const QList<runs::PlannedUser> &planned = r.planned;
    Session &session = r.session;
    const runs::Totals totals = runs::totals(planned, o.allowEmptyClass);
    out() << totals.text(planned.size()) << Qt::endl;
    if (totals.classMissing > 0 && !o.allowEmptyClass)
        throw UsageError(QStringLiteral("Für %1 Benutzer nennt die Klassenliste %2 die Klasse nicht; die Form %3 %4. "
                                        "Mit --allow-empty-class geht es trotzdem.")
                             .arg(totals.classMissing).arg(r.classes.path).arg(o.form)
                             .arg(o.form == 1 ? QStringLiteral("löscht dort die Werte")
                                              : QStringLiteral("trägt dort eine Bezeichnung ohne Klasse ein")));
    if (!o.yes && !confirm(QStringLiteral("Jetzt im Baum %1 eintragen?").arg(session.treeName()))) {
        err() << QStringLiteral("Nichts geschrieben.") << Qt::endl;
        return 2;
    }

    const std::unique_ptr<QSaveFile> report = openReport(o.report);
    const std::unique_ptr<runs::RunRecordWriter> record = openRecord(headerFor(session, o, r.context, r.classes));
    runs::Run run(*record, storeThrough(session), o.allowEmptyClass, o.goOn);
    std::exception_ptr failure;
    const QList<runs::Step> steps = drive(run, planned, o.pauseMs, failure);
    const runs::Counts counts = countsOf(steps);

    // The closing lines come also after a failure, counting only what is stored.
    printClassTotals(runs::classTotals(steps));
    out() << counts.text() << Qt::endl << QStringLiteral("Laufprotokoll: %1 (%2)").arg(record->path(), record->header().id) << Qt::endl;
    if (report) {
        Csv csv(kCsvColumns);
        for (const runs::Step &step : steps)
            csv.add({ndk::ToDottedName(step.planned.user.fullName), step.planned.user.dn, joinedValues(step.planned.user.values),
                     joinedValues(step.planned.after), runs::outcomeText(step.outcome), step.message});
        addClassTotals(csv, runs::classTotals(steps));
        commit(*report, csv.bytes());
    }
    if (failure)
        std::rethrow_exception(failure);
    return exitCode(counts);
}

int listRuns(const Options &o)
{
    if (!o.tree.isEmpty() && !Session::attached(o.tree))
        throw UsageError(QStringLiteral("Kein Baum %1 ist eingetragen").arg(o.tree));
    const QString folder = runs::runsFolder();
    QStringList problems;
    QList<runs::RecordedRun> records;
    try {
        records = runs::listRunRecords(folder, &problems);
    } catch (const platform::Error &e) {
        throw UsageError(e.message());
    }
    if (!QFileInfo(folder).isReadable() || !QFileInfo(folder).isExecutable())
        throw UsageError(QStringLiteral("Ordner %1 der Laufprotokolle kann nicht gelesen werden").arg(folder));
    for (const QString &problem : problems)
        err() << problem << Qt::endl;
    for (const runs::RecordedRun &r : records) {
        if (!o.tree.isEmpty() && r.header.tree.compare(o.tree, Qt::CaseInsensitive) != 0)
            continue;
        const QString what = r.header.kind == QLatin1String("undo") ? QStringLiteral("Rücknahme von %1").arg(r.header.undoes)
                                                                    : QStringLiteral("Form %1").arg(r.header.form);
        const QString state = runs::runState(r, records);
        out() << r.header.id << QLatin1Char('\t') << r.header.when.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"))
              << QLatin1Char('\t') << r.header.who << QLatin1Char('\t') << r.header.tree << QLatin1Char('\t') << r.header.server
              << QLatin1Char('\t') << ndk::ToDottedName(r.header.context) << QLatin1Char('\t') << what << QLatin1Char('\t')
              << QStringLiteral("geschrieben %1, unverändert %2, abgelehnt %3, unbestätigt %4, übersprungen %5%6%7")
                     .arg(r.count(runs::Outcome::Written)).arg(r.count(runs::Outcome::Unchanged))
                     .arg(r.count(runs::Outcome::Refused)).arg(r.count(runs::Outcome::Unconfirmed))
                     .arg(r.count(runs::Outcome::Skipped))
                     .arg(r.damage.isEmpty() ? QString() : QStringLiteral(", beschädigt (%1)").arg(r.damage))
                     .arg(state.isEmpty() ? QString() : QStringLiteral(", ") + state)
              << Qt::endl;
    }
    return 0;
}

int undo(const Options &o)
{
    const QString folder = runs::runsFolder();
    const runs::RecordedRun run = [&] {
        try {
            return runs::findRunRecord(folder, o.run);
        } catch (const platform::Error &e) {
            throw UsageError(e.message());
        }
    }();
    if (!run.damage.isEmpty()) {
        if (!o.ignoreChecksum)
            throw UsageError(QStringLiteral("Laufprotokoll %1, %2. Mit --ignore-checksum geht es trotzdem.").arg(run.path, run.damage));
        err() << QStringLiteral("Laufprotokoll %1, %2").arg(run.path, run.damage) << Qt::endl;
    }
    QStringList ignored;
    const runs::Undo undo(run, runs::listRunRecords(folder, &ignored));
    if (undo.done()) {
        out() << QStringLiteral("Lauf %1 ist schon zurückgenommen, von Lauf %2.").arg(run.header.id, undo.history().byText()) << Qt::endl;
        return 0;
    }
    Session session(run.header.tree);
    // A record from before identities were kept is judged by server and base.
    const runs::DirectoryPlace here{session.source(), session.base(), run.header.identity.isEmpty() ? QString() : session.identity()};
    if (!undo.sameDirectory(here)) {
        const QString text = QStringLiteral("Lauf %1 lief auf %2; der Baum zeigt jetzt auf %3").arg(run.header.id, undo.ranOn().text(), here.text());
        if (!o.otherServer)
            throw UsageError(text + QStringLiteral(". Mit --allow-other-server geht es trotzdem."));
        err() << text << Qt::endl;
    } else if (here.server != run.header.server) {
        err() << QStringLiteral("Lauf %1 lief auf %2, derselbe Verzeichnisdienst (%3); zurückgenommen wird auf %4")
                     .arg(run.header.id, run.header.server, run.header.identity, here.server)
              << Qt::endl;
    }
    for (const QString &warning : undo.warnings(session.attribute()))
        err() << warning << Qt::endl;
    QList<runs::FoundUser> now = session.search(run.header.context, QStringLiteral("User"), run.header.subtree, undo.attribute());
    if (undo.lacksKnownUsers(now))
        now = session.search(session.tree().rootFullName(), QStringLiteral("User"), true, undo.attribute());
    const QList<runs::UndoStep> steps = undo.plan(now);

    int skipped = 0;
    for (const runs::UndoStep &step : steps) {
        if (step.writes) {
            if (!step.reason.isEmpty())
                err() << QStringLiteral("Zurückzunehmen: %1: %2").arg(step.change.fullName, step.reason) << Qt::endl;
            continue;
        }
        if (step.settled) {
            err() << QStringLiteral("Nichts zu tun: %1: %2").arg(step.change.fullName, step.reason) << Qt::endl;
        } else {
            ++skipped;
            err() << QStringLiteral("Übersprungen: %1: %2").arg(step.change.fullName, step.reason) << Qt::endl;
        }
    }
    const int cut = undo.recordCut() ? 1 : 0; // did what it could: not done well
    if (o.ldif || o.dryRun) {
        QByteArray bytes;
        QString text;
        int toWrite = 0;
        for (const runs::UndoStep &step : steps) {
            if (!step.writes)
                continue;
            ++toWrite;
            bytes += runs::changeRecord(step.change.dn, undo.recordedAttribute().toUtf8(), step.change.before, step.change.after);
            runs::PlannedUser p;
            p.user = {step.change.fullName, step.change.dn, step.change.before};
            p.after = step.change.after;
            appendChange(text, p);
            text += QLatin1Char('\n');
        }
        if (o.ldif)
            writeOut(bytes);
        else
            out() << text << QStringLiteral("Zurückzunehmen: %1, übersprungen: %2").arg(toWrite).arg(skipped) << Qt::endl;
        return skipped ? 1 : cut;
    }

    const std::unique_ptr<runs::UndoRun> undoing = [&] {
        try {
            return std::make_unique<runs::UndoRun>(folder, undo, here, steps, storeThrough(session, undo.attribute()));
        } catch (const platform::Error &e) {
            throw UsageError(e.message());
        }
    }();
    std::exception_ptr failure;
    const runs::Counts counts = countsOf(drive(undoing->run(), undoing->changes(), 0, failure));
    out() << QStringLiteral("Zurückgenommen: %1, übersprungen: %2, abgelehnt: %3, unbestätigt: %4")
                 .arg(counts.written).arg(skipped).arg(counts.refused).arg(counts.unconfirmed)
          << Qt::endl
          << QStringLiteral("Laufprotokoll: %1 (%2)").arg(undoing->record().path(), undoing->record().header().id) << Qt::endl;
    if (failure)
        std::rethrow_exception(failure);
    if (counts.unconfirmed > 0)
        return 2;
    return skipped + counts.refused + counts.notTried > 0 ? 1 : cut;
}

} // namespace cli
