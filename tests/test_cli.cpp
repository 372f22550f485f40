// klassomat on the command line, end to end on the embedded tree: check,
// preview, run, runs and undo as separate processes, the values read back.
#include "directory/client.h"
#include "directory/embedded/ldif_tree.h"
#include "runs/run_record.h"
#include "support/klassomat_process.h"
#include "support/ldif_fixture.h"

#include <QProcess>
#include <QtTest>

#include <sys/stat.h>

namespace {

const char *kTree =
    "dn: o=Gym\nobjectClass: organization\no: Gym\n\n"
    "dn: ou=Abi05a,o=Gym\nobjectClass: organizationalUnit\nou: Abi05a\n\n"
    "dn: cn=a1,ou=Abi05a,o=Gym\nobjectClass: inetOrgPerson\ncn: a1\nsn: A\nou: alt\n\n"
    "dn: cn=a2,ou=Abi05a,o=Gym\nobjectClass: inetOrgPerson\ncn: a2\nsn: A\n\n"
    "dn: cn=x\\;y,ou=Abi05a,o=Gym\nobjectClass: inetOrgPerson\ncn: x;y\nsn: A\nou: =1+1\n\n"
    "dn: ou=Abi05,o=Gym\nobjectClass: organizationalUnit\nou: Abi05\n\n"
    "dn: cn=k1,ou=Abi05,o=Gym\nobjectClass: inetOrgPerson\ncn: k1\nsn: K\n\n"
    "dn: ou=Bwl07c,o=Gym\nobjectClass: organizationalUnit\nou: Bwl07c\n\n"
    "dn: cn=b1,ou=Bwl07c,o=Gym\nobjectClass: inetOrgPerson\ncn: b1\nsn: B\nou: alt\n\n"
    "dn: ou=Mehr,o=Gym\nobjectClass: organizationalUnit\nou: Mehr\n\n"
    "dn: cn=m1,ou=Mehr,o=Gym\nobjectClass: inetOrgPerson\ncn: m1\nsn: M\n\n"
    "dn: cn=m2,ou=Mehr,o=Gym\nobjectClass: inetOrgPerson\ncn: m2\nsn: M\nou: Schueler\nou: 7a\n\n"
    "dn: cn=m3,ou=Mehr,o=Gym\nobjectClass: inetOrgPerson\ncn: m3\nsn: M\n\n"
    "dn: ou=Doppelt,o=Gym\nobjectClass: organizationalUnit\nou: Doppelt\n\n"
    "dn: cn=d1,ou=Doppelt,o=Gym\nobjectClass: inetOrgPerson\ncn: d1\nsn: D\n";

const char *kClasses = "8a;Abi05a\n7a;Abi04\n8b;Mehr\n9d;Doppelt\n";

} // namespace

class CliTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void usageErrors_exitTwo_data();
    void usageErrors_exitTwo();
    void check_namesWhatWouldBeQuestionable();
    void preview_formats();
    void run_runs_undo_valuesBackAndLaterChangeSurvives();
    void undo_refusesDoubtfulRecord_data();
    void undo_refusesDoubtfulRecord();
    void undo_recordWithoutEnd_saysSoAndTakesBackWhatItCan_data();
    void undo_recordWithoutEnd_saysSoAndTakesBackWhatItCan();
    void undo_recordsAttribute_notTodaysMap();
    void undo_afterKilledUndo_restoredUsersAreSchonZurueck();
    void outputsCheckedBeforeFirstWrite_data();
    void outputsCheckedBeforeFirstWrite();
    void previewIsWhatRunDoes_data();
    void previewIsWhatRunDoes();
    void multiValued_othersStay_reportListsEveryUser();
    void missingOrEmptyClass_eachCommand_data();
    void missingOrEmptyClass_eachCommand();
    void classListFile_saidBeforeAnythingIsWritten_data();
    void classListFile_saidBeforeAnythingIsWritten();

private:
    Result klassomat(const QStringList &arguments);
    QStringList values(const QString &fullName);
    [[nodiscard]] QString runsFolder() const { return m_dir->filePath(QStringLiteral("data/klassomat/runs")); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void CliTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    fixture::write(*m_dir, kTree, QStringLiteral("schule.ldif"));
    fixture::write(*m_dir, "[SCHULE]\nldif=schule.ldif\n", QStringLiteral("dirclient.ini"));
    fixture::write(*m_dir, kClasses, QStringLiteral("Klassen.txt"));
}

