// klassomat on the command line against a real slapd on loopback: run, runs,
// undo, the values read back by ldapsearch, a later change that survives the
// undo, and a run stopped by a write the server refuses.
#include "directory/client.h"
#include "runs/run_record.h"
#include "support/klassomat_process.h"
#include "support/slapd_server.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QThread>
#include <QtTest>

#include <csignal>

namespace {

const QString kSuffix = QStringLiteral("dc=schule,dc=test");

QByteArray user(const QByteArray &cn, const QByteArray &unit, const QByteArray &values, bool full = true)
{
    // A bare person may hold no ou: the server refuses to write one.
    return "dn: cn=" + cn + ",ou=" + unit + ",o=Gym,dc=schule,dc=test\nobjectClass: person\n"
           + (full ? "objectClass: organizationalPerson\nobjectClass: inetOrgPerson\n" : "") + "cn: " + cn + "\nsn: S\n" + values + "\n";
}

} // namespace

class CliLdapTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void run_runs_undo_valuesBackByLdapsearch();
    void refusedWrite_stopsAndRecordsExactlyWhatWasWritten();
    void references_warnedAndListed();
    void thousandsInOneCall_allAnswered();
    void stalledServer_unconfirmedThenTakenBackByValues();
    void undo_judgesBaseEntryIdentity_data();
    void undo_judgesBaseEntryIdentity();
    void undo_findsRenamedAndMovedUsersByIdentity();
    void serverGoneBeforeWriting_usersNamedNotDone();
    void undo_sameDirectorySpelledOtherwise_data();
    void undo_sameDirectorySpelledOtherwise();
    void ctrlC_endsRunWithSummaryAndRecord();
    void contextWithEqualsSign_decidedByWhatExists_data();
    void contextWithEqualsSign_decidedByWhatExists();
    void noUsers_saysWhatTheContainerHolds_data();
    void noUsers_saysWhatTheContainerHolds();

private:
    Result klassomat(const QStringList &arguments);
    // A server of its own, holding ou=Klasse,o=Gym with `users`, that the
    // tree LDAP names (over its ldapi socket) until the guard ends.
    std::unique_ptr<SlapdServer> ownServer(const QTemporaryDir &dir, const QByteArray &users);
    QScopeGuard<std::function<void()>> pointTreeAt(const SlapdServer &server);
    QString ldapsearch(const QString &base, const QString &attribute, const QString &uri = {});
    void ldapmodify(const QByteArray &ldif, const QString &uri = {});
    [[nodiscard]] QString runsFolder() const { return m_dir.filePath(QStringLiteral("data/klassomat/runs")); }

    QTemporaryDir m_dir;
    QString m_uri;
};

