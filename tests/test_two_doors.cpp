// The window's run and the command line against a real slapd: a second
// writer between search and write, a server that falls silent during a write,
// and Cancel while the server does not answer the search.
#include "directory/client.h"
#include "nwcontrols/register_controls.h"
#include "platform/error.h"
#include "runs/run_record.h"
#include "support/error_of.h"
#include "support/klassomat_process.h"
#include "support/slapd_server.h"
#include "ui/Klassomat_U.h"
#include "ui/log_list.h"
#include "ui/picture_button.h"
#include "ui/radio_group.h"

#include <QLineEdit>
#include <QScopeGuard>
#include <QtTest>

#include <csignal>

namespace {

const QString kSuffix = QStringLiteral("dc=schule,dc=test");

QString dnOf(const QString &unit, const QString &cn)
{
    return QStringLiteral("cn=%1,ou=%2,o=Gym,%3").arg(cn, unit, kSuffix);
}

// The main window over the tree LDAP, as the program sets it up, ready for a
// run over ou=`unit` in form 1. `beforeWriting` runs once the search has
// ended, right before the record is opened.
struct Window {
    directory::Client client;
    std::unique_ptr<TForm1> form;
    std::function<void()> beforeWriting = [] {};

    Window(const QString &folder, const QString &unit)
    {
        nwcontrols::registerControls(client);
        form = std::make_unique<TForm1>(folder);
        form->FDescribeTree = [this](runs::RunHeader &header) { // as the program's main() does
            header.server = client.source(header.tree);
            header.base = client.base(header.tree);
            header.identity = client.identity(header.tree);
            header.attribute = client.attributeName(header.tree, QStringLiteral("OU"));
            beforeWriting();
        };
        form->FStartContext = QStringLiteral("NDS:\\\\LDAP\\Gym\\") + unit;
        form->EdContext->setText(unit + QStringLiteral(".Gym")); // a chosen context enables the button
        form->raForm->setItemIndex(1);
        form->SetRunButtonFace(form->FGlyphCancel);
    }
    QString run() { return errorOf([this] { form->RunAssignment(); }); }
    [[nodiscard]] QStringList log() const
    {
        QStringList lines;
        for (int i = 0; i < form->ListBox1->count(); ++i)
            lines.append(form->ListBox1->line(i));
        return lines;
    }
    [[nodiscard]] QString recordId() const { return log().value(0).section(QLatin1Char('('), -1).chopped(1); }
};

} // namespace

class TwoDoorsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void secondWriter_bothDoorsAlike_data();
    void secondWriter_bothDoorsAlike();
    void silentDuringWrite_windowSaysUnconfirmed_undoSettles();
    void cancelWhileServerSilent_endsWithoutAskingItMore();

private:
    // A class of its own: ou=`unit` holding cn=a with `values` (LDIF lines).
    void addClass(const QString &unit, const QByteArray &values);
    void ldapmodify(const QByteArray &ldif);
    QStringList valuesOf(const QString &dn);
    // A configuration over the server in `name`, with `keys` added, that the
    // window then reads.
    void useConfig(const QString &name, const QByteArray &keys);
    Result klassomat(const QStringList &arguments);
    void signalServer(int signal);

    QTemporaryDir m_dir;
    std::unique_ptr<SlapdServer> m_slapd;
};

void TwoDoorsTest::initTestCase()
{
    QFile data(m_dir.filePath(QStringLiteral("data.ldif")));
    QVERIFY(data.open(QIODevice::WriteOnly));
    data.write("dn: dc=schule,dc=test\nobjectClass: dcObject\nobjectClass: organization\no: Schule\ndc: schule\n\n"
               "dn: o=Gym,dc=schule,dc=test\nobjectClass: organization\no: Gym\n\n");
    data.close();
    m_slapd = std::make_unique<SlapdServer>(m_dir.filePath(QStringLiteral("slapd")), data.fileName());
    QVERIFY2(m_slapd->start(), qPrintable(m_slapd->error()));

    QFile password(m_dir.filePath(QStringLiteral("pw")));
    QVERIFY(password.open(QIODevice::WriteOnly));
    password.write("geheim");
    password.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    password.close();
    useConfig(QStringLiteral("dirclient.ini"), {}); // the command line's
    QFile classes(m_dir.filePath(QStringLiteral("Klassen.txt")));
    QVERIFY(classes.open(QIODevice::WriteOnly));
    for (const char *unit : {"Dazu", "Leer", "Weg", "Stau", "Halt"})
        classes.write(QByteArray("8a;") + unit + "Fenster\n8a;" + unit + "Befehl\n");

    // The window keeps its records where the command line finds them.
    qputenv("XDG_DATA_HOME", m_dir.filePath(QStringLiteral("data")).toUtf8());
    QCoreApplication::setApplicationName(QStringLiteral("klassomat"));
}