Result CliTest::klassomat(const QStringList &arguments)
{
    QStringList args = arguments;
    if (args.size() > 0 && args.first() != QLatin1String("runs") && args.first() != QLatin1String("undo")
        && !args.contains(QStringLiteral("--classes")))
        args << QStringLiteral("--classes") << m_dir->filePath(QStringLiteral("Klassen.txt"));
    return runKlassomat(args, commandEnvironment(m_dir->path()));
}

QStringList CliTest::values(const QString &fullName)
{
    directory::LdifTree tree(QStringLiteral("SCHULE"), m_dir->filePath(QStringLiteral("schule.ldif")), QString(), {});
    return tree.values(QStringLiteral("NDS:\\\\SCHULE\\Gym\\") + fullName, QStringLiteral("ou"));
}

void CliTest::usageErrors_exitTwo_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("run without context") << QStringList{"run", "--form", "1"} << "--context fehlt";
    QTest::newRow("form out of range") << QStringList{"preview", "--context", "Abi05a.Gym", "--form", "4"} << "--form";
    QTest::newRow("option of another command") << QStringList{"check", "--yes"} << "check kennt die Option --yes nicht";
    QTest::newRow("unknown format") << QStringList{"preview", "--context", "Abi05a.Gym", "--form", "0", "--format", "xls"} << "--format";
    QTest::newRow("unknown context") << QStringList{"preview", "--context", "Nix.Gym", "--form", "0"} << "Nix.Gym";
    QTest::newRow("unknown tree") << QStringList{"check", "--tree", "ANDERS"} << "ANDERS";
    QTest::newRow("undo without a run") << QStringList{"undo"} << "undo braucht genau einen Lauf";
    QTest::newRow("undo of no run") << QStringList{"undo", "20000101-000000-000"} << "Kein Laufprotokoll";
    QTest::newRow("no terminal to ask") << QStringList{"run", "--context", "Abi05a.Gym", "--form", "0"} << "kein Terminal";
}

void CliTest::usageErrors_exitTwo()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const Result r = klassomat(arguments);
    QCOMPARE(r.code, 2);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
    QVERIFY(!QDir(runsFolder()).exists() || QDir(runsFolder()).isEmpty()); // nothing was run
    QCOMPARE(values(QStringLiteral("Abi05a\\a1")), QStringList{"alt"});
}

void CliTest::check_namesWhatWouldBeQuestionable()
{
    const Result r = klassomat({QStringLiteral("check")});
    QCOMPARE(r.code, 1);
    QVERIFY2(r.out.contains(QStringLiteral("9 Benutzer, 6 Container")), qPrintable(r.out));
    QVERIFY(r.out.contains(QStringLiteral("  Bwl07c.Gym (1 Benutzer)")));           // no line names it
    QVERIFY(r.out.contains(QStringLiteral("  Zeile 2: 7a;Abi04")));                 // names no container
    QVERIFY(r.out.contains(QStringLiteral("  Abi05.Gym -> Zeile 1: 8a;Abi05a")));   // only through a longer name
    QVERIFY(r.out.contains(QStringLiteral("Bedenklich: 2")));
}

