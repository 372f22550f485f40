// What a run decides per user, and its record read back.
#include "directory/tree.h"
#include "platform/error.h"
#include "runs/class_list.h"
#include "runs/designation.h"
#include "runs/plan.h"
#include "runs/run.h"
#include "runs/run_record.h"
#include "runs/run_state.h"
#include "runs/undo.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {

runs::RecordedUser recorded(int index, const QString &fullName, const QString &dn, const QStringList &before,
                            const QStringList &after, runs::Outcome outcome = runs::Outcome::Unconfirmed)
{
    runs::RecordedUser user;
    user.index = index;
    user.fullName = fullName;
    user.dn = dn;
    user.before = before;
    user.after = after;
    user.outcome = outcome;
    return user;
}

QList<runs::PlannedUser> plannedUsers(int count)
{
    QList<runs::PlannedUser> users;
    for (int i = 1; i <= count; ++i) {
        runs::PlannedUser p;
        p.index = i;
        p.user = {QStringLiteral("NDS:\\\\T\\Abi05a\\u%1").arg(i), QStringLiteral("cn=u%1,o=T").arg(i), {QStringLiteral("alt")}};
        p.container = QStringLiteral("Abi05a");
        p.designation = QStringLiteral("8a");
        p.after = {p.designation};
        users.append(p);
    }
    return users;
}

} // namespace

class RunsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void valuesAfter_replacesOnlyDesignations_data();
    void valuesAfter_replacesOnlyDesignations();
    void matchClass_throughLongerName_data();
    void matchClass_throughLongerName();
    void plan_verdicts();
    void record_hostileValues_readBackAsWritten();
    void record_cutShort_lastUserUnknown();
    void record_cancelled_readBackWithNotTriedAndIdentities();
    void undo_judgesEachUserByItsValuesNow_data();
    void undo_judgesEachUserByItsValuesNow();
    void runState_byTheRecordAndItsUndos_data();
    void runState_byTheRecordAndItsUndos();
    void run_outcomeByAnswer_data();
    void run_outcomeByAnswer();
    void record_editedOrCut_damageNamesLine();
    void record_lost_errorNamesFileAndNothingUnstoredCounted_data();
    void record_lost_errorNamesFileAndNothingUnstoredCounted();
};

void RunsTest::valuesAfter_replacesOnlyDesignations_data()
{
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QString>("designation");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("none") << QStringList{} << "8a" << QStringList{"8a"};
    QTest::newRow("one value is the designation's place") << QStringList{"Bibliothek"} << "8a" << QStringList{"8a"};
    QTest::newRow("others stay, last year's class goes") << QStringList{"Schueler", "7a", "Bibliothek"} << "8a"
                                                        << QStringList{"Schueler", "Bibliothek", "8a"};
    QTest::newRow("container and a form 2 remnant go") << QStringList{"Abi05a", ", Abi05a", "Schueler"} << "8a, Abi05a"
                                                      << QStringList{"Schueler", "8a, Abi05a"};
    QTest::newRow("already there") << QStringList{"Schueler", "8a"} << "8a" << QStringList{"Schueler", "8a"};
    QTest::newRow("empty removes only designations") << QStringList{"Schueler", "7a"} << "" << QStringList{"Schueler"};
    QTest::newRow("empty removes a single value") << QStringList{"7a"} << "" << QStringList{};
}

void RunsTest::valuesAfter_replacesOnlyDesignations()
{
    QFETCH(QStringList, values);
    QFETCH(QString, designation);
    QFETCH(QStringList, after);
    QCOMPARE(runs::valuesAfter(values, designation, {QStringLiteral("8a;Abi05a"), QStringLiteral("7a;Abi06a")}, QStringLiteral("Abi05a")), after);
}

void RunsTest::matchClass_throughLongerName_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("container");
    QTest::addColumn<bool>("longer");
    QTest::newRow("exact") << "8a;Abi05a" << "abi05A" << false;
    QTest::newRow("a remark after a second ;") << "8a;Abi05a;Raum 12" << "Abi05a" << false;
    QTest::newRow("prefix") << "8a;Abi05a" << "Abi05" << true;
    QTest::newRow("more words") << "8a;Abi05a alt" << "Abi05a" << true;
}