void TwoDoorsTest::cleanupTestCase()
{
    m_slapd.reset();
    qunsetenv("DIRCLIENT_CONFIG");
}

void TwoDoorsTest::useConfig(const QString &name, const QByteArray &keys)
{
    QFile ini(m_dir.filePath(name));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(QStringLiteral("[LDAP]\nuri=%1\nbase=%2\nbind=simple\nbinddn=cn=admin,%2\npasswordfile=%3\n")
                  .arg(m_slapd->uri(), kSuffix, m_dir.filePath(QStringLiteral("pw"))).toUtf8() + keys);
    qputenv("DIRCLIENT_CONFIG", ini.fileName().toUtf8());
}

void TwoDoorsTest::ldapmodify(const QByteArray &ldif)
{
    QProcess process;
    process.start(QStringLiteral("ldapmodify"), {QStringLiteral("-x"), QStringLiteral("-H"), m_slapd->uri(), QStringLiteral("-D"),
                                                 QStringLiteral("cn=admin,") + kSuffix, QStringLiteral("-w"), QStringLiteral("geheim")});
    process.write(ldif);
    process.closeWriteChannel();
    QVERIFY(process.waitForFinished(30000));
    QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
}

void TwoDoorsTest::addClass(const QString &unit, const QByteArray &values)
{
    ldapmodify("dn: ou=" + unit.toUtf8() + ",o=Gym,dc=schule,dc=test\nchangetype: add\nobjectClass: organizationalUnit\nou: "
               + unit.toUtf8() + "\n\ndn: " + dnOf(unit, QStringLiteral("a")).toUtf8()
               + "\nchangetype: add\nobjectClass: inetOrgPerson\ncn: a\nsn: A\n" + values + "\n");
}

QStringList TwoDoorsTest::valuesOf(const QString &dn)
{
    QProcess process;
    process.start(QStringLiteral("ldapsearch"), {QStringLiteral("-x"), QStringLiteral("-LLL"), QStringLiteral("-H"), m_slapd->uri(),
                                                 QStringLiteral("-D"), QStringLiteral("cn=admin,") + kSuffix, QStringLiteral("-w"),
                                                 QStringLiteral("geheim"), QStringLiteral("-s"), QStringLiteral("base"),
                                                 QStringLiteral("-b"), dn, QStringLiteral("ou")});
    process.waitForFinished(30000);
    QStringList values;
    for (const QString &line : QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("ou: ")))
            values.append(line.mid(4));
    }
    values.sort();
    return values;
}

Result TwoDoorsTest::klassomat(const QStringList &arguments)
{
    return runKlassomat(arguments, commandEnvironment(m_dir.path()));
}

void TwoDoorsTest::signalServer(int signal)
{
    QFile pid(m_slapd->dir() + QStringLiteral("/slapd.pid"));
    QVERIFY(pid.open(QIODevice::ReadOnly));
    QCOMPARE(::kill(static_cast<pid_t>(pid.readAll().trimmed().toInt()), signal), 0);
}

