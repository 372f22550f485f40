// What a run decides per user, and its record read back.
#include "directory/tree.h"
#include "platform/error.h"
#include "runs/class_list.h"
#include "runs/designation.h"
#include "runs/plan.h"
#include "runs/run.h"
#include "runs/run_record.h"
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
    void undo_onlyWhereValueIsStillTheRuns();
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

void RunsTest::undo_onlyWhereValueIsStillTheRuns()
{
    runs::RecordedRun run;
    const auto user = [](int i, const char *dn, runs::Outcome outcome) {
        runs::RecordedUser user = recorded(i, QString::fromLatin1(dn), QString::fromLatin1(dn), {QStringLiteral("alt")},
                                           {QStringLiteral("8a")}, outcome);
        user.removed = user.before;
        user.added = user.after;
        return user;
    };
    run.users = {user(1, "cn=a", runs::Outcome::Written), user(2, "cn=b", runs::Outcome::Written),
                 user(3, "cn=c", runs::Outcome::Unconfirmed), user(4, "cn=d", runs::Outcome::Refused),
                 user(5, "cn=e", runs::Outcome::Written)};
    const QList<runs::FoundUser> now{{QStringLiteral("cn=a"), QStringLiteral("CN=A"), {QStringLiteral("8a")}},
                                     {QStringLiteral("cn=b"), QStringLiteral("cn=b"), {QStringLiteral("9x")}},
                                     {QStringLiteral("cn=c"), QStringLiteral("cn=c"), {QStringLiteral("alt")}},
                                     {QStringLiteral("cn=d"), QStringLiteral("cn=d"), {QStringLiteral("alt")}}};
    const QList<runs::UndoStep> steps = runs::planUndo(run, now);
    QCOMPARE(steps.size(), 4); // d was refused
    QVERIFY(steps.at(0).writes);
    QCOMPARE(steps.at(0).change.after, QStringList{"alt"});
    QVERIFY(!steps.at(1).writes);
    QCOMPARE(steps.at(1).reason, QStringLiteral("seit dem Lauf geändert, jetzt: 9x"));
    QVERIFY(steps.at(2).settled); // unconfirmed, and the old value stands
    QVERIFY(!steps.at(2).writes);
    QCOMPARE(steps.at(3).reason, QStringLiteral("nicht mehr vorhanden"));
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
}

QTEST_GUILESS_MAIN(RunsTest)
#include "test_runs.moc"