void RunsTest::matchClass_throughLongerName()
{
    QFETCH(QString, line);
    QFETCH(QString, container);
    QFETCH(bool, longer);
    const runs::ClassMatch match = runs::matchClass({QStringLiteral("x"), line}, container);
    QCOMPARE(match.className, QStringLiteral("8a"));
    QCOMPARE(match.line, 1);
    QCOMPARE(match.throughLonger, longer);
}

void RunsTest::plan_verdicts()
{
    const QStringList classes{QStringLiteral("8a;Abi05a"), QStringLiteral(";Leer")};
    const QList<runs::FoundUser> users{
        {QStringLiteral("NDS:\\\\T\\G\\Abi05a\\a"), QStringLiteral("cn=a"), {QStringLiteral("8a")}},
        {QStringLiteral("NDS:\\\\T\\G\\Abi05a\\b"), QStringLiteral("cn=b"), {}},
        {QStringLiteral("NDS:\\\\T\\G\\Bwl\\c"), QStringLiteral("cn=c"), {QStringLiteral("7a")}},
        {QStringLiteral("NDS:\\\\T\\G\\Abi05a\\d"), QStringLiteral("cn=d"), {}},
        {QStringLiteral("NDS:\\\\T\\G\\Abi05a\\d"), QStringLiteral("uid=d"), {}},
        {QStringLiteral("NDS:\\\\T\\G\\Leer\\e"), QStringLiteral("cn=e"), {QStringLiteral("7a")}},
    };
    const QList<runs::PlannedUser> planned = runs::plan(users, 1, classes);
    QList<runs::Verdict> verdicts;
    for (const runs::PlannedUser &p : planned)
        verdicts.append(p.verdict);
    QCOMPARE(verdicts, (QList<runs::Verdict>{runs::Verdict::Unchanged, runs::Verdict::Change, runs::Verdict::ClassMissing,
                                             runs::Verdict::NameNotUnique, runs::Verdict::NameNotUnique,
                                             runs::Verdict::Removes})); // ";Leer": empty on purpose, not missing
    QVERIFY(!planned.at(2).writes(false) && planned.at(2).skipped(false));
    QVERIFY(planned.at(2).writes(true) && !planned.at(2).skipped(true));
    QVERIFY(!planned.at(3).writes(true) && planned.at(3).skipped(true));
    QVERIFY(planned.at(5).writes(false) && !planned.at(5).skipped(false));
    // Forms 2 and 3 over a missing class are no less missing.
    QCOMPARE(runs::plan({users.at(2)}, 2, classes).first().verdict, runs::Verdict::ClassMissing);
    QCOMPARE(runs::plan({users.at(5)}, 3, classes).first().after, QStringList{"Leer, "});
    QCOMPARE(runs::plan({{QStringLiteral("NDS:\\\\T\\G\\Abi05a\\a"), {}, {QStringLiteral("x")}}}, 0, {}).first().verdict, runs::Verdict::Change);
    QCOMPARE(runs::plan({{QStringLiteral("a"), {}, {QStringLiteral("x")}}}, 0, {}).first().verdict, runs::Verdict::Removes);
}