void TwoDoorsTest::secondWriter_bothDoorsAlike_data()
{
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QByteArray>("values");    // the user's, as the search finds them
    QTest::addColumn<QByteArray>("meanwhile"); // the second writer's change, between search and write
    QTest::addColumn<runs::Outcome>("outcome");
    QTest::addColumn<QStringList>("written");  // the values after the run
    QTest::addColumn<QStringList>("undone");   // the values after its undo
    QTest::newRow("a value added beside the old one stays")
        << "Dazu" << QByteArray("ou: alt\n") << QByteArray("add: ou\nou: Bibliothek\n") << runs::Outcome::Written
        << QStringList{"8a", "Bibliothek"} << QStringList{"Bibliothek", "alt"};
    QTest::newRow("a value added where none was stays")
        << "Leer" << QByteArray() << QByteArray("add: ou\nou: fremd\n") << runs::Outcome::Written
        << QStringList{"8a", "fremd"} << QStringList{"fremd"};
    QTest::newRow("a value taken away: refused, the other writer's value kept")
        << "Weg" << QByteArray("ou: alt\n") << QByteArray("replace: ou\nou: neu\n") << runs::Outcome::Refused
        << QStringList{"neu"} << QStringList{"neu"};
}

// The same situation through both doors: the same records, the same values
// on the server, and the same values after each door's run is undone.
void TwoDoorsTest::secondWriter_bothDoorsAlike()
{
    QFETCH(QString, unit);
    QFETCH(QByteArray, values);
    QFETCH(QByteArray, meanwhile);
    QFETCH(runs::Outcome, outcome);
    QFETCH(QStringList, written);
    QFETCH(QStringList, undone);
    const QString window = unit + QStringLiteral("Fenster");
    const QString commandLine = unit + QStringLiteral("Befehl");
    addClass(window, values);
    addClass(commandLine, values);
    const auto secondWriter = [&](const QString &unit) {
        ldapmodify("dn: " + dnOf(unit, QStringLiteral("a")).toUtf8() + "\nchangetype: modify\n" + meanwhile);
    };

    useConfig(QStringLiteral("window.ini"), {});
    Window w(m_dir.path(), window);
    w.beforeWriting = [&] { secondWriter(window); };
    w.run();
    QVERIFY2(w.log().value(0).startsWith(QLatin1String("Laufprotokoll: ")), qPrintable(w.log().join(QLatin1Char('\n'))));
    const QString windowId = w.recordId();

    // The command line's record opens after its search, before its pause.
    const QString runs = m_dir.filePath(QStringLiteral("data/klassomat/runs"));
    const qsizetype recordsBefore = QDir(runs).entryList(QDir::Files).size();
    QProcess process;
    process.setProcessEnvironment(commandEnvironment(m_dir.path()));
    process.start(QStringLiteral(KLASSOMAT_EXECUTABLE),
                  {QStringLiteral("run"), QStringLiteral("--context"), commandLine + QStringLiteral(".Gym"), QStringLiteral("--form"),
                   QStringLiteral("1"), QStringLiteral("--classes"), m_dir.filePath(QStringLiteral("Klassen.txt")),
                   QStringLiteral("--yes"), QStringLiteral("--pause"), QStringLiteral("3000")});
    QTRY_VERIFY_WITH_TIMEOUT(QDir(runs).entryList(QDir::Files).size() > recordsBefore, 30000);
    secondWriter(commandLine);
    QVERIFY(process.waitForFinished(60000));
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    const QString commandLineId = out.section(QStringLiteral("Laufprotokoll: "), 1).section(QLatin1Char('('), 1).section(QLatin1Char(')'), 0, 0);

    const runs::RecordedUser byWindow = runs::findRunRecord(runs, windowId).users.value(0);
    const runs::RecordedUser byCommandLine = runs::findRunRecord(runs, commandLineId).users.value(0);
    QCOMPARE(byWindow.outcome, outcome);
    QCOMPARE(byCommandLine.outcome, outcome);
    QCOMPARE(byWindow.before, byCommandLine.before);
    QCOMPARE(byWindow.after, byCommandLine.after);
    QCOMPARE(valuesOf(dnOf(window, QStringLiteral("a"))), written);
    QCOMPARE(valuesOf(dnOf(commandLine, QStringLiteral("a"))), written);

    for (const QString &id : {windowId, commandLineId})
        QVERIFY(klassomat({QStringLiteral("undo"), id}).code >= 0);
    QCOMPARE(valuesOf(dnOf(window, QStringLiteral("a"))), undone);
    QCOMPARE(valuesOf(dnOf(commandLine, QStringLiteral("a"))), undone);
}