void CliTest::preview_formats()
{
    const QStringList base{QStringLiteral("preview"), QStringLiteral("--context"), QStringLiteral("NDS:\\\\SCHULE\\Gym"),
                           QStringLiteral("--subtree"), QStringLiteral("--form"), QStringLiteral("1")};
    const Result text = klassomat(base);
    QCOMPARE(text.code, 0);
    QVERIFY2(text.out.contains(QStringLiteral("a1.Abi05a.Gym").leftJustified(40) + QStringLiteral(" alt -> 8a  [ändern]  cn=a1,ou=Abi05a,o=Gym")), qPrintable(text.out));
    QVERIFY(text.out.contains(QStringLiteral(" -> (leer)  [Klasse fehlt in der Klassenliste]  cn=b1,ou=Bwl07c,o=Gym")));
    QVERIFY(text.out.contains(QStringLiteral("Schueler | 7a -> Schueler | 8b  [ändern]"))); // which values stay
    QVERIFY(text.out.contains(QStringLiteral("Benutzer: 9; ändern: 8, unverändert: 0, löscht den Wert: 0, Klasse fehlt: 1, Name nicht eindeutig: 0")));

    // By DN, as CSV: a name with ";" is quoted, a value that a spreadsheet would compute stays text.
    const Result csv = klassomat({QStringLiteral("preview"), QStringLiteral("--context"), QStringLiteral("ou=Abi05a,o=Gym"),
                                  QStringLiteral("--form"), QStringLiteral("2"), QStringLiteral("--format"), QStringLiteral("csv")});
    QCOMPARE(csv.code, 0);
    const QByteArray &bytes = csv.outBytes;
    QVERIFY(bytes.startsWith("\xEF\xBB\xBFName;DN;Alte Werte;Neue Werte;Ergebnis;Meldung\r\n")); // as the report's
    QVERIFY2(bytes.contains("\"x;y.Abi05a.Gym\";\"cn=x\\;y,ou=Abi05a,o=Gym\";\"'=1+1\";8a, Abi05a;ändern;\r\n"), bytes.constData());

    const Result ldif = klassomat({QStringLiteral("preview"), QStringLiteral("--context"), QStringLiteral("Abi05a.Gym"),
                                   QStringLiteral("--form"), QStringLiteral("1"), QStringLiteral("--format"), QStringLiteral("ldif")});
    QCOMPARE(ldif.code, 0);
    QVERIFY(ldif.out.startsWith(QStringLiteral("dn: cn=a1,ou=Abi05a,o=Gym\nchangetype: modify\ndelete: ou\nou: alt\n-\nadd: ou\nou: 8a\n-\n\n"
                                               "dn: cn=a2,ou=Abi05a,o=Gym\nchangetype: modify\nadd: ou\nou: 8a\n-\n\n")));
    QVERIFY(!QDir(runsFolder()).exists()); // a preview writes nothing
    QCOMPARE(values(QStringLiteral("Abi05a\\a1")), QStringList{"alt"});
}

void CliTest::run_runs_undo_valuesBackAndLaterChangeSurvives()
{
    const Result run = klassomat({QStringLiteral("run"), QStringLiteral("--context"), QStringLiteral("Abi05a.Gym"),
                                  QStringLiteral("--form"), QStringLiteral("2"), QStringLiteral("--yes")});
    QCOMPARE(run.code, 0);
    QVERIFY2(run.out.contains(QStringLiteral("Geschrieben: 3, unverändert: 0, abgelehnt: 0")), qPrintable(run.out));
    QCOMPARE(values(QStringLiteral("Abi05a\\x;y")), QStringList{"8a, Abi05a"});

    const QList<runs::RecordedRun> records = runs::listRunRecords(runsFolder(), nullptr);
    QCOMPARE(records.size(), 1);
    const QString id = records.first().header.id;
    const Result list = klassomat({QStringLiteral("runs")});
    QCOMPARE(list.code, 0);
    QVERIFY2(list.out.contains(id + QLatin1Char('\t')) && list.out.contains(QStringLiteral("\tAbi05a.Gym\tForm 2\tgeschrieben 3, unverändert 0")), qPrintable(list.out));

    {   // Someone else changes one of them meanwhile.
        directory::LdifTree tree(QStringLiteral("SCHULE"), m_dir->filePath(QStringLiteral("schule.ldif")), QString(), {});
        tree.putAndStore(QStringLiteral("NDS:\\\\SCHULE\\Gym\\Abi05a\\a2"), QStringLiteral("OU"), QStringLiteral("fremd"));
    }
    const Result undo = klassomat({QStringLiteral("undo"), id});
    QCOMPARE(undo.code, 1); // not everything could be taken back
    QVERIFY2(undo.err.contains(QStringLiteral("Übersprungen: NDS:\\\\SCHULE\\Gym\\Abi05a\\a2: seit dem Lauf geändert, jetzt: fremd")), qPrintable(undo.err));
    QCOMPARE(values(QStringLiteral("Abi05a\\a1")), QStringList{"alt"});
    QCOMPARE(values(QStringLiteral("Abi05a\\x;y")), QStringList{"=1+1"});
    QCOMPARE(values(QStringLiteral("Abi05a\\a2")), QStringList{"fremd"});

    // The undo has its own record, so it can be undone in turn.
    const QList<runs::RecordedRun> after = runs::listRunRecords(runsFolder(), nullptr);
    QCOMPARE(after.size(), 2);
    QCOMPARE(after.last().header.kind, QStringLiteral("undo"));
    QCOMPARE(after.last().header.undoes, id);
    QCOMPARE(after.last().count(runs::Outcome::Skipped), 1);
    QCOMPARE(klassomat({QStringLiteral("undo"), after.last().header.id}).code, 0);
    QCOMPARE(values(QStringLiteral("Abi05a\\a1")), QStringList{"8a, Abi05a"});

    // a2 is still open: the run shows it, and undo comes back to it until it holds the run's value again.
    QVERIFY2(klassomat({QStringLiteral("runs")}).out.contains(QStringLiteral("teilweise zurückgenommen (1 offen)")), "");
    QCOMPARE(klassomat({QStringLiteral("undo"), id}).code, 1);
    {
        directory::LdifTree tree(QStringLiteral("SCHULE"), m_dir->filePath(QStringLiteral("schule.ldif")), QString(), {});
        tree.putAndStore(QStringLiteral("NDS:\\\\SCHULE\\Gym\\Abi05a\\a2"), QStringLiteral("OU"), QStringLiteral("8a, Abi05a"));
    }
    const Result last = klassomat({QStringLiteral("undo"), id});
    QVERIFY2(last.code == 0 && last.out.contains(QStringLiteral("Zurückgenommen: 1, übersprungen: 0")), qPrintable(last.err + last.out));
    QCOMPARE(values(QStringLiteral("Abi05a\\a2")), QStringList{});

    // Now every user is back: one line says so, nothing is written.
    const QList<runs::RecordedRun> all = runs::listRunRecords(runsFolder(), nullptr);
    const Result again = klassomat({QStringLiteral("undo"), id});
    QCOMPARE(again.code, 0);
    QCOMPARE(again.out.trimmed(), QStringLiteral("Lauf %1 ist schon zurückgenommen, von Lauf %2, %3.")
                                      .arg(id, after.last().header.id, all.last().header.id));
    QVERIFY2(klassomat({QStringLiteral("runs")}).out.contains(QStringLiteral("zurückgenommen von %1, %2").arg(after.last().header.id, all.last().header.id)), "");
}