void CliLdapTest::initTestCase()
{
    QByteArray data = "dn: dc=schule,dc=test\nobjectClass: dcObject\nobjectClass: organization\no: Schule\ndc: schule\n\n"
                      "dn: o=Gym,dc=schule,dc=test\nobjectClass: organization\no: Gym\n\n";
    for (const char *unit : {"Klasse", "Stopp", "Viele", "Stau", "Verweise"})
        data += "dn: ou=" + QByteArray(unit) + ",o=Gym,dc=schule,dc=test\nobjectClass: organizationalUnit\nou: " + unit + "\n\n";
    data += user("k1", "Klasse", "ou: alt\n") + user("k2", "Klasse", "") + user("k3", "Klasse", "ou: x\n")
            + user("k4", "Klasse", "ou: Schueler\nou: 7a\n");
    for (int i = 0; i < 3000; ++i)
        data += user("v" + QByteArray::number(i), "Viele", "");
    for (int i = 0; i < 3000; ++i)
        data += user("w" + QByteArray::number(i), "Stau", "");
    // A class held by another server, and a DNS zone as Active Directory refers to it.
    data += user("r1", "Verweise", "")
            + "dn: ou=Fern,ou=Verweise,o=Gym,dc=schule,dc=test\nobjectClass: referral\nobjectClass: extensibleObject\nou: Fern\n"
              "ref: ldap://anderer.test/ou=Fern,ou=Verweise,o=Gym,dc=schule,dc=test\n\n"
              "dn: dc=DomainDnsZones,ou=Verweise,o=Gym,dc=schule,dc=test\nobjectClass: referral\nobjectClass: extensibleObject\n"
              "dc: DomainDnsZones\nref: ldap://schule.test/DC=DomainDnsZones,DC=schule,DC=test\n\n";
    data += user("s1", "Stopp", "ou: alt\n") + user("s2", "Stopp", "") + user("s3", "Stopp", "", false) + user("s4", "Stopp", "");
    QFile file(m_dir.filePath(QStringLiteral("data.ldif")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(data);
    file.close();

    QProcess script;
    script.start(QStringLiteral("bash"), {QStringLiteral(KLASSOMAT_SLAPD_SCRIPT), QStringLiteral("start"),
                                          m_dir.filePath(QStringLiteral("slapd")), file.fileName()});
    QVERIFY(script.waitForFinished(60000));
    QVERIFY2(script.exitCode() == 0, script.readAllStandardError().constData());
    m_uri = QString::fromUtf8(script.readAllStandardOutput()).trimmed().split(QLatin1Char(' ')).first();

    QFile password(m_dir.filePath(QStringLiteral("pw")));
    QVERIFY(password.open(QIODevice::WriteOnly));
    password.write("geheim");
    password.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    password.close();
    QFile ini(m_dir.filePath(QStringLiteral("dirclient.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(QStringLiteral("[LDAP]\nuri=%1\nbase=%2\nbind=simple\nbinddn=cn=admin,%2\npasswordfile=pw\nclass.User=person\n")
                  .arg(m_uri, kSuffix).toUtf8());
    ini.close();
    QFile classes(m_dir.filePath(QStringLiteral("Klassen.txt")));
    QVERIFY(classes.open(QIODevice::WriteOnly));
    classes.write("8a;Klasse\n7a;Vorjahr\n9s;Stau\n");
}

void CliLdapTest::cleanupTestCase()
{
    QProcess::execute(QStringLiteral("bash"), {QStringLiteral(KLASSOMAT_SLAPD_SCRIPT), QStringLiteral("stop"), m_dir.filePath(QStringLiteral("slapd"))});
}

Result CliLdapTest::klassomat(const QStringList &arguments)
{
    return runKlassomat(arguments, commandEnvironment(m_dir.path()), 60000);
}

QString CliLdapTest::ldapsearch(const QString &base, const QString &attribute, const QString &uri)
{
    QProcess process;
    process.start(QStringLiteral("ldapsearch"), {QStringLiteral("-x"), QStringLiteral("-LLL"), QStringLiteral("-H"), uri.isEmpty() ? m_uri : uri,
                                                 QStringLiteral("-D"), QStringLiteral("cn=admin,") + kSuffix, QStringLiteral("-w"),
                                                 QStringLiteral("geheim"), QStringLiteral("-S"), QStringLiteral("cn"), QStringLiteral("-b"),
                                                 base + QLatin1Char(',') + kSuffix, QStringLiteral("(cn=*)"), attribute});
    process.waitForFinished(30000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

void CliLdapTest::ldapmodify(const QByteArray &ldif, const QString &uri)
{
    QProcess process;
    process.start(QStringLiteral("ldapmodify"), {QStringLiteral("-x"), QStringLiteral("-H"), uri.isEmpty() ? m_uri : uri, QStringLiteral("-D"),
                                                 QStringLiteral("cn=admin,") + kSuffix, QStringLiteral("-w"), QStringLiteral("geheim")});
    process.write(ldif);
    process.closeWriteChannel();
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 0);
}

void CliLdapTest::run_runs_undo_valuesBackByLdapsearch()
{
    const QString before = ldapsearch(QStringLiteral("ou=Klasse,o=Gym"), QStringLiteral("ou"));
    const QString classes = m_dir.filePath(QStringLiteral("Klassen.txt"));
    const Result run = klassomat({QStringLiteral("run"), QStringLiteral("--context"), QStringLiteral("ou=Klasse,o=Gym,") + kSuffix,
                                  QStringLiteral("--form"), QStringLiteral("1"), QStringLiteral("--classes"), classes, QStringLiteral("--yes")});
    QVERIFY2(run.code == 0, qPrintable(run.err));
    const QString written = ldapsearch(QStringLiteral("ou=Klasse,o=Gym"), QStringLiteral("ou"));
    QCOMPARE(written.count(QStringLiteral("ou: 8a\n")), 4);
    QVERIFY(written.contains(QStringLiteral("cn=k4,ou=Klasse,o=Gym,dc=schule,dc=test\nou: Schueler\nou: 8a\n"))); // last year's class replaced, the rest kept

    const QList<runs::RecordedRun> records = runs::listRunRecords(runsFolder(), nullptr);
    QCOMPARE(records.size(), 1);
    const runs::RecordedRun &record = records.first();
    QCOMPARE(record.header.server, m_uri);
    QCOMPARE(record.count(runs::Outcome::Written), 4);
    const Result list = klassomat({QStringLiteral("runs"), QStringLiteral("--tree"), QStringLiteral("LDAP")});
    QVERIFY2(list.out.contains(record.header.id + QLatin1Char('\t')) && list.out.contains(QStringLiteral("\tKlasse.Gym\tForm 1\t")), qPrintable(list.out));

    // The record is what ldapmodify applies: undo it by its own LDIF after a
    // dry run, then do the real undo after someone else changed k3.
    const Result dry = klassomat({QStringLiteral("undo"), record.header.id, QStringLiteral("--dry-run")});
    QVERIFY2(dry.out.contains(QStringLiteral("Zurückzunehmen: 4, übersprungen: 0")), qPrintable(dry.out));
    ldapmodify("dn: cn=k3,ou=Klasse,o=Gym,dc=schule,dc=test\nchangetype: modify\nreplace: ou\nou: fremd\n-\n");
    const Result undo = klassomat({QStringLiteral("undo"), record.header.id});
    QCOMPARE(undo.code, 1);
    QVERIFY2(undo.err.contains(QStringLiteral("Übersprungen: NDS:\\\\LDAP\\Gym\\Klasse\\k3: seit dem Lauf geändert, jetzt: fremd")), qPrintable(undo.err));
    QString expected = before;
    expected.replace(QStringLiteral("ou: x\n"), QStringLiteral("ou: fremd\n"));
    QCOMPARE(ldapsearch(QStringLiteral("ou=Klasse,o=Gym"), QStringLiteral("ou")), expected);
}

void CliLdapTest::refusedWrite_stopsAndRecordsExactlyWhatWasWritten()
{
    QDir(runsFolder()).removeRecursively();
    const Result r = klassomat({QStringLiteral("run"), QStringLiteral("--context"), QStringLiteral("Stopp.Gym"),
                                QStringLiteral("--form"), QStringLiteral("0"), QStringLiteral("--yes")});
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains(QStringLiteral("Abgelehnt: ")) && r.err.count(QStringLiteral("Stopp\\s3")) == 1, qPrintable(r.err));
    QVERIFY2(r.err.contains(QStringLiteral("Objektklasse des Benutzers erlaubt das Attribut nicht")), qPrintable(r.err)); // the hint to 65
    // The batch was in flight when s3 was refused, so s4 was stored too; the
    // record says exactly which ones the directory holds.
    const QString now = ldapsearch(QStringLiteral("ou=Stopp,o=Gym"), QStringLiteral("ou"));
    const runs::RecordedRun record = runs::listRunRecords(runsFolder(), nullptr).first();
    QCOMPARE(record.users.size(), 4);
    for (const runs::RecordedUser &u : record.users) {
        const bool stored = now.contains(u.dn + QStringLiteral("\nou: Stopp\n"));
        QVERIFY2(stored == (u.outcome == runs::Outcome::Written), qPrintable(u.dn));
    }
    QCOMPARE(record.users.at(2).outcome, runs::Outcome::Refused);
    QVERIFY2(record.users.at(2).message.contains(QStringLiteral("'ou' not allowed")), qPrintable(record.users.at(2).message));
    QCOMPARE(record.users.at(0).before, QStringList{"alt"});
}

void CliLdapTest::references_warnedAndListed()
{
    const Result preview = klassomat({QStringLiteral("preview"), QStringLiteral("--context"), QStringLiteral("Verweise.Gym"),
                                      QStringLiteral("--form"), QStringLiteral("0")});
    QVERIFY2(preview.code == 1, qPrintable(preview.err));
    QVERIFY2(preview.out.contains(QStringLiteral("r1")), qPrintable(preview.out));
    QVERIFY2(preview.err.contains(QStringLiteral("Warnung")) && preview.err.contains(QStringLiteral("ldap://anderer.test/ou=Fern"))
                 && !preview.err.contains(QStringLiteral("DomainDnsZones")),
             qPrintable(preview.err));
    const Result check = klassomat({QStringLiteral("check")});
    QVERIFY2(check.out.contains(QStringLiteral("ldap://anderer.test/ou=Fern"))
                 && check.out.contains(QRegularExpression(QStringLiteral("DomainDnsZones.* \\(enthält keine Benutzer\\)\n")))
                 && check.out.count(QStringLiteral("anderer.test")) == 1,
             qPrintable(check.out));
}

void CliLdapTest::thousandsInOneCall_allAnswered()
{
    // Changes are sent while answers come in: a connection that only wrote
    // filled the sockets, and libldap failed them all as "Can't contact".
    qputenv("DIRCLIENT_CONFIG", m_dir.filePath(QStringLiteral("dirclient.ini")).toUtf8());
    const auto unset = qScopeGuard([] { qunsetenv("DIRCLIENT_CONFIG"); });
    directory::Client client;
    directory::Tree &tree = client.tree(QStringLiteral("LDAP"));
    bool searched = false;
    QList<directory::ValueChange> changes;
    tree.search(QStringLiteral("NDS:\\\\LDAP\\Gym\\Viele"), QStringLiteral("User"), directory::Scope::OneLevel, QStringLiteral("OU"),
                [&](const directory::Found &found, std::exception_ptr) {
                    for (const directory::FoundObject &object : found)
                        changes.append({object.fullName, QStringLiteral("OU"), object.values, {QStringLiteral("Viele")}});
                    searched = true;
                });
    QTRY_VERIFY_WITH_TIMEOUT(searched, 30000);
    QCOMPARE(changes.size(), 3000);
    int stored = 0;
    QElapsedTimer clock;
    clock.start();
    tree.storeChanges(changes, [&](qsizetype, std::exception_ptr failure) {
        stored += failure ? 0 : 1;
        return true;
    });
    QCOMPARE(stored, 3000);
    // A reader told to sleep until more answers than were still to come had
    // arrived woke only at the deadline (10 s), and then took them all.
    QVERIFY2(clock.elapsed() < 10000, "the stores waited for their deadline");
    QCOMPARE(ldapsearch(QStringLiteral("ou=Viele,o=Gym"), QStringLiteral("ou")).count(QStringLiteral("ou: Viele\n")), 3000);
}

// The server stops answering while changes are in flight, and later stores
// them: none of them may count as refused, each says which user it was, and
// undo takes back exactly those that the server kept.
void CliLdapTest::stalledServer_unconfirmedThenTakenBackByValues()
{
    QDir(runsFolder()).removeRecursively();
    QFile ini(m_dir.filePath(QStringLiteral("dirclient.ini")));
    QVERIFY(ini.open(QIODevice::ReadWrite | QIODevice::Append));
    const qint64 size = ini.size();
    ini.write("timeout=2\n");
    ini.close();
    const auto restore = qScopeGuard([&] { ini.resize(size); });
    QFile pidFile(m_dir.filePath(QStringLiteral("slapd/slapd.pid")));
    QVERIFY(pidFile.open(QIODevice::ReadOnly));
    const pid_t slapd = static_cast<pid_t>(pidFile.readAll().trimmed().toInt());
    QVERIFY(slapd > 0);

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DIRCLIENT_CONFIG"), ini.fileName());
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("data")));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(KLASSOMAT_EXECUTABLE), {QStringLiteral("run"), QStringLiteral("--context"), QStringLiteral("Stau.Gym"),
                                                         QStringLiteral("--form"), QStringLiteral("1"), QStringLiteral("--yes"),
                                                         QStringLiteral("--classes"), m_dir.filePath(QStringLiteral("Klassen.txt"))});
    // The record opens after the search, right before the first batch goes out.
    QElapsedTimer waited;
    waited.start();
    while (QDir(runsFolder()).isEmpty() && waited.elapsed() < 30000)
        QThread::usleep(200);
    QCOMPARE(::kill(slapd, SIGSTOP), 0);
    QThread::sleep(4);
    QCOMPARE(::kill(slapd, SIGCONT), 0);
    QVERIFY(process.waitForFinished(60000));
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QCOMPARE(process.exitCode(), 2);

    const runs::RecordedRun record = runs::listRunRecords(runsFolder(), nullptr).first();
    QCOMPARE(record.count(runs::Outcome::Refused), 0);
    QVERIFY2(record.count(runs::Outcome::Unconfirmed) > 0, qPrintable(err));
    for (const runs::RecordedUser &u : record.users) {
        if (u.outcome == runs::Outcome::Unconfirmed)
            QVERIFY2(u.message.contains(u.fullName + QLatin1Char(' ')), qPrintable(u.message)); // its own user
    }
    QVERIFY(err.contains(QStringLiteral("Unbestätigt: ")));

    const Result undo = klassomat({QStringLiteral("undo"), record.header.id});
    QVERIFY2(undo.code == 0, qPrintable(undo.err + undo.out));
    QCOMPARE(ldapsearch(QStringLiteral("ou=Stau,o=Gym"), QStringLiteral("ou")).count(QStringLiteral("ou: ")), 0);
}

void CliLdapTest::undo_judgesBaseEntryIdentity_data()
{
    QTest::addColumn<bool>("madeAnew");
    QTest::newRow("same server restarted") << false;
    QTest::newRow("same address and DNs, loaded anew") << true;
}

// The server's address (its ldapi socket) and the DNs stay; only a new load
// tells the directories apart, by the base entry's entryUUID.
void CliLdapTest::undo_judgesBaseEntryIdentity()
{
    QFETCH(bool, madeAnew);
    const QTemporaryDir dir;
    const std::unique_ptr<SlapdServer> owned = ownServer(dir, user("k1", "Klasse", "ou: alt\n"));
    QVERIFY(owned);
    SlapdServer &server = *owned;
    const auto restore = pointTreeAt(server);
    QDir(runsFolder()).removeRecursively();

    QCOMPARE(klassomat({QStringLiteral("run"), QStringLiteral("--context"), QStringLiteral("Klasse.Gym"), QStringLiteral("--form"),
                        QStringLiteral("1"), QStringLiteral("--classes"), m_dir.filePath(QStringLiteral("Klassen.txt")),
                        QStringLiteral("--yes")}).code, 0);
    const runs::RecordedRun record = runs::listRunRecords(runsFolder(), nullptr).first();
    QVERIFY2(record.header.identity.startsWith(QLatin1String("entryUUID=")), qPrintable(record.header.identity));

    server.stop();
    if (madeAnew)
        QVERIFY(QFile::remove(server.dir() + QStringLiteral("/db/data.mdb")));
    QVERIFY2(server.start(), qPrintable(server.error()));
    const Result undo = klassomat({QStringLiteral("undo"), record.header.id});
    if (!madeAnew) {
        QVERIFY2(undo.code == 0, qPrintable(undo.err));
        return;
    }
    QCOMPARE(undo.code, 2);
    QVERIFY2(undo.err.contains(QStringLiteral("(%1, %2); der Baum zeigt jetzt auf").arg(kSuffix, record.header.identity)), qPrintable(undo.err));
    QCOMPARE(runs::listRunRecords(runsFolder(), nullptr).size(), 1); // nothing written
    const Result forced = klassomat({QStringLiteral("undo"), record.header.id, QStringLiteral("--allow-other-server")});
    QVERIFY2(forced.code <= 1 && forced.err.contains(QStringLiteral("der Baum zeigt jetzt auf")), qPrintable(forced.err));
    QCOMPARE(runs::listRunRecords(runsFolder(), nullptr).size(), 2);
}

// The server goes while the run pauses before its first write: the users
// left as they were are named, and the run does not end as done.
void CliLdapTest::serverGoneBeforeWriting_usersNamedNotDone()
{
    const QTemporaryDir dir;
    const std::unique_ptr<SlapdServer> server = ownServer(dir, user("g1", "Klasse", "") + user("g2", "Klasse", ""));
    QVERIFY(server);
    const auto restore = pointTreeAt(*server);
    QDir(runsFolder()).removeRecursively();
    QProcess process;
    process.setProcessEnvironment(commandEnvironment(m_dir.path()));
    process.start(QStringLiteral(KLASSOMAT_EXECUTABLE), {QStringLiteral("run"), QStringLiteral("--context"), QStringLiteral("Klasse.Gym"),
                                                         QStringLiteral("--form"), QStringLiteral("1"), QStringLiteral("--yes"),
                                                         QStringLiteral("--pause"), QStringLiteral("3000"), QStringLiteral("--classes"),
                                                         m_dir.filePath(QStringLiteral("Klassen.txt"))});
    QTRY_VERIFY_WITH_TIMEOUT(!QDir(runsFolder()).isEmpty(), 30000); // the record opens right before the first pause
    server->stop();
    QVERIFY(process.waitForFinished(60000));
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(process.exitCode() == 1 && err.contains(QStringLiteral("Nicht versucht: ")), qPrintable(err));
    QVERIFY2(err.contains(QStringLiteral("nicht gesendet")), qPrintable(err));
}

void CliLdapTest::undo_sameDirectorySpelledOtherwise_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("base");
    QTest::newRow("localhost for 127.0.0.1") << QStringLiteral("localhost") << kSuffix;
    QTest::newRow("the base in capitals") << QStringLiteral("127.0.0.1") << QStringLiteral("DC=Schule,DC=test");
}