// The server stops answering once the window has searched: the write is
// unconfirmed, the window says so and how to settle it, and undo does.
void TwoDoorsTest::silentDuringWrite_windowSaysUnconfirmed_undoSettles()
{
    const QString unit = QStringLiteral("StauFenster");
    addClass(unit, "ou: alt\n");
    ldapmodify("dn: " + dnOf(unit, QStringLiteral("b")).toUtf8() + "\nchangetype: add\nobjectClass: inetOrgPerson\ncn: b\nsn: B\n");
    useConfig(QStringLiteral("window.ini"), "timeout=2\n");
    Window w(m_dir.path(), unit);
    w.beforeWriting = [&] { signalServer(SIGSTOP); };
    const auto resume = qScopeGuard([&] { signalServer(SIGCONT); }); // also when the test fails midway
    const QString error = w.run();
    signalServer(SIGCONT);

    const QString id = w.recordId();
    QVERIFY2(error.startsWith(QStringLiteral("Unbestätigt: ")) && error.contains(QStringLiteral(".StauFenster.Gym"))
                 && !error.contains(QStringLiteral("NDS:")) && error.contains(QStringLiteral("klassomat undo ") + id)
                 && error.contains(QStringLiteral("(F6)")),
             qPrintable(error));
    QCOMPARE(w.log().mid(1), (QStringList{QString(52, QLatin1Char('-')), "eingetragen bei 0 Benutzern",
                                      "unbestätigt bei 1 Benutzern, nicht versucht: 1"}));

    // Whether the server stored the change or not, undo leaves the old value.
    const Result undo = klassomat({QStringLiteral("undo"), id});
    QVERIFY2(undo.code == 0, qPrintable(undo.out + undo.err));
    QCOMPARE(valuesOf(dnOf(unit, QStringLiteral("a"))), QStringList{"alt"});
    QCOMPARE(valuesOf(dnOf(unit, QStringLiteral("b"))), QStringList());
}

// Cancel while the server does not answer the search: the run ends at once,
// plans nothing, records nothing and sends nothing. It used to ask the silent
// server two more questions first, each waiting out timeout=.
void TwoDoorsTest::cancelWhileServerSilent_endsWithoutAskingItMore()
{
    const QString unit = QStringLiteral("HaltFenster");
    addClass(unit, "ou: alt\n");
    useConfig(QStringLiteral("window.ini"), "timeout=30\n");
    const QString runs = m_dir.filePath(QStringLiteral("data/klassomat/runs"));
    const qsizetype recordsBefore = QDir(runs).entryList(QDir::Files).size();
    {
        Window w(m_dir.path(), unit);
        // As the browser does when the context is chosen: the tree learns the containers.
        w.client.tree(QStringLiteral("LDAP")).children(QStringLiteral("NDS:\\\\LDAP\\Gym"), {});
        signalServer(SIGSTOP);
        const auto resume = qScopeGuard([&] { signalServer(SIGCONT); }); // also when the test fails midway
        // Should the run still wait for the server, the server answers after
        // a while, far short of timeout=, and the run ends all the same.
        bool waitedForServer = false;
        QTimer watchdog;
        watchdog.setSingleShot(true);
        connect(&watchdog, &QTimer::timeout, [&] {
            waitedForServer = true;
            signalServer(SIGCONT);
        });
        watchdog.start(10000);
        QTimer::singleShot(0, w.form->buAusfuehren, &QToolButton::click); // Cancel, as soon as the search is sent
        const QString error = w.run();
        watchdog.stop();

        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(!waitedForServer);
        QCOMPARE(w.log(), (QStringList{"***abgebrochen***", "während der Suche, nichts geschrieben"}));
        QCOMPARE(w.form->buAusfuehren->text(), QStringLiteral("&Ausfuehren"));
    }
    signalServer(SIGCONT);
    QCOMPARE(QDir(runs).entryList(QDir::Files).size(), recordsBefore);
    QCOMPARE(valuesOf(dnOf(unit, QStringLiteral("a"))), QStringList{"alt"});
}

QTEST_MAIN(TwoDoorsTest)
#include "test_two_doors.moc"