void RunsTest::record_hostileValues_readBackAsWritten()
{
    QTemporaryDir dir;
    runs::RunHeader header;
    header.tree = QStringLiteral("SCHULE");
    header.context = QStringLiteral("NDS:\\\\SCHULE\\Gym\n# id: falsch");
    header.attribute = QStringLiteral("ou");
    header.form = 2;
    const runs::RecordedUser user = recorded(7, QStringLiteral("NDS:\\\\SCHULE\\Gym\\a\nb"), QStringLiteral("cn=a\\0Ab\\, c,o=Gym"),
                                             {QStringLiteral(" führend"), QStringLiteral("#x: y")}, {QStringLiteral("8a, Abi05a")});
    QString path;
    {
        runs::RunRecordWriter writer(dir.path(), header);
        path = writer.path();
        writer.ahead({user});
        writer.outcome(7, runs::Outcome::Refused, QStringLiteral("Zeile eins\nZeile zwei"));
        writer.finish();
    }
    const runs::RecordedRun run = runs::readRunRecord(path);
    QCOMPARE(run.header.context, header.context);
    QCOMPARE(run.header.form, 2);
    QVERIFY(run.ended);
    QCOMPARE(run.users.size(), 1);
    const runs::RecordedUser &read = run.users.first();
    QCOMPARE(read.index, 7);
    QCOMPARE(read.fullName, user.fullName);
    QCOMPARE(read.dn, user.dn);
    QCOMPARE(read.before, user.before);
    QCOMPARE(read.after, user.after);
    QCOMPARE(read.outcome, runs::Outcome::Refused);
    QCOMPARE(read.message, QStringLiteral("Zeile eins\nZeile zwei"));
}

void RunsTest::record_cutShort_lastUserUnknown()
{
    QTemporaryDir dir;
    runs::RunHeader header;
    header.attribute = QStringLiteral("ou");
    QString path;
    {
        runs::RunRecordWriter writer(dir.path(), header);
        path = writer.path();
        writer.ahead({recorded(1, QStringLiteral("NDS:\\\\T\\a"), QStringLiteral("cn=a"), {}, {QStringLiteral("8a")}),
                      recorded(2, QStringLiteral("NDS:\\\\T\\b"), QStringLiteral("cn=b"), {}, {QStringLiteral("8a")})});
        writer.outcome(1, runs::Outcome::Written);
    } // the program died here: no answer for b, no end
    const runs::RecordedRun run = runs::readRunRecord(path);
    QVERIFY(!run.ended);
    QCOMPARE(run.users.at(0).outcome, runs::Outcome::Written);
    QCOMPARE(run.users.at(1).outcome, runs::Outcome::Unconfirmed);
    QVERIFY(run.damage.isEmpty());
    QVERIFY_THROWS_EXCEPTION(platform::Error, runs::readRunRecord(dir.filePath(QStringLiteral("nichts.ldif"))));
}

void RunsTest::record_cancelled_readBackWithNotTriedAndIdentities()
{
    QTemporaryDir dir;
    runs::RunHeader header;
    header.attribute = QStringLiteral("ou");
    runs::RunRecordWriter writer(dir.path(), header);
    runs::RecordedUser user = recorded(1, QStringLiteral("NDS:\\\\T\\a"), QStringLiteral("cn=a"), {}, {QStringLiteral("8a")});
    user.identity = QStringLiteral("nsUniqueId=1a2b-3c");
    writer.ahead({user});
    writer.outcome(1, runs::Outcome::Written);
    writer.finishCancelled(41);
    const runs::RecordedRun run = runs::readRunRecord(writer.path());
    QVERIFY(run.ended && run.cancelled);
    QCOMPARE(run.notTried, 41);
    QCOMPARE(run.users.first().identity, user.identity);
    QCOMPARE(runs::runState(run, {run}), QStringLiteral("abgebrochen, nicht versucht: 41"));
}