// The base entry's identity tells the directory, however its URI or base is spelled.
void CliLdapTest::undo_sameDirectorySpelledOtherwise()
{
    QFETCH(QString, host);
    QFETCH(QString, base);
    const QTemporaryDir dir;
    const std::unique_ptr<SlapdServer> server = ownServer(dir, user("k1", "Klasse", "ou: alt\n"));
    QVERIFY(server);
    const auto restore = pointTreeAt(*server);
    QDir(runsFolder()).removeRecursively();
    const auto pointAt = [&](const QString &uri, const QString &baseDn) {
        QFile ini(m_dir.filePath(QStringLiteral("dirclient.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[LDAP]\nuri=%1\nbase=%2\nbind=simple\nbinddn=cn=admin,%3\npasswordfile=pw\nclass.User=person\n")
                      .arg(uri, baseDn, kSuffix).toUtf8());
    };
    pointAt(server->uri(), kSuffix);
    QCOMPARE(klassomat({QStringLiteral("run"), QStringLiteral("--context"), QStringLiteral("Klasse.Gym"), QStringLiteral("--form"),
                        QStringLiteral("1"), QStringLiteral("--classes"), m_dir.filePath(QStringLiteral("Klassen.txt")),
                        QStringLiteral("--yes")}).code, 0);
    const runs::RecordedRun record = runs::listRunRecords(runsFolder(), nullptr).first();

    const QString uri = QString(server->uri()).replace(QStringLiteral("127.0.0.1"), host);
    pointAt(uri, base);
    const Result undo = klassomat({QStringLiteral("undo"), record.header.id});
    QVERIFY2(undo.code == 0, qPrintable(undo.err + undo.out));
    if (uri != server->uri())
        QVERIFY2(undo.err.contains(QStringLiteral("zurückgenommen wird auf %1").arg(uri)), qPrintable(undo.err));
    QCOMPARE(ldapsearch(QStringLiteral("ou=Klasse,o=Gym"), QStringLiteral("ou"), server->uri()),
             QStringLiteral("dn: cn=k1,ou=Klasse,o=Gym,dc=schule,dc=test\nou: alt\n\n"));
}

void CliLdapTest::ctrlC_endsRunWithSummaryAndRecord()
{
    const QTemporaryDir dir;
    const std::unique_ptr<SlapdServer> server = ownServer(dir, user("c1", "Klasse", "") + user("c2", "Klasse", ""));
    QVERIFY(server);
    const auto restore = pointTreeAt(*server);
    QDir(runsFolder()).removeRecursively();
    QProcess process;
    process.setProcessEnvironment(commandEnvironment(m_dir.path()));
    process.start(QStringLiteral(KLASSOMAT_EXECUTABLE), {QStringLiteral("run"), QStringLiteral("--context"), QStringLiteral("Klasse.Gym"),
                                                         QStringLiteral("--form"), QStringLiteral("0"), QStringLiteral("--yes"),
                                                         QStringLiteral("--pause"), QStringLiteral("3000")});
    QTRY_VERIFY_WITH_TIMEOUT(!QDir(runsFolder()).isEmpty(), 30000); // the record opens right before the first pause
    QCOMPARE(::kill(static_cast<pid_t>(process.processId()), SIGINT), 0);
    QVERIFY(process.waitForFinished(60000));
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == 130 && err.contains(QStringLiteral("abgebrochen (Strg+C)")), qPrintable(err));
    QVERIFY2(out.contains(QStringLiteral("Laufprotokoll: ")) && out.contains(QStringLiteral("nicht versucht: 2")), qPrintable(out));
    const QString listed = klassomat({QStringLiteral("runs")}).out;
    QVERIFY2(listed.contains(QStringLiteral("abgebrochen, nicht versucht: 2")), qPrintable(listed));
}

