// What a run decides per user, and its record read back.
#include "platform/error.h"
#include "runs/class_list.h"
#include "runs/designation.h"
#include "runs/plan.h"
#include "runs/run_record.h"
#include "runs/undo.h"

#include <QtTest>

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
    const QStringList classes{QStringLiteral("8a;Abi05a")};
    const QList<runs::FoundUser> users{
        {QStringLiteral("NDS:\\\\T\\G\\Abi05a\\a"), QStringLiteral("cn=a"), {QStringLiteral("8a")}},
        {QStringLiteral("NDS:\\\\T\\G\\Abi05a\\b"), QStringLiteral("cn=b"), {}},
        {QStringLiteral("NDS:\\\\T\\G\\Bwl\\c"), QStringLiteral("cn=c"), {QStringLiteral("7a")}},
        {QStringLiteral("NDS:\\\\T\\G\\Abi05a\\d"), QStringLiteral("cn=d"), {}},
        {QStringLiteral("NDS:\\\\T\\G\\Abi05a\\d"), QStringLiteral("uid=d"), {}},
    };
    const QList<runs::PlannedUser> planned = runs::plan(users, 1, classes);
    QList<runs::Verdict> verdicts;
    for (const runs::PlannedUser &p : planned)
        verdicts.append(p.verdict);
    QCOMPARE(verdicts, (QList<runs::Verdict>{runs::Verdict::Unchanged, runs::Verdict::Change, runs::Verdict::ClassMissing,
                                             runs::Verdict::NameNotUnique, runs::Verdict::NameNotUnique}));
    QVERIFY(!planned.at(2).writes(false));
    QVERIFY(planned.at(2).writes(true));
    QVERIFY(!planned.at(3).writes(true));
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
    const runs::RecordedUser user{7, QStringLiteral("NDS:\\\\SCHULE\\Gym\\a\nb"), QStringLiteral("cn=a\\0Ab\\, c,o=Gym"),
                                  {QStringLiteral(" führend"), QStringLiteral("#x: y")}, {QStringLiteral("8a, Abi05a")}, {}, {}};
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
        writer.ahead({{1, QStringLiteral("NDS:\\\\T\\a"), QStringLiteral("cn=a"), {}, {QStringLiteral("8a")}, {}, {}},
                      {2, QStringLiteral("NDS:\\\\T\\b"), QStringLiteral("cn=b"), {}, {QStringLiteral("8a")}, {}, {}}});
        writer.outcome(1, runs::Outcome::Written);
    } // the program died here: no answer for b, no end
    const runs::RecordedRun run = runs::readRunRecord(path);
    QVERIFY(!run.ended);
    QCOMPARE(run.users.at(0).outcome, runs::Outcome::Written);
    QCOMPARE(run.users.at(1).outcome, runs::Outcome::Unknown);
    QVERIFY_THROWS_EXCEPTION(platform::Error, runs::readRunRecord(dir.filePath(QStringLiteral("nichts.ldif"))));
}

void RunsTest::undo_onlyWhereValueIsStillTheRuns()
{
    runs::RecordedRun run;
    const auto user = [](int i, const char *dn, runs::Outcome outcome) {
        return runs::RecordedUser{i, QString::fromLatin1(dn), QString::fromLatin1(dn), {QStringLiteral("alt")}, {QStringLiteral("8a")}, outcome, {}};
    };
    run.users = {user(1, "cn=a", runs::Outcome::Written), user(2, "cn=b", runs::Outcome::Written),
                 user(3, "cn=c", runs::Outcome::Unknown), user(4, "cn=d", runs::Outcome::Refused),
                 user(5, "cn=e", runs::Outcome::Written)};
    const QList<runs::FoundUser> now{{QStringLiteral("cn=a"), QStringLiteral("CN=A"), {QStringLiteral("8a")}},
                                     {QStringLiteral("cn=b"), QStringLiteral("cn=b"), {QStringLiteral("9x")}},
                                     {QStringLiteral("cn=c"), QStringLiteral("cn=c"), {QStringLiteral("alt")}},
                                     {QStringLiteral("cn=d"), QStringLiteral("cn=d"), {QStringLiteral("alt")}}};
    const QList<runs::UndoStep> steps = runs::planUndo(run, now);
    QCOMPARE(steps.size(), 3); // c was never stored, d was refused
    QVERIFY(steps.at(0).writes);
    QCOMPARE(steps.at(0).change.after, QStringList{"alt"});
    QVERIFY(!steps.at(1).writes);
    QCOMPARE(steps.at(1).reason, QStringLiteral("seit dem Lauf geändert, jetzt: 9x"));
    QCOMPARE(steps.at(2).reason, QStringLiteral("nicht mehr vorhanden"));
}

QTEST_GUILESS_MAIN(RunsTest)
#include "test_runs.moc"