void RunsTest::undo_judgesEachUserByItsValuesNow_data()
{
    QTest::addColumn<runs::Outcome>("outcome"); // of the run's change: alt -> 8a
    QTest::addColumn<QStringList>("now");        // empty: the user is gone
    QTest::addColumn<bool>("sentByUndo");        // an earlier undo sent it and got no answer
    QTest::addColumn<bool>("writes");
    QTest::addColumn<bool>("settled");
    QTest::addColumn<QString>("reason");
    using O = runs::Outcome;
    QTest::newRow("the run's value: taken back") << O::Written << QStringList{"8a"} << false << true << false << QString();
    QTest::newRow("a value added beside it: kept and named") << O::Written << QStringList{"8a", "AG"} << false << true << false
                                                             << QStringLiteral("behält den seither dazugekommenen Wert AG");
    QTest::newRow("changed since: open") << O::Written << QStringList{"9x"} << false << false << false
                                         << QStringLiteral("seit dem Lauf geändert, jetzt: 9x");
    QTest::newRow("written, old value here: not arrived yet, open") << O::Written << QStringList{"alt"} << false << false << false
                                                                    << QStringLiteral("hat den alten Wert: die Änderung des Laufs ist hier noch nicht "
                                                                                      "angekommen oder wurde von Hand zurückgenommen; bleibt offen");
    QTest::newRow("a killed undo restored it") << O::Written << QStringList{"alt"} << true << false << true << QStringLiteral("schon zurück");
    QTest::newRow("unconfirmed and not kept") << O::Unconfirmed << QStringList{"alt"} << false << false << true
                                              << QStringLiteral("nichts gespeichert, der alte Wert steht noch");
    QTest::newRow("unconfirmed and kept") << O::Unconfirmed << QStringList{"8a"} << false << true << false << QString();
    QTest::newRow("deleted") << O::Written << QStringList{} << false << false << true << QStringLiteral("nicht mehr vorhanden");
}

void RunsTest::undo_judgesEachUserByItsValuesNow()
{
    QFETCH(runs::Outcome, outcome);
    QFETCH(QStringList, now);
    QFETCH(bool, sentByUndo);
    QFETCH(bool, writes);
    QFETCH(bool, settled);
    QFETCH(QString, reason);
    runs::RecordedRun run;
    runs::RecordedUser user = recorded(1, QStringLiteral("cn=a"), QStringLiteral("cn=a,o=G"), {QStringLiteral("alt")}, {QStringLiteral("8a")}, outcome);
    user.removed = user.before;
    user.added = user.after;
    run.users = {user, recorded(2, QStringLiteral("cn=b"), QStringLiteral("cn=b,o=G"), {}, {QStringLiteral("8a")}, runs::Outcome::Refused)};
    QList<runs::FoundUser> found;
    if (!now.isEmpty())
        found.append({QStringLiteral("cn=a"), QStringLiteral("CN=A,o=G"), now});
    runs::UndoHistory history;
    if (sentByUndo)
        history.sent.insert(1);

    const QList<runs::UndoStep> steps = runs::planUndo(run, found, history);
    QCOMPARE(steps.size(), 1); // the refused one changed nothing
    QCOMPARE(steps.first().writes, writes);
    QCOMPARE(steps.first().settled, settled);
    QCOMPARE(steps.first().reason, reason);
    if (writes)
        QCOMPARE(steps.first().change.after, now.size() > 1 ? QStringList({"AG", "alt"}) : QStringList{"alt"});
    history.settled.insert(1);
    QVERIFY(runs::planUndo(run, found, history).isEmpty()); // a user an undo settled is not planned again
}

void RunsTest::runState_byTheRecordAndItsUndos_data()
{
    QTest::addColumn<QString>("record"); // how the run's record ends
    QTest::addColumn<QList<runs::Outcome>>("undone"); // per undo, what it recorded for user 1; user 2 is always written
    QTest::addColumn<QString>("state");
    using O = runs::Outcome;
    QTest::newRow("ended, never undone") << QStringLiteral("ended") << QList<O>{} << QString();
    QTest::newRow("killed") << QString() << QList<O>{} << QStringLiteral("nicht zu Ende");
    QTest::newRow("cancelled") << QStringLiteral("cancelled") << QList<O>{} << QStringLiteral("abgebrochen, nicht versucht: 7");
    QTest::newRow("one user skipped") << QStringLiteral("ended") << QList<O>{O::Skipped} << QStringLiteral("teilweise zurückgenommen (1 offen)");
    QTest::newRow("unconfirmed stays open") << QStringLiteral("ended") << QList<O>{O::Unconfirmed} << QStringLiteral("teilweise zurückgenommen (1 offen)");
    QTest::newRow("second undo settles it") << QStringLiteral("ended") << QList<O>{O::Skipped, O::Written}
                                            << QStringLiteral("zurückgenommen von u0, u1");
    QTest::newRow("needing nothing settles") << QStringLiteral("ended") << QList<O>{O::Unchanged} << QStringLiteral("zurückgenommen von u0");
}