void CliLdapTest::contextWithEqualsSign_decidedByWhatExists_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("said"); // on stdout for 0, else on stderr
    QTest::newRow("a class named x=y") << "x=y.Gym" << 0 << "e1";
    QTest::newRow("a DN") << "ou=Klasse,o=Gym,dc=schule,dc=test" << 0 << "c1";
    QTest::newRow("a DN and a dotted name, both there") << "o=Gym" << 2 << "mehrdeutig";
    QTest::newRow("neither") << "ou=Fehlt,o=Gym" << 2 << "nicht zu finden";
}

void CliLdapTest::contextWithEqualsSign_decidedByWhatExists()
{
    QFETCH(QString, context);
    QFETCH(int, code);
    QFETCH(QString, said);
    const QTemporaryDir dir;
    const std::unique_ptr<SlapdServer> server = ownServer(
        dir, user("c1", "Klasse", "") + "dn: ou=x\\3Dy,o=Gym,dc=schule,dc=test\nobjectClass: organizationalUnit\nou: x=y\n\n"
                 + "dn: cn=e1,ou=x\\3Dy,o=Gym,dc=schule,dc=test\nobjectClass: inetOrgPerson\ncn: e1\nsn: S\n\n"
                 + "dn: ou=o\\3DGym,dc=schule,dc=test\nobjectClass: organizationalUnit\nou: o=Gym\n\n");
    QVERIFY(server);
    const auto restore = pointTreeAt(*server);
    const Result result = klassomat({QStringLiteral("preview"), QStringLiteral("--context"), context, QStringLiteral("--form"), QStringLiteral("0"),
                                     QStringLiteral("--subtree")});
    QVERIFY2(result.code == code && (code == 0 ? result.out : result.err).contains(said), qPrintable(result.out + result.err));
}