void CliTest::undo_refusesDoubtfulRecord_data()
{
    QTest::addColumn<QByteArray>("damage");
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("message");
    QTest::newRow("an old value edited by hand") << QByteArray("edit") << QStringLiteral("--ignore-checksum")
                                                 << QStringLiteral("Prüfsumme stimmt nicht");
    QTest::newRow("the tree now names another file") << QByteArray("server") << QStringLiteral("--allow-other-server")
                                                     << QStringLiteral("der Baum zeigt jetzt auf");
}

void CliTest::undo_refusesDoubtfulRecord()
{
    QFETCH(QByteArray, damage);
    QFETCH(QString, option);
    QFETCH(QString, message);
    QCOMPARE(klassomat({QStringLiteral("run"), QStringLiteral("--context"), QStringLiteral("Abi05a.Gym"), QStringLiteral("--form"),
                        QStringLiteral("1"), QStringLiteral("--yes")}).code, 0);
    const runs::RecordedRun record = runs::listRunRecords(runsFolder(), nullptr).first();
    if (damage == "edit") {
        QFile file(record.path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        bytes.replace("# old: alt", "# old: neu");
        file.seek(0);
        file.write(bytes);
    } else {
        QVERIFY(QFile::copy(m_dir->filePath(QStringLiteral("schule.ldif")), m_dir->filePath(QStringLiteral("kopie.ldif"))));
        fixture::write(*m_dir, "[SCHULE]\nldif=kopie.ldif\n", QStringLiteral("dirclient.ini"));
    }
    const Result refused = klassomat({QStringLiteral("undo"), record.header.id});
    QCOMPARE(refused.code, 2);
    QVERIFY2(refused.err.contains(message), qPrintable(refused.err));
    QCOMPARE(runs::listRunRecords(runsFolder(), nullptr).size(), 1); // nothing written, no undo record
    const Result forced = klassomat({QStringLiteral("undo"), record.header.id, option});
    QVERIFY2(forced.code <= 1, qPrintable(forced.err));
    QCOMPARE(runs::listRunRecords(runsFolder(), nullptr).size(), 2);
}

void CliTest::undo_recordWithoutEnd_saysSoAndTakesBackWhatItCan_data()
{
    QTest::addColumn<int>("blocksKept"); // of the record's blocks, from its start; 0: all but the last
    QTest::addColumn<QStringList>("a1");  // its values after the undo
    QTest::addColumn<QStringList>("a2");
    QTest::newRow("a killed run: the end is missing") << 0 << QStringList{"alt"} << QStringList{};
    QTest::newRow("cut after the first user") << 2 << QStringList{"alt"} << QStringList{"8a"};
}

// Every cut at a block boundary passes the sums: only the missing end tells it.
void CliTest::undo_recordWithoutEnd_saysSoAndTakesBackWhatItCan()
{
    QFETCH(int, blocksKept);
    QFETCH(QStringList, a1);
    QFETCH(QStringList, a2);
    QCOMPARE(klassomat({QStringLiteral("run"), QStringLiteral("--context"), QStringLiteral("Abi05a.Gym"), QStringLiteral("--form"),
                        QStringLiteral("1"), QStringLiteral("--yes")}).code, 0);
    const runs::RecordedRun record = runs::listRunRecords(runsFolder(), nullptr).first();
    QFile file(record.path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    const QByteArray bytes = file.readAll();
    QList<qsizetype> ends; // where each block ends
    for (qsizetype at = bytes.indexOf("\n\n"); at >= 0; at = bytes.indexOf("\n\n", at + 2))
        ends.append(at + 2);
    QVERIFY(ends.size() > 3);
    QVERIFY(file.resize(blocksKept == 0 ? ends.at(ends.size() - 2) : ends.at(blocksKept - 1)));
    file.close();
    QVERIFY(runs::readRunRecord(record.path).damage.isEmpty());

    QVERIFY(klassomat({QStringLiteral("runs")}).out.contains(QStringLiteral(", nicht zu Ende")));
    const Result undo = klassomat({QStringLiteral("undo"), record.header.id});
    QCOMPARE(undo.code, 1);
    QVERIFY2(undo.err.startsWith(QStringLiteral("Laufprotokoll %1 ist nicht zu Ende geschrieben: abgebrochen oder abgeschnitten\n").arg(record.path)),
             qPrintable(undo.err));
    QCOMPARE(values(QStringLiteral("Abi05a\\a1")), a1);
    QCOMPARE(values(QStringLiteral("Abi05a\\a2")), a2);
}

// The tree maps OU to another attribute now: undo takes back the record's.
void CliTest::undo_recordsAttribute_notTodaysMap()
{
    QCOMPARE(klassomat({QStringLiteral("run"), QStringLiteral("--context"), QStringLiteral("Abi05a.Gym"), QStringLiteral("--form"),
                        QStringLiteral("1"), QStringLiteral("--yes")}).code, 0);
    const QString first = runs::listRunRecords(runsFolder(), nullptr).first().header.id;
    fixture::write(*m_dir, "[SCHULE]\nldif=schule.ldif\nattribute.OU=description\n", QStringLiteral("dirclient.ini"));
    QCOMPARE(klassomat({QStringLiteral("run"), QStringLiteral("--context"), QStringLiteral("Abi05a.Gym"), QStringLiteral("--form"),
                        QStringLiteral("1"), QStringLiteral("--yes")}).code, 0);

    const Result undo = klassomat({QStringLiteral("undo"), first});
    QVERIFY2(undo.code == 0, qPrintable(undo.err));
    QVERIFY2(undo.err.contains(QStringLiteral("schrieb das Attribut ou; der Baum bildet OU jetzt auf description ab. "
                                              "Zurückgenommen wird ou, description bleibt, wie es ist")), qPrintable(undo.err));
    QCOMPARE(values(QStringLiteral("Abi05a\\a1")), QStringList{"alt"});
    directory::LdifTree tree(QStringLiteral("SCHULE"), m_dir->filePath(QStringLiteral("schule.ldif")), QString(), {});
    QCOMPARE(tree.values(QStringLiteral("NDS:\\\\SCHULE\\Gym\\Abi05a\\a1"), QStringLiteral("description")), QStringList{"8a"});
}

// An undo killed after sending (its record holds the changes, not their
// answers): the next one finds those users back, and the run done.
void CliTest::undo_afterKilledUndo_restoredUsersAreSchonZurueck()
{
    QCOMPARE(klassomat({QStringLiteral("run"), QStringLiteral("--context"), QStringLiteral("Abi05a.Gym"), QStringLiteral("--form"),
                        QStringLiteral("1"), QStringLiteral("--yes")}).code, 0);
    const QString id = runs::listRunRecords(runsFolder(), nullptr).first().header.id;
    QCOMPARE(klassomat({QStringLiteral("undo"), id}).code, 0);
    const runs::RecordedRun killed = runs::listRunRecords(runsFolder(), nullptr).last();
    QFile file(killed.path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    const QByteArray bytes = file.readAll();
    QVERIFY(file.resize(bytes.lastIndexOf("# sum:", bytes.indexOf("# result:")))); // the answers and the end go
    file.close();

    const Result again = klassomat({QStringLiteral("undo"), id});
    QVERIFY2(again.code == 0, qPrintable(again.err + again.out));
    QVERIFY2(again.err.contains(QStringLiteral("Nichts zu tun: NDS:\\\\SCHULE\\Gym\\Abi05a\\a1: schon zurück")), qPrintable(again.err));
    QVERIFY2(klassomat({QStringLiteral("runs")}).out.contains(QStringLiteral("zurückgenommen von")), "");
    QCOMPARE(values(QStringLiteral("Abi05a\\a1")), QStringList{"alt"});
}

void CliTest::outputsCheckedBeforeFirstWrite_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("plant"); // what sits where the runs folder goes
    const QStringList run{QStringLiteral("run"), QStringLiteral("--context"), QStringLiteral("Abi05a.Gym"), QStringLiteral("--form"),
                          QStringLiteral("0"), QStringLiteral("--yes")};
    QTest::newRow("a report into a folder") << (run + QStringList{QStringLiteral("--report"), QStringLiteral("/")})
                                            << QStringLiteral("Bericht / kann nicht geschrieben werden: / ist ein Ordner; "
                                                              "bitte den Namen einer Datei angeben") << QString();
    QTest::newRow("a report into a folder that is not there")
        << (run + QStringList{QStringLiteral("--report"), QStringLiteral("/nirgends/bericht.csv")})
        << QStringLiteral("Bericht /nirgends/bericht.csv kann nicht geschrieben werden: den Ordner /nirgends gibt es nicht") << QString();
    QTest::newRow("runs is a symbolic link") << run << QStringLiteral("runs") << QStringLiteral("link");
    QTest::newRow("runs open to everyone") << run << QStringLiteral("runs") << QStringLiteral("open");
    QTest::newRow("runs of an unknown tree") << QStringList{QStringLiteral("runs"), QStringLiteral("--tree"), QStringLiteral("NIX")}
                                             << QStringLiteral("Kein Baum NIX") << QString();
}

void CliTest::outputsCheckedBeforeFirstWrite()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QFETCH(QString, plant);
    QVERIFY(QDir().mkpath(QFileInfo(runsFolder()).path()));
    if (plant == QLatin1String("link")) {
        QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("elsewhere"))));
        QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("elsewhere")), runsFolder()));
    } else if (plant == QLatin1String("open")) {
        QVERIFY(QDir().mkpath(runsFolder()));
        QVERIFY(QFile::setPermissions(runsFolder(), QFile::Permissions(0x7777)));
    }
    const Result r = klassomat(arguments);
    QCOMPARE(r.code, 2);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
    QCOMPARE(values(QStringLiteral("Abi05a\\a1")), QStringList{"alt"});
    if (plant == QLatin1String("open"))
        QCOMPARE(QFileInfo(runsFolder()).permissions() & QFile::WriteOther, QFile::WriteOther); // never chmod-ed
}

