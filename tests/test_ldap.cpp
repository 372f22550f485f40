// The LDAP tree against a real slapd started for these tests on loopback.
#include "directory/client.h"
#include "directory/ldap_tree.h"
#include "nwcontrols/register_controls.h"
#include "platform/error.h"
#include "platform/message_box.h"
#include "ui/Klassomat_U.h"
#include "ui/log_list.h"
#include "ui/picture_button.h"
#include "ui/radio_group.h"
#include "ui/status_bar.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QtTest>

namespace {
const QString kSuffix = QStringLiteral("dc=schule,dc=test");
const QString kAdmin = QStringLiteral("cn=admin,dc=schule,dc=test");
const QStringList kOddNames = {QStringLiteral("a,b+c\"d<e>f;g=h"), QStringLiteral("#Raute"), QStringLiteral("Jürgen Groß"),
                               QStringLiteral("Łukasz Şahin Ődön"), QStringLiteral(" Leerzeichen ")};

QByteArray entry(const QString &dn, const QString &cn)
{
    return "dn:: " + dn.toUtf8().toBase64() + "\nobjectClass: inetOrgPerson\ncn:: " + cn.toUtf8().toBase64() + "\nsn: S\n\n";
}

QString escapeRdn(const QString &value)
{
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (QStringLiteral(",+\"\\<>;=").contains(c) || (c == QLatin1Char('#') && i == 0)
            || (c == QLatin1Char(' ') && (i == 0 || i == value.size() - 1)))
            out += QLatin1Char('\\');
        out += c;
    }
    return out;
}
} // namespace

class LdapTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void plainPasswordPolicy_data();
    void plainPasswordPolicy();
    void wholeRun_oneClass_valuesReadBack();
    void pagedSearch_passesSizeLimit();
    void refusedWrite_failurePathNothingWritten();
    void oddNames_roundTrip_backslashReported();
    void wrongPassword_andPasswordFileRights();
    void unreachablePort_clearError();
    void startTls_verifiesAgainstGivenCa();
    void serverKilledDuringRun_thenReconnects();

private:
    void startServer();
    QString config(const QString &keys);
    QString ldapsearch(const QStringList &args);
    std::unique_ptr<directory::Client> client(const QString &keys, const QString &password = QStringLiteral("geheim"));

    QTemporaryDir m_dir;
    QString m_uri;
    QString m_ldapi;
    QStringList m_messages;
};

void LdapTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QByteArray data = "dn: " + kSuffix.toUtf8() + "\nobjectClass: dcObject\nobjectClass: organization\no: Schule\ndc: schule\n\n";
    for (const char *who : {"leser:lesen", "lehrer:lehren"}) {
        const QList<QByteArray> parts = QByteArray(who).split(':');
        data += "dn: cn=" + parts[0] + "," + kSuffix.toUtf8() + "\nobjectClass: organizationalRole\nobjectClass: simpleSecurityObject\ncn: "
                + parts[0] + "\nuserPassword: " + parts[1] + "\n\n";
    }
    data += "dn: o=Gym," + kSuffix.toUtf8() + "\nobjectClass: organization\no: Gym\n\n";
    for (const char *unit : {"Abi05a", "Viele", "Namen"})
        data += "dn: ou=" + QByteArray(unit) + ",o=Gym," + kSuffix.toUtf8() + "\nobjectClass: organizationalUnit\nou: " + unit + "\n\n";
    for (int i = 1; i <= 6; ++i)
        data += entry(QStringLiteral("cn=p%1,ou=Abi05a,o=Gym,%2").arg(i).arg(kSuffix), QStringLiteral("p%1").arg(i));
    for (int i = 1; i <= 1200; ++i)
        data += entry(QStringLiteral("cn=v%1,ou=Viele,o=Gym,%2").arg(i).arg(kSuffix), QStringLiteral("v%1").arg(i));
    for (const QString &name : kOddNames)
        data += entry(QStringLiteral("cn=%1,ou=Namen,o=Gym,%2").arg(escapeRdn(name), kSuffix), name);
    QFile file(m_dir.filePath(QStringLiteral("data.ldif")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(data);
    file.close();
    startServer();
}

void LdapTest::startServer()
{
    QProcess script;
    script.start(QStringLiteral("bash"), {QStringLiteral(KLASSOMAT_SLAPD_SCRIPT), QStringLiteral("start"), m_dir.filePath(QStringLiteral("slapd")),
                                          m_dir.filePath(QStringLiteral("data.ldif"))});
    QVERIFY(script.waitForFinished(60000));
    QVERIFY2(script.exitCode() == 0, script.readAllStandardError().constData());
    const QStringList uris = QString::fromUtf8(script.readAllStandardOutput()).trimmed().split(QLatin1Char(' '));
    QCOMPARE(uris.size(), 2);
    m_uri = uris[0];
    m_ldapi = uris[1];
}

void LdapTest::cleanupTestCase()
{
    QProcess::execute(QStringLiteral("bash"), {QStringLiteral(KLASSOMAT_SLAPD_SCRIPT), QStringLiteral("stop"), m_dir.filePath(QStringLiteral("slapd"))});
}

void LdapTest::init()
{
    m_messages.clear();
    platform::setMessageSink([this](const platform::MessageRecord &r) { m_messages.append(r.text); });
}

void LdapTest::cleanup()
{
    platform::setMessageSink({});
    qunsetenv("DIRCLIENT_CONFIG");
}

QString LdapTest::config(const QString &keys)
{
    const QString path = m_dir.filePath(QStringLiteral("dirclient.ini"));
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(QStringLiteral("[LDAP]\nbase=%1\n%2\n").arg(kSuffix, keys).toUtf8());
    return path;
}

std::unique_ptr<directory::Client> LdapTest::client(const QString &keys, const QString &password)
{
    qputenv("DIRCLIENT_CONFIG", config(keys).toUtf8());
    return std::make_unique<directory::Client>(QString(), [password](const QString &, const QString &) { return password; });
}

QString LdapTest::ldapsearch(const QStringList &args)
{
    QProcess process;
    process.start(QStringLiteral("ldapsearch"),
                  QStringList{QStringLiteral("-x"), QStringLiteral("-LLL"), QStringLiteral("-o"), QStringLiteral("ldif-wrap=no"),
                              QStringLiteral("-H"), m_uri, QStringLiteral("-D"), kAdmin, QStringLiteral("-w"), QStringLiteral("geheim")}
                      + args);
    process.waitForFinished(30000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

void LdapTest::plainPasswordPolicy_data()
{
    QTest::addColumn<QString>("uri");
    QTest::addColumn<bool>("startTls");
    QTest::addColumn<bool>("allow");
    QTest::addColumn<bool>("refused");
    QTest::newRow("loopback address") << "ldap://127.0.0.1:389" << false << false << false;
    QTest::newRow("localhost") << "ldap://localhost" << false << false << false;
    QTest::newRow("other host") << "ldap://schulserver.example" << false << false << true;
    QTest::newRow("other host with StartTLS") << "ldap://schulserver.example" << true << false << false;
    QTest::newRow("other host, ldaps") << "ldaps://schulserver.example" << false << false << false;
    QTest::newRow("other host, explicitly allowed") << "ldap://schulserver.example" << false << true << false;
    QTest::newRow("ldapi") << "ldapi://%2Frun%2Fslapd%2Fldapi" << false << false << false;
}

void LdapTest::plainPasswordPolicy()
{
    QFETCH(QString, uri);
    QFETCH(bool, startTls);
    QFETCH(bool, allow);
    QFETCH(bool, refused);
    directory::LdapSettings settings;
    settings.uri = uri;
    settings.bind = directory::LdapSettings::Bind::Simple;
    settings.startTls = startTls;
    settings.allowPlainPassword = allow;
    QCOMPARE(directory::sendsPlainPasswordAbroad(settings), refused);
}

void LdapTest::wholeRun_oneClass_valuesReadBack()
{
    QFile password(m_dir.filePath(QStringLiteral("pw")));
    QVERIFY(password.open(QIODevice::WriteOnly));
    password.write("geheim\n");
    password.close();
    password.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    auto c = client(QStringLiteral("uri=%1\nbind=simple\nbinddn=%2\npasswordfile=pw").arg(m_uri, kAdmin));
    nwcontrols::registerControls(*c);
    QFile classes(m_dir.filePath(QStringLiteral("Klassen.txt")));
    classes.open(QIODevice::WriteOnly);
    classes.write("8a;Abi05a\n");
    classes.close();
    TForm1 form(m_dir.path());
    form.FStartContext = QStringLiteral("NDS:\\\\LDAP\\Gym\\Abi05a");
    form.raForm->setItemIndex(2);
    form.SetRunButtonFace(form.FGlyphCancel);
    form.RunAssignment();
    QCOMPARE(m_messages, QStringList());
    QCOMPARE(form.StatusBar1->panelText(0), QStringLiteral("6/6"));
    const QString out = ldapsearch({QStringLiteral("-b"), QStringLiteral("ou=Abi05a,o=Gym,") + kSuffix, QStringLiteral("(objectClass=inetOrgPerson)"), QStringLiteral("ou")});
    QCOMPARE(out.count(QStringLiteral("ou: 8a, Abi05a")), 6);
}

void LdapTest::pagedSearch_passesSizeLimit()
{
    // As the limited bind DN, a plain search stops at the server's 500 entries.
    QProcess plain;
    plain.start(QStringLiteral("ldapsearch"), {QStringLiteral("-x"), QStringLiteral("-H"), m_uri, QStringLiteral("-D"), QStringLiteral("cn=leser,") + kSuffix,
                                               QStringLiteral("-w"), QStringLiteral("lesen"), QStringLiteral("-b"), QStringLiteral("ou=Viele,o=Gym,") + kSuffix, QStringLiteral("dn")});
    plain.waitForFinished(30000);
    QCOMPARE(plain.exitCode(), 4); // sizeLimitExceeded

    auto c = client(QStringLiteral("uri=%1\nbind=simple\nbinddn=cn=leser,%2").arg(m_uri, kSuffix), QStringLiteral("lesen"));
    auto &tree = c->tree(QStringLiteral("LDAP"));
    QStringList hits;
    bool done = false;
    tree.search(QStringLiteral("NDS:\\\\LDAP\\Gym\\Viele"), QStringLiteral("User"), directory::Scope::Subtree, QStringLiteral("OU"),
                [&](const QList<directory::FoundObject> &found, std::exception_ptr failure) {
                    QVERIFY(!failure);
                    for (const directory::FoundObject &hit : found)
                        hits.append(hit.fullName);
                    done = true;
                });
    QVERIFY(!done); // results come later, from the event loop
    QTRY_VERIFY_WITH_TIMEOUT(done, 30000);
    QCOMPARE(hits.size(), 1200);
    QVERIFY(hits.first().startsWith(QStringLiteral("NDS:\\\\LDAP\\Gym\\Viele\\v")));
    QCOMPARE(tree.children(QStringLiteral("NDS:\\\\LDAP\\Gym\\Viele"), {}).size(), 1200);
    QCOMPARE(tree.children(QStringLiteral("NDS:\\\\LDAP\\Gym"), {QStringLiteral("Organizational Unit"), QStringLiteral("Top")}).size(), 3);
}

void LdapTest::refusedWrite_failurePathNothingWritten()
{
    auto c = client(QStringLiteral("uri=%1\nbind=simple\nbinddn=cn=leser,%2").arg(m_uri, kSuffix), QStringLiteral("lesen"));
    nwcontrols::registerControls(*c);
    TForm1 form(m_dir.path());
    form.FStartContext = QStringLiteral("NDS:\\\\LDAP\\Gym\\Viele");
    form.EdContext->setText(QStringLiteral("Viele.Gym"));
    form.SetRunButtonFace(form.FGlyphCancel);
    QVERIFY_THROWS_EXCEPTION(platform::Error, form.RunAssignment());
    QCOMPARE(form.StatusBar1->panelText(0), QStringLiteral("1/1200"));
    QCOMPARE(form.ListBox1->count(), 2);
    QCOMPARE(form.ListBox1->line(1), QStringLiteral("eingetragen bei 0 Benutzern")); // the refused write is not counted
    QVERIFY(form.buAusfuehren->isEnabled());
    const QString out = ldapsearch({QStringLiteral("-b"), QStringLiteral("ou=Viele,o=Gym,") + kSuffix, QStringLiteral("(ou=*)"), QStringLiteral("dn")});
    QVERIFY2(!out.contains(QStringLiteral("cn=v")), qPrintable(out));

    // The message names the object and carries the server's words.
    try {
        c->tree(QStringLiteral("LDAP")).putAndStore(QStringLiteral("NDS:\\\\LDAP\\Gym\\Viele\\v7"), QStringLiteral("OU"), QStringLiteral("x"));
        QFAIL("no error");
    } catch (const platform::Error &e) {
        QVERIFY2(e.message().contains(QStringLiteral("NDS:\\\\LDAP\\Gym\\Viele\\v7")) && e.message().contains(QStringLiteral("Insufficient access")),
                 qPrintable(e.message()));
    }
}

void LdapTest::oddNames_roundTrip_backslashReported()
{
    auto c = client(QStringLiteral("uri=%1\nbind=simple\nbinddn=%2").arg(m_uri, kAdmin));
    auto &tree = c->tree(QStringLiteral("LDAP"));
    for (const QString &name : kOddNames) {
        const QString full = QStringLiteral("NDS:\\\\LDAP\\Gym\\Namen\\") + name;
        QCOMPARE(tree.className(full), QStringLiteral("User"));
        tree.putAndStore(full, QStringLiteral("OU"), name + QStringLiteral(" ł"));
    }
    const QString out = ldapsearch({QStringLiteral("-b"), QStringLiteral("ou=Namen,o=Gym,") + kSuffix, QStringLiteral("(ou=*)"), QStringLiteral("ou")});
    for (const QString &name : kOddNames)
        QVERIFY2(out.contains(QStringLiteral("ou:: ") + QString::fromLatin1((name + QStringLiteral(" ł")).toUtf8().toBase64())), qPrintable(name));
    // A lookup ignores letter case, as the server does.
    QCOMPARE(tree.className(QStringLiteral("NDS:\\\\ldap\\GYM\\namen\\JÜRGEN GROSS").replace(QStringLiteral("GROSS"), QStringLiteral("groß"))), QStringLiteral("User"));

    // Add objects whose names hold a backslash and one that looks like it without.
    QProcess add;
    add.start(QStringLiteral("ldapadd"), {QStringLiteral("-x"), QStringLiteral("-H"), m_uri, QStringLiteral("-D"), kAdmin, QStringLiteral("-w"), QStringLiteral("geheim")});
    add.write(QStringLiteral("dn: ou=Schräg,o=Gym,%1\nobjectClass: organizationalUnit\nou: Schräg\n\n"
                             "dn: cn=a\\\\b,ou=Schräg,o=Gym,%1\nobjectClass: inetOrgPerson\ncn: a\\b\nsn: S\n\n"
                             "dn: cn=a,ou=Schräg,o=Gym,%1\nobjectClass: inetOrgPerson\ncn: a\nsn: S\n\n").arg(kSuffix).toUtf8());
    add.closeWriteChannel();
    QVERIFY(add.waitForFinished(30000));
    QCOMPARE(add.exitCode(), 0);
    std::exception_ptr failure;
    bool done = false;
    tree.search(QStringLiteral("NDS:\\\\LDAP\\Gym\\Schräg"), QStringLiteral("User"), directory::Scope::OneLevel, QString(),
                [&](const QList<directory::FoundObject> &, std::exception_ptr f) {
                    failure = f;
                    done = true;
                });
    QTRY_VERIFY_WITH_TIMEOUT(done, 30000);
    QVERIFY(failure);
    try {
        std::rethrow_exception(failure);
    } catch (const platform::Error &e) {
        QVERIFY2(e.message().contains(QStringLiteral("ou=Schräg")) && e.message().contains(QStringLiteral("\\")), qPrintable(e.message()));
    }
    tree.putAndStore(QStringLiteral("NDS:\\\\LDAP\\Gym\\Schräg\\a"), QStringLiteral("OU"), QStringLiteral("nur a"));
    const QString check = ldapsearch({QStringLiteral("-b"), QStringLiteral("ou=Schräg,o=Gym,") + kSuffix, QStringLiteral("(ou=nur a)"), QStringLiteral("dn")});
    QCOMPARE(check.count(QStringLiteral("dn:")), 1);
    QVERIFY(check.contains(QStringLiteral("cn=a,")) || check.contains(QStringLiteral("dn:: ")));
}

void LdapTest::wrongPassword_andPasswordFileRights()
{
    auto c = client(QStringLiteral("uri=%1\nbind=simple\nbinddn=%2").arg(m_uri, kAdmin), QStringLiteral("falsch"));
    try {
        c->tree(QStringLiteral("LDAP"));
        QFAIL("no error");
    } catch (const platform::Error &e) {
        QVERIFY2(e.message().contains(QStringLiteral("Invalid credentials")), qPrintable(e.message()));
    }
    QFile password(m_dir.filePath(QStringLiteral("offen")));
    QVERIFY(password.open(QIODevice::WriteOnly));
    password.write("geheim");
    password.close();
    password.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    auto open = client(QStringLiteral("uri=%1\nbind=simple\nbinddn=%2\npasswordfile=offen").arg(m_uri, kAdmin));
    try {
        open->tree(QStringLiteral("LDAP"));
        QFAIL("no error");
    } catch (const platform::Error &e) {
        QVERIFY2(e.message().contains(QStringLiteral("nur für ihren Eigentümer")), qPrintable(e.message()));
    }
}

void LdapTest::unreachablePort_clearError()
{
    auto c = client(QStringLiteral("uri=ldap://127.0.0.1:1\ntimeout=3"));
    try {
        c->tree(QStringLiteral("LDAP"));
        QFAIL("no error");
    } catch (const platform::Error &e) {
        QVERIFY2(e.message().contains(QStringLiteral("ldap://127.0.0.1:1")) && e.message().contains(QStringLiteral("contact")), qPrintable(e.message()));
    }
}

void LdapTest::startTls_verifiesAgainstGivenCa()
{
    const QString ca = m_dir.filePath(QStringLiteral("slapd/cert.pem"));
    auto trusted = client(QStringLiteral("uri=%1\nstarttls=true\ncafile=%2\nbind=simple\nbinddn=%3").arg(m_uri, ca, kAdmin));
    QCOMPARE(trusted->tree(QStringLiteral("LDAP")).className(QStringLiteral("NDS:\\\\LDAP\\Gym")), QStringLiteral("Organization"));
    auto untrusted = client(QStringLiteral("uri=%1\nstarttls=true\nbind=simple\nbinddn=%2").arg(m_uri, kAdmin));
    QVERIFY_THROWS_EXCEPTION(platform::Error, untrusted->tree(QStringLiteral("LDAP")));
}

void LdapTest::serverKilledDuringRun_thenReconnects()
{
    // SASL EXTERNAL over the ldapi socket, whose path stays when slapd restarts.
    auto c = client(QStringLiteral("uri=%1\nbind=external").arg(m_ldapi));
    nwcontrols::registerControls(*c);
    TForm1 form(m_dir.path());
    form.FStartContext = QStringLiteral("NDS:\\\\LDAP\\Gym\\Viele");
    form.EdContext->setText(QStringLiteral("Viele.Gym"));
    form.raForm->setItemIndex(0);
    QTimer::singleShot(400, [this] {
        QProcess::execute(QStringLiteral("bash"), {QStringLiteral(KLASSOMAT_SLAPD_SCRIPT), QStringLiteral("stop"), m_dir.filePath(QStringLiteral("slapd"))});
    });
    form.SetRunButtonFace(form.FGlyphCancel);
    QVERIFY_THROWS_EXCEPTION(platform::Error, form.RunAssignment());
    const QString status = form.StatusBar1->panelText(0);
    const int counted = status.section(QLatin1Char('/'), 0, 0).toInt();
    QVERIFY2(counted >= 1 && counted < 1200, qPrintable(status));
    QCOMPARE(form.ListBox1->count(), counted - 1 + 2); // the failed user has no line
    QCOMPARE(form.ListBox1->line(form.ListBox1->count() - 1), QStringLiteral("eingetragen bei %1 Benutzern").arg(counted - 1));

    startServer();
    const QString out = ldapsearch({QStringLiteral("-b"), QStringLiteral("ou=Viele,o=Gym,") + kSuffix, QStringLiteral("(ou=Viele)"), QStringLiteral("dn")});
    // Nothing after the failed write was written; the failed one itself may
    // have been stored by the server before it went away, its answer lost.
    const int written = static_cast<int>(out.count(QStringLiteral("dn:")));
    QVERIFY2(written == counted - 1 || written == counted, qPrintable(QStringLiteral("%1 written, %2 counted").arg(written).arg(counted)));
    // The next operation reconnects.
    QCOMPARE(c->tree(QStringLiteral("LDAP")).className(QStringLiteral("NDS:\\\\LDAP\\Gym\\Viele\\v1")), QStringLiteral("User"));
    // So does one after a restart of the server while the tree stood idle.
    QProcess::execute(QStringLiteral("bash"), {QStringLiteral(KLASSOMAT_SLAPD_SCRIPT), QStringLiteral("stop"), m_dir.filePath(QStringLiteral("slapd"))});
    startServer();
    c->tree(QStringLiteral("LDAP")).putAndStore(QStringLiteral("NDS:\\\\LDAP\\Gym\\Viele\\v2"), QStringLiteral("OU"), QStringLiteral("neu"));
    QCOMPARE(c->tree(QStringLiteral("LDAP")).className(QStringLiteral("NDS:\\\\LDAP\\Gym\\Viele\\v2")), QStringLiteral("User"));
}

QTEST_MAIN(LdapTest)
#include "test_ldap.moc"