void RunsTest::runState_byTheRecordAndItsUndos()
{
    QFETCH(QString, record);
    QFETCH(QList<runs::Outcome>, undone);
    QFETCH(QString, state);
    runs::RecordedRun run;
    run.header.id = QStringLiteral("r");
    run.ended = !record.isEmpty();
    run.cancelled = record == QLatin1String("cancelled");
    run.notTried = 7;
    run.users = {recorded(1, {}, {}, {}, {QStringLiteral("8a")}, runs::Outcome::Written),
                 recorded(2, {}, {}, {}, {QStringLiteral("8a")}, runs::Outcome::Written),
                 recorded(3, {}, {}, {}, {QStringLiteral("8a")}, runs::Outcome::Refused)};
    QList<runs::RecordedRun> records{run};
    for (qsizetype i = 0; i < undone.size(); ++i) {
        runs::RecordedRun undo;
        undo.header.id = QStringLiteral("u%1").arg(i);
        undo.header.kind = QStringLiteral("undo");
        undo.header.undoes = run.header.id;
        undo.ended = true;
        undo.users = {recorded(1, {}, {}, {}, {}, undone.at(i))};
        if (i == 0)
            undo.users.append(recorded(2, {}, {}, {}, {}, runs::Outcome::Written));
        records.append(undo);
    }
    QCOMPARE(runs::runState(run, records), state);
}

void RunsTest::run_outcomeByAnswer_data()
{
    QTest::addColumn<std::exception_ptr>("failure");
    QTest::addColumn<bool>("goOn");
    QTest::addColumn<runs::Outcome>("outcome");
    QTest::addColumn<bool>("stopped");
    const auto error = [](auto e) { return std::make_exception_ptr(e); };
    QTest::newRow("the server said yes") << std::exception_ptr() << false << runs::Outcome::Written << false;
    QTest::newRow("refused stops the run") << error(directory::Refused(QStringLiteral("Insufficient access (50)"))) << false
                                           << runs::Outcome::Refused << true;
    QTest::newRow("refused, going on") << error(directory::Refused(QStringLiteral("nein"))) << true << runs::Outcome::Refused << false;
    QTest::newRow("no answer is never a refusal") << error(directory::Unconfirmed(QStringLiteral("Timed out"))) << true
                                                  << runs::Outcome::Unconfirmed << true;
    QTest::newRow("an error of unknown kind may have stored") << error(platform::Error(QStringLiteral("weg"))) << true
                                                              << runs::Outcome::Unconfirmed << true;
    QTest::newRow("never sent") << error(directory::NotSent(QStringLiteral("keine Verbindung"))) << false
                                << runs::Outcome::NotTried << true;
}

void RunsTest::run_outcomeByAnswer()
{
    QFETCH(std::exception_ptr, failure);
    QFETCH(bool, goOn);
    QFETCH(runs::Outcome, outcome);
    QFETCH(bool, stopped);
    QTemporaryDir dir;
    runs::RunHeader header;
    header.attribute = QStringLiteral("ou");
    runs::RunRecordWriter writer(dir.filePath(QStringLiteral("runs")), header);
    int sent = 0;
    runs::Run run(writer, [&](const QList<runs::RecordedUser> &changes, const runs::Answered &answered) {
        for (qsizetype i = 0; i < changes.size(); ++i) {
            ++sent;
            if (!answered(i, i == 1 ? failure : std::exception_ptr()))
                return;
        }
    }, false, goOn);
    const QList<runs::Step> steps = run.take(plannedUsers(3));
    run.finish();
    QCOMPARE(steps.at(1).outcome, outcome);
    QCOMPARE(run.stopped(), stopped);
    QCOMPARE(sent, stopped ? 2 : 3);
    QCOMPARE(steps.at(2).outcome, stopped ? runs::Outcome::NotTried : runs::Outcome::Written);
    if (failure)
        QVERIFY2(steps.at(1).message.contains(QStringLiteral("cn=u2,o=T")), qPrintable(steps.at(1).message));
    if (steps.at(1).message.contains(QStringLiteral("(50)")))
        QVERIFY(steps.at(1).message.contains(QStringLiteral("binddn=")));
    QCOMPARE(run.counts().stored(), 1 + (outcome == runs::Outcome::Written) + !stopped);

    const runs::RecordedRun read = runs::readRunRecord(writer.path());
    QVERIFY(read.damage.isEmpty());
    QCOMPARE(read.users.at(1).outcome, outcome);
}