void CliTest::previewIsWhatRunDoes_data()
{
    QTest::addColumn<QString>("form");
    for (const char *form : {"0", "1", "2", "3"})
        QTest::newRow(form) << QString::fromLatin1(form);
}

// Twin names, a missing class, several values and values in other letter
// case, over the whole tree: the changes the preview shows are the ones the
// run records, in the same order.
void CliTest::previewIsWhatRunDoes()
{
    QFETCH(QString, form);
    QFile tree(m_dir->filePath(QStringLiteral("schule.ldif")));
    QVERIFY(tree.open(QIODevice::Append));
    tree.write("\n\ndn: ou=Fall,o=Gym\nobjectClass: organizationalUnit\nou: Fall\n\n"
               "dn: cn=t,ou=Fall,o=Gym\nobjectClass: inetOrgPerson\ncn: t\nsn: T\nou: 8C\n\n"
               "dn: uid=t,ou=Fall,o=Gym\nobjectClass: inetOrgPerson\nuid: t\ncn: t2\nsn: T\n\n"
               "dn: cn=f1,ou=Fall,o=Gym\nobjectClass: inetOrgPerson\ncn: f1\nsn: F\nou: fall\nou: Bibliothek\n\n"
               "dn: cn=f2,ou=Fall,o=Gym\nobjectClass: inetOrgPerson\ncn: f2\nsn: F\nou: 8c, Fall\n");
    tree.close();
    fixture::write(*m_dir, QByteArray(kClasses) + "8c;Fall\n", QStringLiteral("Klassen.txt"));
    const QStringList common{QStringLiteral("--context"), QStringLiteral("Gym"), QStringLiteral("--subtree"), QStringLiteral("--form"),
                             form, QStringLiteral("--allow-empty-class")};
    const Result preview = klassomat(QStringList{QStringLiteral("preview"), QStringLiteral("--format"), QStringLiteral("ldif")} + common);
    QCOMPARE(preview.code, 0);
    const Result run = klassomat(QStringList{QStringLiteral("run"), QStringLiteral("--yes")} + common);
    QVERIFY2(run.code == 1, qPrintable(run.err)); // the twins are skipped
    QFile record(runs::listRunRecords(runsFolder(), nullptr).first().path);
    QVERIFY(record.open(QIODevice::ReadOnly));
    QByteArray recorded;
    for (const QByteArray &line : record.readAll().split('\n')) {
        if (!line.startsWith('#') && !line.isEmpty())
            recorded += line + '\n';
    }
    QByteArray previewed = preview.outBytes;
    previewed.replace("\n\n", "\n");
    QCOMPARE(QString::fromUtf8(recorded), QString::fromUtf8(previewed));
    QVERIFY(!recorded.isEmpty());
    QVERIFY(!recorded.contains("uid=t")); // one of the twins
}