void CliLdapTest::noUsers_saysWhatTheContainerHolds_data()
{
    QTest::addColumn<QByteArray>("entries"); // in ou=Leer,o=Gym
    QTest::addColumn<QStringList>("said");
    QTest::addColumn<bool>("asksForClassMap");
    QTest::newRow("only groups") << QByteArray("dn: cn=g,ou=Leer,o=Gym,dc=schule,dc=test\nobjectClass: groupOfNames\ncn: g\nmember: cn=g\n\n")
                                 << QStringList{"Leer.Gym enthält nur: Group (1)"} << false;
    QTest::newRow("objects of a class the map does not know")
        << QByteArray("dn: cn=d,ou=Leer,o=Gym,dc=schule,dc=test\nobjectClass: device\ncn: d\n\n") << QStringList{"device (1)"} << true;
    // As Active Directory keeps computers: of the user class, left out by the filter.
    QTest::newRow("users the filter leaves out")
        << QByteArray("dn: cn=pc,ou=Leer,o=Gym,dc=schule,dc=test\nobjectClass: person\nobjectClass: organizationalPerson\nobjectClass: inetOrgPerson\ncn: pc\nsn: S\ndescription: Rechner\n\n")
        << QStringList{"filter.User auslässt", "User (1)"} << false;
    QTest::newRow("only containers: the users may be below them")
        << QByteArray("dn: ou=Unten,ou=Leer,o=Gym,dc=schule,dc=test\nobjectClass: organizationalUnit\nou: Unten\n\n") << QStringList{} << true;
}