void RunsTest::record_editedOrCut_damageNamesLine()
{
    QTemporaryDir dir;
    runs::RunHeader header;
    header.attribute = QStringLiteral("ou");
    QString path;
    {
        runs::RunRecordWriter writer(dir.path(), header);
        path = writer.path();
        writer.ahead({recorded(1, QStringLiteral("a"), QStringLiteral("cn=a"), {QStringLiteral("alt")}, {QStringLiteral("8a")}),
                      recorded(2, QStringLiteral("b"), QStringLiteral("cn=b"), {QStringLiteral("alt")}, {QStringLiteral("8a")})});
        writer.finish();
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray original = file.readAll();
    file.close();
    const auto rewrite = [&](const QByteArray &bytes) {
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        file.close();
    };
    QByteArray edited = original;
    edited.replace(edited.lastIndexOf("# old: alt"), 10, "# old: 9x!");
    rewrite(edited);
    QVERIFY2(runs::readRunRecord(path).damage.startsWith(QStringLiteral("Zeile ")), "an edited old value");
    QByteArray cut = original;
    const qsizetype second = cut.indexOf("# sum:", cut.indexOf("# user: 1"));
    cut.remove(cut.lastIndexOf("# sum:", cut.indexOf("# user: 1")), second - cut.lastIndexOf("# sum:", cut.indexOf("# user: 1")));
    rewrite(cut);
    QVERIFY2(!runs::readRunRecord(path).damage.isEmpty(), "a block cut out");
    rewrite(original);
    QVERIFY(runs::readRunRecord(path).damage.isEmpty());
}

void RunsTest::record_lost_errorNamesFileAndNothingUnstoredCounted_data()
{
    QTest::addColumn<bool>("deleted");
    QTest::newRow("disk refuses") << false;
    QTest::newRow("deleted while the run goes") << true;
}

void RunsTest::record_lost_errorNamesFileAndNothingUnstoredCounted()
{
    QFETCH(bool, deleted);
    QTemporaryDir dir;
    runs::RunHeader header;
    header.attribute = QStringLiteral("ou");
    runs::RunRecordWriter writer(dir.path(), header);
    int stored = 0;
    runs::Run run(writer, [&](const QList<runs::RecordedUser> &changes, const runs::Answered &answered) {
        for (qsizetype i = 0; i < changes.size(); ++i) {
            ++stored;
            if (!answered(i, {}))
                return;
        }
    }, false, false);

    // A file grown past the limit: write() fails with EFBIG instead of the signal.
    rlimit saved{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = static_cast<rlim_t>(QFileInfo(writer.path()).size() + 2000);
    if (deleted) {
        run.take(plannedUsers(10));
        QVERIFY(QFile::remove(writer.path())); // a record no undo could find any more
    } else {
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    }
    QString message;
    try {
        for (int batch = 0; batch < 50 && !run.stopped(); ++batch)
            run.take(plannedUsers(10));
    } catch (const platform::Error &e) {
        message = e.message();
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    QVERIFY2(message.contains(writer.path()), qPrintable(message));
    QCOMPARE(run.counts().written, stored);
    QVERIFY(deleted ? stored == 10 : stored < 500);
    if (deleted)
        return;
    QVERIFY2(message.endsWith(QStringLiteral("die Datei hat die größte erlaubte Größe erreicht")), qPrintable(message));
    QFile file(writer.path());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().endsWith("\n\n")); // whole blocks only
    QVERIFY(runs::readRunRecord(writer.path()).damage.isEmpty());
}

QTEST_GUILESS_MAIN(RunsTest)
#include "test_runs.moc"