void CliTest::multiValued_othersStay_reportListsEveryUser()
{
    const QString report = m_dir->filePath(QStringLiteral("bericht.csv"));
    const Result r = klassomat({QStringLiteral("run"), QStringLiteral("--context"), QStringLiteral("Mehr.Gym"), QStringLiteral("--form"),
                                QStringLiteral("1"), QStringLiteral("--yes"), QStringLiteral("--report"), report});
    QCOMPARE(r.code, 0);
    QCOMPARE(values(QStringLiteral("Mehr\\m1")), QStringList{"8b"});
    QCOMPARE(values(QStringLiteral("Mehr\\m2")), (QStringList{"Schueler", "8b"})); // last year's class goes, the rest stays
    QFile file(report);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 6); // header, three users, the class's sum, the empty rest after the last line end
    QVERIFY2(lines.at(4).startsWith("Summe;;Mehr;8b;Mehr → 8b: 3 Benutzer"), lines.at(4).constData());
    QVERIFY(lines.at(1).startsWith("m1.Mehr.Gym;cn=m1,ou=Mehr,o=Gym;;8b;geschrieben;"));
    QVERIFY2(lines.at(2).startsWith("m2.Mehr.Gym;cn=m2,ou=Mehr,o=Gym;Schueler | 7a;Schueler | 8b;geschrieben;"), lines.at(2).constData());

    const runs::RecordedRun record = runs::listRunRecords(runsFolder(), nullptr).first();
    QCOMPARE(record.count(runs::Outcome::Written), 3);
    QCOMPARE(record.users.at(1).before, (QStringList{"Schueler", "7a"}));
}