void CliLdapTest::noUsers_saysWhatTheContainerHolds()
{
    QFETCH(QByteArray, entries);
    QFETCH(QStringList, said);
    QFETCH(bool, asksForClassMap);
    const QTemporaryDir dir;
    const std::unique_ptr<SlapdServer> server
        = ownServer(dir, "dn: ou=Leer,o=Gym,dc=schule,dc=test\nobjectClass: organizationalUnit\nou: Leer\n\n" + entries);
    QVERIFY(server);
    const auto restore = pointTreeAt(*server);
    QFile ini(m_dir.filePath(QStringLiteral("dirclient.ini")));
    QVERIFY(ini.open(QIODevice::Append));
    ini.write("filter.User=(&(objectClass=inetOrgPerson)(!(description=Rechner)))\n");
    ini.close();
    const Result result = klassomat({QStringLiteral("preview"), QStringLiteral("--context"), QStringLiteral("Leer.Gym"), QStringLiteral("--form"),
                                     QStringLiteral("0")});
    QCOMPARE(result.code, 0);
    for (const QString &words : said)
        QVERIFY2(result.err.contains(words), qPrintable(result.err));
    QCOMPARE(result.err.contains(QStringLiteral("passt class.User zum Server?")), asksForClassMap);
}

void CliLdapTest::undo_findsRenamedAndMovedUsersByIdentity()
{
    const QTemporaryDir dir;
    const std::unique_ptr<SlapdServer> server = ownServer(dir, user("k1", "Klasse", "ou: alt\n") + user("k2", "Klasse", "ou: alt\n"));
    QVERIFY(server);
    const auto restore = pointTreeAt(*server);
    QDir(runsFolder()).removeRecursively();
    QCOMPARE(klassomat({QStringLiteral("run"), QStringLiteral("--context"), QStringLiteral("Klasse.Gym"), QStringLiteral("--form"),
                        QStringLiteral("1"), QStringLiteral("--classes"), m_dir.filePath(QStringLiteral("Klassen.txt")),
                        QStringLiteral("--yes")}).code, 0);
    const runs::RecordedRun record = runs::listRunRecords(runsFolder(), nullptr).first();
    QVERIFY2(record.users.first().identity.startsWith(QLatin1String("entryUUID=")), qPrintable(record.users.first().identity));

    ldapmodify("dn: cn=k1,ou=Klasse,o=Gym," + kSuffix.toUtf8() + "\nchangetype: modrdn\nnewrdn: cn=k9\ndeleteoldrdn: 1\n\n"
               "dn: cn=k2,ou=Klasse,o=Gym," + kSuffix.toUtf8() + "\nchangetype: modrdn\nnewrdn: cn=k2\ndeleteoldrdn: 1\n"
               "newsuperior: o=Gym," + kSuffix.toUtf8() + "\n\n", server->uri());
    const Result undo = klassomat({QStringLiteral("undo"), record.header.id});
    QVERIFY2(undo.code == 0, qPrintable(undo.err + undo.out));
    QVERIFY2(undo.err.contains(QStringLiteral("umbenannt oder verschoben, war cn=k1,ou=Klasse,o=Gym,%1").arg(kSuffix)), qPrintable(undo.err));
    QCOMPARE(ldapsearch(QStringLiteral("o=Gym"), QStringLiteral("ou"), server->uri()),
             QStringLiteral("dn: cn=k2,o=Gym,dc=schule,dc=test\nou: alt\n\ndn: cn=k9,ou=Klasse,o=Gym,dc=schule,dc=test\nou: alt\n\n"));
}