void CliTest::missingOrEmptyClass_eachCommand_data()
{
    QTest::addColumn<QByteArray>("line"); // added to the class list
    QTest::addColumn<QString>("form");
    QTest::addColumn<bool>("allowed");
    QTest::addColumn<QString>("checked");  // what check says of Bwl07c
    QTest::addColumn<QString>("previewed"); // b1's values and verdict
    QTest::addColumn<int>("runCode");
    QTest::addColumn<QStringList>("after");
    const QString missing = QStringLiteral("  Bwl07c.Gym (1 Benutzer)");
    const QString empty = QStringLiteral("  Bwl07c.Gym -> Zeile 5: ;Bwl07c");
    QTest::newRow("missing, form 1: refused") << QByteArray() << "1" << false << missing
                                              << "alt -> (leer)  [Klasse fehlt in der Klassenliste]" << 2 << QStringList{"alt"};
    QTest::newRow("missing, form 2: refused") << QByteArray() << "2" << false << missing
                                              << "alt -> , Bwl07c  [Klasse fehlt in der Klassenliste]" << 2 << QStringList{"alt"};
    QTest::newRow("missing, form 1, allowed") << QByteArray() << "1" << true << missing
                                              << "alt -> (leer)  [Klasse fehlt in der Klassenliste – löscht den Wert]" << 0 << QStringList{};
    QTest::newRow("empty on purpose, form 1") << QByteArray(";Bwl07c\n") << "1" << false << empty
                                              << "alt -> (leer)  [löscht den Wert]" << 0 << QStringList{};
    QTest::newRow("empty on purpose, form 2") << QByteArray(";Bwl07c\n") << "2" << false << empty
                                              << "alt -> , Bwl07c  [ändern]" << 0 << QStringList{", Bwl07c"};
    QTest::newRow("empty on purpose, form 3") << QByteArray(";Bwl07c\n") << "3" << false << empty
                                              << "alt -> Bwl07c,   [ändern]" << 0 << QStringList{"Bwl07c, "};
}

// A class that no line names is missing; one that its line leaves empty
// (";Bwl07c") is empty on purpose, and check, preview and run agree on which.
void CliTest::missingOrEmptyClass_eachCommand()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, form);
    QFETCH(bool, allowed);
    QFETCH(QString, checked);
    QFETCH(QString, previewed);
    QFETCH(int, runCode);
    QFETCH(QStringList, after);
    fixture::write(*m_dir, kClasses + line, QStringLiteral("Klassen.txt"));
    QVERIFY2(klassomat({QStringLiteral("check")}).out.contains(checked + QLatin1Char('\n')), qPrintable(checked));
    QStringList args{QStringLiteral("--context"), QStringLiteral("Bwl07c.Gym"), QStringLiteral("--form"), form};
    if (allowed)
        args << QStringLiteral("--allow-empty-class");
    const Result preview = klassomat(QStringList{QStringLiteral("preview")} + args);
    QVERIFY2(preview.out.contains(previewed), qPrintable(preview.out));
    const Result run = klassomat(QStringList{QStringLiteral("run"), QStringLiteral("--yes")} + args);
    QCOMPARE(run.code, runCode);
    QCOMPARE(values(QStringLiteral("Bwl07c\\b1")), after);
}

void CliTest::classListFile_saidBeforeAnythingIsWritten_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("kind"); // what stands at the class list's place
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("said"); // %1: the class list's path
    const QString nul = QStringLiteral("In Zeile 2 der Klassenliste %1 steht ein NUL-Zeichen: dort endet die Liste, was folgt (6 Bytes), wird nicht gelesen.");
    const QString fifo = QStringLiteral("Datei %1 kann nicht geöffnet werden: dort steht eine Pipe (FIFO), keine gewöhnliche Datei");
    QTest::newRow("check, text after a NUL") << "check" << "nul" << 1 << nul;
    QTest::newRow("preview, text after a NUL") << "preview" << "nul" << 0 << nul;
    QTest::newRow("check, a FIFO") << "check" << "fifo" << 2 << fifo;
    QTest::newRow("preview, a FIFO") << "preview" << "fifo" << 2 << fifo;
    QTest::newRow("run, a FIFO") << "run" << "fifo" << 2 << fifo;
}

void CliTest::classListFile_saidBeforeAnythingIsWritten()
{
    QFETCH(QString, command);
    QFETCH(QString, kind);
    QFETCH(int, code);
    QFETCH(QString, said);
    const QString path = m_dir->filePath(QStringLiteral("liste"));
    if (kind == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0); // nobody writes to it: reading would wait for ever
    else
        fixture::write(*m_dir, QByteArray("8a;Abi05a\n\0" "9d;Ab\n", 17), QStringLiteral("liste"));
    QStringList args{command, QStringLiteral("--classes"), path};
    if (command != QLatin1String("check"))
        args << QStringLiteral("--context") << QStringLiteral("Abi05a.Gym") << QStringLiteral("--form") << QStringLiteral("1");
    if (command == QLatin1String("run"))
        args << QStringLiteral("--yes");
    const Result r = klassomat(args);
    QCOMPARE(r.code, code);
    QVERIFY2((r.out + r.err).contains(said.arg(path)), qPrintable(r.out + r.err));
    QCOMPARE(values(QStringLiteral("Abi05a\\a1")), QStringList{"alt"});
}

QTEST_GUILESS_MAIN(CliTest)
#include "test_cli.moc"