std::unique_ptr<SlapdServer> CliLdapTest::ownServer(const QTemporaryDir &dir, const QByteArray &users)
{
    const QString data = dir.filePath(QStringLiteral("data.ldif"));
    QFile file(data);
    if (!file.open(QIODevice::WriteOnly))
        return nullptr;
    file.write("dn: dc=schule,dc=test\nobjectClass: dcObject\nobjectClass: organization\no: Schule\ndc: schule\n\n"
               "dn: o=Gym,dc=schule,dc=test\nobjectClass: organization\no: Gym\n\n"
               "dn: ou=Klasse,o=Gym,dc=schule,dc=test\nobjectClass: organizationalUnit\nou: Klasse\n\n"
               + users);
    file.close();
    auto server = std::make_unique<SlapdServer>(dir.filePath(QStringLiteral("slapd")), data);
    if (!server->start()) {
        qWarning("%s", qPrintable(server->error()));
        return nullptr;
    }
    return server;
}

QScopeGuard<std::function<void()>> CliLdapTest::pointTreeAt(const SlapdServer &server)
{
    auto ini = std::make_shared<QFile>(m_dir.filePath(QStringLiteral("dirclient.ini")));
    ini->open(QIODevice::ReadWrite);
    const QByteArray config = ini->readAll();
    ini->resize(0);
    ini->write(QStringLiteral("[LDAP]\nuri=%1\nbase=%2\nbind=external\nclass.User=person\n").arg(server.ldapi(), kSuffix).toUtf8());
    ini->flush();
    return qScopeGuard(std::function<void()>([ini, config] {
        ini->resize(0);
        ini->write(config);
        ini->close();
    }));
}

QTEST_GUILESS_MAIN(CliLdapTest)

#include "test_cli_ldap.moc"
