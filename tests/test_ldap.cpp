// The LDAP tree against a real slapd started for these tests on loopback, and
// against a fake server for what slapd will not do (fall silent, page forever).
#include "directory/client.h"
#include "directory/ldap/ldap_tree.h"
#include "directory/ldap/ldap_urls.h"
#include "nwcontrols/register_controls.h"
#include "platform/error.h"
#include "ui/Klassomat_U.h"
#include "ui/log_list.h"
#include "ui/picture_button.h"
#include "ui/radio_group.h"
#include "ui/status_bar.h"
#include "support/error_of.h"
#include "support/fake_ldap_server.h"
#include "support/message_capture.h"
#include "support/slapd_server.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QtTest>

#include <QAbstractEventDispatcher>

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>

namespace {
const QString kSuffix = QStringLiteral("dc=schule,dc=test");
const QString kAdmin = QStringLiteral("cn=admin,dc=schule,dc=test");
const QStringList kOddNames = {QStringLiteral("a,b+c\"d<e>f;g=h"), QStringLiteral("#Raute"), QStringLiteral("Jürgen Groß"),
                               QStringLiteral("Łukasz Şahin Ődön"), QStringLiteral(" Leerzeichen ")};

QByteArray entry(const QString &dn, const QString &cn)
{
    return "dn:: " + dn.toUtf8().toBase64() + "\nobjectClass: inetOrgPerson\ncn:: " + cn.toUtf8().toBase64() + "\nsn: S\n\n";
}

// Runs `step`; an error it raises fails the test with its message instead of
// escaping QtTest, which would abort the binary.
bool succeeds(const std::function<void()> &step)
{
    try {
        step();
        return true;
    } catch (const std::exception &e) {
        qWarning("%s", qPrintable(platform::messageOf(e)));
        return false;
    }
}

// The process's peak resident memory; `reset` starts counting afresh.
double peakMemoryMiB(bool reset)
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (reset && clear.open(QIODevice::WriteOnly))
        clear.write("5");
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    }
    return 0;
}

// How a store failed, by the type of its failure.
QString kindOf(std::exception_ptr failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const directory::Refused &) {
        return QStringLiteral("refused");
    } catch (const directory::Unconfirmed &) {
        return QStringLiteral("unconfirmed");
    } catch (const directory::NotSent &) {
        return QStringLiteral("not sent");
    } catch (...) {
        return QStringLiteral("other");
    }
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
    void silentServer_nextOneBound();
    void wholeRun_oneClass_valuesReadBack();
    void pagedSearch_passesSizeLimit();
    void refusedWrite_failurePathNothingWritten();
    void oddNames_roundTrip_backslashReported();
    void passwordFile_openOrEmpty_refused();
    void failures_sayWhatToDo_data();
    void failures_sayWhatToDo();
    void startTls_verifiesAgainstGivenCa();
    void certificateForAnotherName_namesBoth();
    void serverKilledDuringRun_thenReconnects();
    void listingDuringSearch_eachGetsItsOwnAnswers();
    void listingDuringLongSearch_answeredAtOnce();
    void cancel_abandonsTheSearch();
    void cancel_nextSearchGetsItsOwnAnswer();
    void references_namedNeverSilent();
    void sameFullName_neverWritten();
    void severalStoresInFlight_eachAnswered();
    void anonymousWrite_saysBindWithBindDn();
    void storeFailures_sayWhetherSent_data();
    void storeFailures_sayWhetherSent();
    void misbehavingServer_endsAtDeadline_data();
    void misbehavingServer_endsAtDeadline();
    void stalledHandshake_endsAtTimeout_data();
    void stalledHandshake_endsAtTimeout();
    void kerberos_bindsWithTheUsersTicket();

private:
    QString config(const QString &keys);
    QString ldapsearch(const QStringList &args, const QString &uri = QString());
    std::unique_ptr<directory::Client> client(const QString &keys, const QString &password = QStringLiteral("geheim"));

    QTemporaryDir m_dir;
    std::unique_ptr<SlapdServer> m_slapd;
    QString m_uri;
    QString m_ldapi;
    std::optional<MessageCapture> m_boxes;
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
    for (const char *unit : {"Doppel", "Flug"})
        data += "dn: ou=" + QByteArray(unit) + ",o=Gym," + kSuffix.toUtf8() + "\nobjectClass: organizationalUnit\nou: " + unit + "\n\n";
    data += entry(QStringLiteral("cn=mueller,ou=Doppel,o=Gym,%1").arg(kSuffix), QStringLiteral("mueller"));
    data += "dn: uid=mueller,ou=Doppel,o=Gym," + kSuffix.toUtf8() + "\nobjectClass: inetOrgPerson\nuid: mueller\ncn: Max Mueller\nsn: M\n\n";
    for (int i = 1; i <= 50; ++i)
        data += entry(QStringLiteral("cn=f%1,ou=Flug,o=Gym,%2").arg(i).arg(kSuffix), QStringLiteral("f%1").arg(i));
    // Enough users that a search of them takes a while, for Cancel.
    data += "dn: ou=Lang," + kSuffix.toUtf8() + "\nobjectClass: organizationalUnit\nou: Lang\n\n";
    for (int i = 1; i <= 20000; ++i)
        data += "dn: cn=l" + QByteArray::number(i) + ",ou=Lang," + kSuffix.toUtf8() + "\nobjectClass: inetOrgPerson\ncn: l"
                + QByteArray::number(i) + "\nsn: S\nou: Klasse " + QByteArray::number(i % 40) + "\n\n";
    // Parts held by other servers: a class, and a DNS zone as Active Directory refers to it.
    const QByteArray referrals = "ou=Verweise,o=Gym," + kSuffix.toUtf8();
    data += "dn: " + referrals + "\nobjectClass: organizationalUnit\nou: Verweise\n\n";
    data += "dn: ou=Hier," + referrals + "\nobjectClass: organizationalUnit\nou: Hier\n\n";
    data += entry(QStringLiteral("cn=h1,ou=Hier,%1").arg(QString::fromUtf8(referrals)), QStringLiteral("h1"));
    data += "dn: ou=Fern," + referrals + "\nobjectClass: referral\nobjectClass: extensibleObject\nou: Fern\n"
            "ref: ldap://anderer.test/ou=Fern,ou=Verweise,o=Gym,dc=schule,dc=test\n\n";
    data += "dn: dc=DomainDnsZones," + referrals + "\nobjectClass: referral\nobjectClass: extensibleObject\ndc: DomainDnsZones\n"
            "ref: ldap://schule.test/DC=DomainDnsZones,DC=schule,DC=test\n\n";
    QFile file(m_dir.filePath(QStringLiteral("data.ldif")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(data);
    file.close();
    m_slapd = std::make_unique<SlapdServer>(m_dir.filePath(QStringLiteral("slapd")), m_dir.filePath(QStringLiteral("data.ldif")));
    QVERIFY2(m_slapd->start(), qPrintable(m_slapd->error()));
    m_uri = m_slapd->uri();
    m_ldapi = m_slapd->ldapi();
}

void LdapTest::cleanupTestCase()
{
    m_slapd.reset();
}

void LdapTest::init()
{
    m_boxes.emplace();
}

void LdapTest::cleanup()
{
    m_boxes.reset();
    qunsetenv("DIRCLIENT_CONFIG");
}

QString LdapTest::config(const QString &keys)
{
    // A file of its own each time: QSettings keeps what it read of a path,
    // and a file rewritten within the same second looks unchanged to it.
    static int configs = 0;
    const QString path = m_dir.filePath(QStringLiteral("dirclient-%1.ini").arg(++configs));
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    const QString base = keys.contains(QStringLiteral("base=")) ? QString() : QStringLiteral("base=%1\n").arg(kSuffix);
    file.write(QStringLiteral("[LDAP]\n%1%2\n").arg(base, keys).toUtf8());
    return path;
}

std::unique_ptr<directory::Client> LdapTest::client(const QString &keys, const QString &password)
{
    qputenv("DIRCLIENT_CONFIG", config(keys).toUtf8());
    return std::make_unique<directory::Client>(QString(), [password](const QString &, const QString &) { return password; });
}

QString LdapTest::ldapsearch(const QStringList &args, const QString &uri)
{
    QProcess process;
    process.start(QStringLiteral("ldapsearch"),
                  QStringList{QStringLiteral("-x"), QStringLiteral("-LLL"), QStringLiteral("-o"), QStringLiteral("ldif-wrap=no"),
                              QStringLiteral("-H"), uri.isEmpty() ? m_uri : uri, QStringLiteral("-D"), kAdmin, QStringLiteral("-w"), QStringLiteral("geheim")}
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
    QTest::newRow("a name that only looks like loopback") << "ldap://127.schule.example" << false << false << true;
    QTest::newRow("other host") << "ldap://schulserver.example" << false << false << true;
    QTest::newRow("other host with StartTLS") << "ldap://schulserver.example" << true << false << false;
    QTest::newRow("other host, ldaps") << "ldaps://schulserver.example" << false << false << false;
    QTest::newRow("other host, explicitly allowed") << "ldap://schulserver.example" << false << true << false;
    QTest::newRow("ldapi") << "ldapi://%2Frun%2Fslapd%2Fldapi" << false << false << false;
    QTest::newRow("two servers, both ldaps") << "ldaps://a.example ldaps://b.example" << false << false << false;
    QTest::newRow("two servers, both ldaps, a comma between") << "ldaps://a.example,ldaps://b.example" << false << false << false;
    QTest::newRow("two loopback servers") << "ldap://127.0.0.1:1 ldap://localhost:2" << false << false << false;
    QTest::newRow("the second server plain and abroad") << "ldaps://a.example ldap://schulserver.example" << false << false << true;
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
    QCOMPARE(directory::plainPasswordServer(settings), refused ? directory::ldapUrls(uri).constLast() : QString());
}

void LdapTest::silentServer_nextOneBound()
{
    FakeLdapServer silent(FakeLdapServer::Behaviour::Silent);
    FakeLdapServer alsoSilent(FakeLdapServer::Behaviour::Silent);
    // The first accepts and never answers: the second is bound, and stays the one written to.
    auto c = client(QStringLiteral("uri=%1 %2\ntimeout=1\nbind=simple\nbinddn=%3").arg(silent.uri(), m_uri, kAdmin));
    directory::Tree *tree = nullptr;
    QVERIFY(succeeds([&] { tree = &c->tree(QStringLiteral("LDAP")); }));
    QCOMPARE(c->source(QStringLiteral("LDAP")), m_uri);
    QVERIFY(succeeds([&] { tree->putAndStore(QStringLiteral("NDS:\\\\LDAP\\Gym\\Abi05a\\p4"), QStringLiteral("OU"), QStringLiteral("Zweiter")); }));
    QVERIFY(ldapsearch({QStringLiteral("-b"), QStringLiteral("cn=p4,ou=Abi05a,o=Gym,") + kSuffix, QStringLiteral("ou")}).contains(QStringLiteral("ou: Zweiter")));
    // None answers: each is named, as silent.
    auto none = client(QStringLiteral("uri=%1,%2\ntimeout=1").arg(silent.uri(), alsoSilent.uri()));
    const QString error = errorOf([&] { none->tree(QStringLiteral("LDAP")); });
    QVERIFY2(error.contains(silent.uri()) && error.contains(alsoSilent.uri()) && error.count(QStringLiteral("(-5)")) == 2, qPrintable(error));
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
    QCOMPARE(m_boxes->texts(), QStringList());
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
    directory::Tree *found = nullptr;
    QVERIFY(succeeds([&] { found = &c->tree(QStringLiteral("LDAP")); }));
    directory::Tree &tree = *found;
    QStringList hits;
    bool done = false;
    tree.search(QStringLiteral("NDS:\\\\LDAP\\Gym\\Viele"), QStringLiteral("User"), directory::Scope::Subtree, QStringLiteral("OU"),
                [&](const directory::Found &found, std::exception_ptr failure) {
                    QVERIFY(!failure);
                    for (const directory::FoundObject &hit : found)
                        hits.append(hit.fullName);
                    done = true;
                });
    QVERIFY(!done); // results come later, from the event loop
    QTRY_VERIFY_WITH_TIMEOUT(done, 30000);
    QCOMPARE(hits.size(), 1200);
    QVERIFY(hits.first().startsWith(QStringLiteral("NDS:\\\\LDAP\\Gym\\Viele\\v")));
    qsizetype listed = 0;
    qsizetype units = 0;
    QVERIFY(succeeds([&] {
        listed = tree.children(QStringLiteral("NDS:\\\\LDAP\\Gym\\Viele"), {}).size();
        units = tree.children(QStringLiteral("NDS:\\\\LDAP\\Gym"), {QStringLiteral("Organizational Unit"), QStringLiteral("Top")}).size();
    }));
    QCOMPARE(listed, 1200);
    QCOMPARE(units, 6);
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
    QCOMPARE(form.ListBox1->count(), 4); // the record's line, the closing lines
    QCOMPARE(form.ListBox1->line(2), QStringLiteral("eingetragen bei 0 Benutzern")); // the refused write is not counted
    QCOMPARE(form.ListBox1->line(3), QStringLiteral("abgelehnt bei 1 Benutzern, nicht versucht: 1199"));
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
    directory::Tree *found = nullptr;
    QVERIFY(succeeds([&] { found = &c->tree(QStringLiteral("LDAP")); }));
    directory::Tree &tree = *found;
    for (const QString &name : kOddNames) {
        const QString full = QStringLiteral("NDS:\\\\LDAP\\Gym\\Namen\\") + name;
        QString className;
        QVERIFY(succeeds([&] {
            className = tree.className(full);
            tree.putAndStore(full, QStringLiteral("OU"), name + QStringLiteral(" ł"));
        }));
        QCOMPARE(className, QStringLiteral("User"));
    }
    const QString out = ldapsearch({QStringLiteral("-b"), QStringLiteral("ou=Namen,o=Gym,") + kSuffix, QStringLiteral("(ou=*)"), QStringLiteral("ou")});
    for (const QString &name : kOddNames)
        QVERIFY2(out.contains(QStringLiteral("ou:: ") + QString::fromLatin1((name + QStringLiteral(" ł")).toUtf8().toBase64())), qPrintable(name));
    // A lookup ignores letter case, as the server does.
    QString folded;
    QVERIFY(succeeds([&] { folded = tree.className(QStringLiteral("NDS:\\\\ldap\\GYM\\namen\\JÜRGEN groß")); }));
    QCOMPARE(folded, QStringLiteral("User"));

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
                [&](const directory::Found &, std::exception_ptr f) {
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
    QVERIFY(succeeds([&] { tree.putAndStore(QStringLiteral("NDS:\\\\LDAP\\Gym\\Schräg\\a"), QStringLiteral("OU"), QStringLiteral("nur a")); }));
    const QString check = ldapsearch({QStringLiteral("-b"), QStringLiteral("ou=Schräg,o=Gym,") + kSuffix, QStringLiteral("(ou=nur a)"), QStringLiteral("dn")});
    QCOMPARE(check.count(QStringLiteral("dn:")), 1);
    QVERIFY(check.contains(QStringLiteral("cn=a,")) || check.contains(QStringLiteral("dn:: ")));
}

void LdapTest::passwordFile_openOrEmpty_refused()
{
    for (const auto &[name, content, rights] : {std::tuple{"offen", "geheim", QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther},
                                                std::tuple{"leer", "", QFile::ReadOwner | QFile::WriteOwner}}) {
        QFile password(m_dir.filePath(QString::fromLatin1(name)));
        QVERIFY(password.open(QIODevice::WriteOnly));
        password.write(content);
        password.close();
        password.setPermissions(rights);
    }
    auto open = client(QStringLiteral("uri=%1\nbind=simple\nbinddn=%2\npasswordfile=offen").arg(m_uri, kAdmin));
    QVERIFY(errorOf([&] { open->tree(QStringLiteral("LDAP")); }).contains(QStringLiteral("nur für ihren Eigentümer")));
    // An empty password would turn the bind into an anonymous one.
    auto empty = client(QStringLiteral("uri=%1\nbind=simple\nbinddn=%2\npasswordfile=leer").arg(m_uri, kAdmin));
    const QString error = errorOf([&] { empty->tree(QStringLiteral("LDAP")); });
    QVERIFY2(error.contains(QStringLiteral("ist leer")), qPrintable(error));
}

void LdapTest::failures_sayWhatToDo_data()
{
    QTest::addColumn<QString>("keys"); // %1 the server's URI, %2 the admin's DN
    QTest::addColumn<QString>("password");
    QTest::addColumn<QStringList>("said");
    QTest::newRow("certificate not trusted") << "uri=%1\nstarttls=true\nbind=simple\nbinddn=%2" << "geheim"
                                             << QStringList{"StartTLS", "(-11)", "nicht vertrauenswürdig", "cafile="};
    QTest::newRow("a CA file that is not there") << "uri=%1\nstarttls=true\ncafile=fehlt.pem" << ""
                                                 << QStringList{"cafile=fehlt.pem", "gibt es nicht"};
    QTest::newRow("wrong password") << "uri=%1\nbind=simple\nbinddn=%2" << "falsch"
                                    << QStringList{"Invalid credentials (49)", "Passwort ist falsch"};
    QTest::newRow("server not reachable") << "uri=ldap://127.0.0.1:1\ntimeout=3" << ""
                                          << QStringList{"ldap://127.0.0.1:1", "(-1)", "nicht erreichbar"};
    QTest::newRow("unknown bind kind") << "uri=%1\nbind=gssapi" << "" << QStringList{"bind=gssapi"};
    QTest::newRow("timeout not a number") << "uri=%1\ntimeout=abc" << "" << QStringList{"Baum LDAP", "timeout=abc", "positive Zahl"};
    QTest::newRow("timeout zero") << "uri=%1\ntimeout=0" << "" << QStringList{"Baum LDAP", "timeout=0", "positive Zahl"};
    QTest::newRow("a misspelt key") << "uri=%1\ntimout=5" << "" << QStringList{"timout=", "[LDAP]", "dirclient-", "timeout="};
    QTest::newRow("a key in other letter case") << "URI=%1" << "" << QStringList{"URI=", "[LDAP]"};
    QTest::newRow("maxentries not a number") << "uri=%1\nmaxentries=viele" << "" << QStringList{"maxentries=viele"};
    QTest::newRow("Kerberos without a ticket") << "uri=%1\nbind=sasl\nmech=GSSAPI" << "" << QStringList{"(-2)", "GSSAPI", "kinit"};
}

void LdapTest::failures_sayWhatToDo()
{
    QFETCH(QString, keys);
    QFETCH(QString, password);
    QFETCH(QStringList, said);
    qputenv("KRB5CCNAME", "FILE:" + m_dir.filePath(QStringLiteral("kein-ticket")).toUtf8());
    const auto noTicket = qScopeGuard([] { qunsetenv("KRB5CCNAME"); });
    std::unique_ptr<directory::Client> c;
    QVERIFY(succeeds([&] { c = client(QString(keys).replace(QStringLiteral("%1"), m_uri).replace(QStringLiteral("%2"), kAdmin), password); })); // a bad tree must not stop the others
    const QString error = errorOf([&] { c->tree(QStringLiteral("LDAP")); });
    for (const QString &words : said)
        QVERIFY2(error.contains(words), qPrintable(error));
}

void LdapTest::startTls_verifiesAgainstGivenCa()
{
    const QString ca = m_dir.filePath(QStringLiteral("slapd/cert.pem"));
    auto trusted = client(QStringLiteral("uri=%1\nstarttls=true\ncafile=%2\nbind=simple\nbinddn=%3").arg(m_uri, ca, kAdmin));
    QString className;
    QVERIFY(succeeds([&] { className = trusted->tree(QStringLiteral("LDAP")).className(QStringLiteral("NDS:\\\\LDAP\\Gym")); }));
    QCOMPARE(className, QStringLiteral("Organization"));
    auto untrusted = client(QStringLiteral("uri=%1\nstarttls=true\nbind=simple\nbinddn=%2").arg(m_uri, kAdmin));
    QVERIFY_THROWS_EXCEPTION(platform::Error, untrusted->tree(QStringLiteral("LDAP")));
}

void LdapTest::certificateForAnotherName_namesBoth()
{
    const QString dir = m_dir.filePath(QStringLiteral("slapd-vm"));
    QDir().mkpath(dir);
    QCOMPARE(QProcess::execute(QStringLiteral("openssl"),
                               {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"), QStringLiteral("-nodes"),
                                QStringLiteral("-keyout"), dir + QStringLiteral("/key.pem"), QStringLiteral("-out"), dir + QStringLiteral("/cert.pem"),
                                QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=vm"), QStringLiteral("-addext"),
                                QStringLiteral("subjectAltName=DNS:vm")}),
             0);
    SlapdServer slapd(dir, m_dir.filePath(QStringLiteral("data.ldif")));
    QVERIFY2(slapd.start(), qPrintable(slapd.error()));
    const QString wrongName = QStringLiteral("das Zertifikat gilt für vm, nicht für 127.0.0.1");
    // The issuer known: only the name is wrong, and cafile= is no help.
    auto known = client(QStringLiteral("uri=%1\nstarttls=true\ncafile=%2").arg(slapd.uri(), dir + QStringLiteral("/cert.pem")));
    QString error = errorOf([&] { known->tree(QStringLiteral("LDAP")); });
    QVERIFY2(error.contains(wrongName) && !error.contains(QStringLiteral("cafile=")), qPrintable(error));
    // The issuer unknown too: both are said.
    auto unknown = client(QStringLiteral("uri=%1\nstarttls=true").arg(slapd.uri()));
    error = errorOf([&] { unknown->tree(QStringLiteral("LDAP")); });
    QVERIFY2(error.contains(wrongName) && error.contains(QStringLiteral("cafile=")), qPrintable(error));
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
    QTimer::singleShot(400, [this] { m_slapd->stop(); });
    form.SetRunButtonFace(form.FGlyphCancel);
    QVERIFY_THROWS_EXCEPTION(platform::Error, form.RunAssignment());
    const QString status = form.StatusBar1->panelText(0);
    const int counted = status.section(QLatin1Char('/'), 0, 0).toInt();
    QVERIFY2(counted >= 1 && counted < 1200, qPrintable(status));
    QCOMPARE(form.ListBox1->count(), 1 + counted - 1 + 3); // the record's line; the failed user has no line
    QCOMPARE(form.ListBox1->line(form.ListBox1->count() - 2), QStringLiteral("eingetragen bei %1 Benutzern").arg(counted - 1));
    QVERIFY(form.ListBox1->line(form.ListBox1->count() - 1).contains(QStringLiteral("nicht versucht: ")));

    QVERIFY2(m_slapd->start(), qPrintable(m_slapd->error()));
    m_uri = m_slapd->uri();
    const QString out = ldapsearch({QStringLiteral("-b"), QStringLiteral("ou=Viele,o=Gym,") + kSuffix, QStringLiteral("(ou=Viele)"), QStringLiteral("dn")});
    // Nothing after the failed write was written; the failed one itself may
    // have been stored by the server before it went away, its answer lost.
    const int written = static_cast<int>(out.count(QStringLiteral("dn:")));
    QVERIFY2(written == counted - 1 || written == counted, qPrintable(QStringLiteral("%1 written, %2 counted").arg(written).arg(counted)));
    // The next operation reconnects; so does one after a restart of the
    // server while the tree stood idle.
    QString className;
    QVERIFY(succeeds([&] { className = c->tree(QStringLiteral("LDAP")).className(QStringLiteral("NDS:\\\\LDAP\\Gym\\Viele\\v1")); }));
    QCOMPARE(className, QStringLiteral("User"));
    m_slapd->stop();
    QVERIFY2(m_slapd->start(), qPrintable(m_slapd->error()));
    m_uri = m_slapd->uri();
    QVERIFY(succeeds([&] {
        c->tree(QStringLiteral("LDAP")).putAndStore(QStringLiteral("NDS:\\\\LDAP\\Gym\\Viele\\v2"), QStringLiteral("OU"), QStringLiteral("neu"));
        className = c->tree(QStringLiteral("LDAP")).className(QStringLiteral("NDS:\\\\LDAP\\Gym\\Viele\\v2"));
    }));
    QCOMPARE(className, QStringLiteral("User"));
}

void LdapTest::listingDuringSearch_eachGetsItsOwnAnswers()
{
    // The browser looks up a class and lists a container while a run's paged
    // search is still being answered: each gets its own answers, and neither
    // disturbs the other's paging.
    auto c = client(QStringLiteral("uri=%1\nbind=simple\nbinddn=%2").arg(m_uri, kAdmin));
    directory::Tree *tree = nullptr;
    QVERIFY(succeeds([&] { tree = &c->tree(QStringLiteral("LDAP")); }));
    for (int run = 0; run < 20; ++run) {
        qsizetype hits = -1;
        QString failure;
        tree->search(QStringLiteral("NDS:\\\\LDAP\\Gym\\Viele"), QStringLiteral("User"), directory::Scope::Subtree, QString(),
                     [&](const directory::Found &found, std::exception_ptr f) {
                         hits = f ? -2 : found.size();
                         failure = f ? platform::messageOf(f) : QString();
                     });
        qsizetype listed = 0;
        QString className;
        QVERIFY(succeeds([&] {
            className = tree->className(QStringLiteral("NDS:\\\\LDAP\\Gym\\Abi05a\\p%1").arg(run % 6 + 1));
            listed = tree->children(QStringLiteral("NDS:\\\\LDAP\\Gym\\Viele"), {}).size();
        }));
        QCOMPARE(className, QStringLiteral("User"));
        QCOMPARE(listed, 1200);
        QTRY_VERIFY_WITH_TIMEOUT(hits != -1, 30000);
        QVERIFY2(hits == 1200, qPrintable(failure));
    }
}

void LdapTest::listingDuringLongSearch_answeredAtOnce()
{
    FakeLdapServer server(FakeLdapServer::Behaviour::SlowPages); // the search takes 6 s
    auto c = client(QStringLiteral("uri=%1\nbase=dc=fake\ntimeout=5").arg(server.uri()));
    directory::Tree *tree = nullptr;
    QVERIFY(succeeds([&] { tree = &c->tree(QStringLiteral("LDAP")); }));
    qsizetype hits = -1;
    tree->search(QStringLiteral("NDS:\\\\LDAP"), QStringLiteral("User"), directory::Scope::Subtree, QString(),
                 [&](const directory::Found &found, std::exception_ptr f) { hits = f ? -2 : found.size(); });
    QTest::qWait(2500);
    qsizetype listed = 0;
    QVERIFY(succeeds([&] { listed = tree->children(QStringLiteral("NDS:\\\\LDAP"), {}).size(); }));
    QCOMPARE(listed, 1);
    QCOMPARE(hits, -1); // still under way
    QTRY_COMPARE_WITH_TIMEOUT(hits, 12, 10000);
}

void LdapTest::cancel_abandonsTheSearch()
{
    FakeLdapServer server(FakeLdapServer::Behaviour::SlowPages);
    auto c = client(QStringLiteral("uri=%1\nbase=dc=fake\ntimeout=5").arg(server.uri()));
    directory::Tree *tree = nullptr;
    QVERIFY(succeeds([&] { tree = &c->tree(QStringLiteral("LDAP")); }));
    const int before = server.searches(); // the server's recognition, at the start
    QString ended;
    tree->search(QStringLiteral("NDS:\\\\LDAP"), QStringLiteral("User"), directory::Scope::Subtree, QString(),
                 [&](const directory::Found &, std::exception_ptr f) { ended = f ? platform::messageOf(f) : QStringLiteral("kein Fehler"); });
    QTRY_COMPARE(server.searches() - before, 2); // the first page came
    tree->cancelSearches();
    QVERIFY2(ended.contains(QStringLiteral("abgebrochen")), qPrintable(ended));
    QTRY_COMPARE_WITH_TIMEOUT(server.abandons(), 1, 500);
    QTest::qWait(1000);
    QCOMPARE(server.searches() - before, 2); // no page asked for after it
}

void LdapTest::cancel_nextSearchGetsItsOwnAnswer()
{
    // Whether the server was told to stop is counted against the fake (cancel_abandonsTheSearch);
    // here a real server shows that the connection serves the next search exactly.
    auto c = client(QStringLiteral("uri=%1\nbind=simple\nbinddn=%2").arg(m_uri, kAdmin));
    directory::Tree *tree = nullptr;
    QVERIFY(succeeds([&] { tree = &c->tree(QStringLiteral("LDAP")); }));
    const auto search = [&](const QString &base, QString &ended, qsizetype &hits) {
        tree->search(base, QStringLiteral("User"), directory::Scope::Subtree, QStringLiteral("OU"),
                     [&ended, &hits](const directory::Found &found, std::exception_ptr f) {
                         ended = f ? platform::messageOf(f) : QStringLiteral("kein Fehler");
                         hits = found.size();
                     });
    };
    QString cancelled;
    qsizetype ignored = 0;
    search(QStringLiteral("NDS:\\\\LDAP\\Lang"), cancelled, ignored);
    tree->cancelSearches();
    QVERIFY2(cancelled.contains(QStringLiteral("abgebrochen")), qPrintable(cancelled));
    QString next;
    qsizetype hits = 0;
    search(QStringLiteral("NDS:\\\\LDAP\\Gym\\Abi05a"), next, hits);
    QTRY_VERIFY_WITH_TIMEOUT(!next.isEmpty(), 60000);
    QCOMPARE(next, QStringLiteral("kein Fehler"));
    QCOMPARE(hits, 6);
}

void LdapTest::references_namedNeverSilent()
{
    auto c = client(QStringLiteral("uri=%1\nbind=simple\nbinddn=%2").arg(m_uri, kAdmin));
    directory::Tree *tree = nullptr;
    QVERIFY(succeeds([&] { tree = &c->tree(QStringLiteral("LDAP")); }));
    directory::Found found;
    bool done = false;
    tree->search(QStringLiteral("NDS:\\\\LDAP\\Gym\\Verweise"), QStringLiteral("User"), directory::Scope::Subtree, QString(),
                 [&](const directory::Found &hits, std::exception_ptr) {
                     found = hits;
                     done = true;
                 });
    QTRY_VERIFY(done);
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.references.size(), 2);
    for (const directory::Reference &reference : std::as_const(found.references))
        QCOMPARE(reference.mayHoldUsers, reference.url.contains(QStringLiteral("anderer.test")));

    // The window's run writes what it found, then names the part it could
    // not search; the DNS zone holds no users and is not named.
    nwcontrols::registerControls(*c);
    TForm1 form(m_dir.path());
    form.FStartContext = QStringLiteral("NDS:\\\\LDAP\\Gym\\Verweise");
    form.EdContext->setText(QStringLiteral("Verweise.Gym"));
    form.ChSub->setChecked(true);
    form.SetRunButtonFace(form.FGlyphCancel);
    const QString error = errorOf([&] { form.RunAssignment(); });
    QVERIFY2(error.contains(QStringLiteral("ldap://anderer.test/ou=Fern")) && !error.contains(QStringLiteral("DomainDnsZones")), qPrintable(error));
    QCOMPARE(form.ListBox1->line(form.ListBox1->count() - 1), QStringLiteral("eingetragen bei 1 Benutzern"));
}

void LdapTest::sameFullName_neverWritten()
{
    // cn=mueller and uid=mueller are both ...\Doppel\mueller.
    auto c = client(QStringLiteral("uri=%1\nbind=simple\nbinddn=%2").arg(m_uri, kAdmin));
    nwcontrols::registerControls(*c);
    TForm1 form(m_dir.path());
    form.FStartContext = QStringLiteral("NDS:\\\\LDAP\\Gym\\Doppel");
    form.EdContext->setText(QStringLiteral("Doppel.Gym"));
    form.raForm->setItemIndex(0);
    form.SetRunButtonFace(form.FGlyphCancel);
    const QString error = errorOf([&] { form.RunAssignment(); });
    QVERIFY2(error.isEmpty(), qPrintable(error)); // both are left out, and the run goes on
    for (const int line : {1, 2})
        QVERIFY2(form.ListBox1->line(line).endsWith(QStringLiteral("– nicht eingetragen: Name nicht eindeutig")), qPrintable(form.ListBox1->line(line)));
    const QString out = ldapsearch({QStringLiteral("-b"), QStringLiteral("ou=Doppel,o=Gym,") + kSuffix, QStringLiteral("(ou=*)"), QStringLiteral("dn")});
    QVERIFY2(!out.contains(QStringLiteral("mueller")), qPrintable(out));
}

void LdapTest::severalStoresInFlight_eachAnswered()
{
    auto c = client(QStringLiteral("uri=%1\nbind=simple\nbinddn=cn=lehrer,%2").arg(m_uri, kSuffix), QStringLiteral("lehren"));
    directory::LdapTree *tree = nullptr;
    QVERIFY(succeeds([&] { tree = dynamic_cast<directory::LdapTree *>(&c->tree(QStringLiteral("LDAP"))); }));
    QVERIFY(tree);
    int stored = 0;
    QStringList failures;
    QVERIFY(succeeds([&] {
        for (int i = 1; i <= 50; ++i)
            tree->startPutAndStore(QStringLiteral("NDS:\\\\LDAP\\Gym\\Flug\\f%1").arg(i), QStringLiteral("OU"), QStringLiteral("Flug %1").arg(i),
                                   [&](std::exception_ptr failure) { failure ? failures.append(platform::messageOf(failure)) : void(++stored); });
        // One that the server refuses, among them: its answer is its own.
        tree->startPutAndStore(QStringLiteral("NDS:\\\\LDAP\\Gym\\Flug\\f1"), QStringLiteral("objectClass"), QString(),
                               [&](std::exception_ptr failure) {
                                   failures.append(failure ? kindOf(failure) + QLatin1Char(' ') + platform::messageOf(failure) : QStringLiteral("stored"));
                               });
    }));
    QTRY_COMPARE_WITH_TIMEOUT(stored + failures.size(), 51, 30000);
    QCOMPARE(stored, 50);
    QVERIFY2(failures.first().startsWith(QStringLiteral("refused")) && failures.first().contains(QStringLiteral("objectClass")),
             qPrintable(failures.first()));
    const QString out = ldapsearch({QStringLiteral("-b"), QStringLiteral("ou=Flug,o=Gym,") + kSuffix, QStringLiteral("ou")});
    for (int i = 1; i <= 50; ++i)
        QVERIFY2(out.contains(QStringLiteral("cn=f%1,ou=Flug,o=Gym,%2\nou: Flug %1\n").arg(i).arg(kSuffix)), qPrintable(out));
}

void LdapTest::anonymousWrite_saysBindWithBindDn()
{
    auto c = client(QStringLiteral("uri=%1").arg(m_uri));
    const QString error = errorOf([&] {
        c->tree(QStringLiteral("LDAP")).putAndStore(QStringLiteral("NDS:\\\\LDAP\\Gym\\Abi05a\\p2"), QStringLiteral("OU"), QStringLiteral("anonym"));
    });
    QVERIFY2(error.contains(QStringLiteral("binddn=")) && !error.contains(QStringLiteral("starttls")), qPrintable(error));
}

void LdapTest::storeFailures_sayWhetherSent_data()
{
    QTest::addColumn<bool>("serverGone");
    QTest::addColumn<QString>("kind");
    QTest::newRow("no answer") << false << "unconfirmed";
    QTest::newRow("server gone before sending") << true << "not sent";
}

void LdapTest::storeFailures_sayWhetherSent()
{
    QFETCH(bool, serverGone);
    QFETCH(QString, kind);
    auto server = std::make_unique<FakeLdapServer>(FakeLdapServer::Behaviour::SameCookiePages); // never answers a write
    auto c = client(QStringLiteral("uri=%1\nbase=dc=fake\ntimeout=1").arg(server->uri()));
    directory::Tree *tree = nullptr;
    QVERIFY(succeeds([&] { tree = &c->tree(QStringLiteral("LDAP")); }));
    QList<directory::FoundObject> users;
    bool found = false;
    tree->search(QStringLiteral("NDS:\\\\LDAP"), QStringLiteral("User"), directory::Scope::Subtree, QStringLiteral("OU"),
                 [&](const directory::Found &hits, std::exception_ptr) {
                     users = QList<directory::FoundObject>(hits.begin(), hits.end());
                     found = true;
                 });
    QTRY_VERIFY(found);
    QCOMPARE(users.size(), 4);
    if (serverGone)
        server.reset();
    QList<directory::ValueChange> changes;
    for (const directory::FoundObject &user : std::as_const(users))
        changes.append({user.fullName, QStringLiteral("OU"), {}, {QStringLiteral("7a")}});
    QStringList failures(changes.size());
    tree->storeChanges(changes, [&](qsizetype i, std::exception_ptr failure) {
        failures[i] = failure ? kindOf(failure) + QLatin1Char(' ') + platform::messageOf(failure) : QStringLiteral("stored");
        return true;
    });
    for (qsizetype i = 0; i < changes.size(); ++i) // each names its own user
        QVERIFY2(failures[i].startsWith(kind) && failures[i].contains(changes[i].fullName), qPrintable(failures[i]));
}

void LdapTest::misbehavingServer_endsAtDeadline_data()
{
    QTest::addColumn<FakeLdapServer::Behaviour>("behaviour");
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<bool>("binds"); // then the search is what fails
    QTest::addColumn<QString>("said");
    QTest::newRow("no answer to the bind") << FakeLdapServer::Behaviour::Silent << "ldap" << "" << false << "(-5)";
    QTest::newRow("no answer to StartTLS") << FakeLdapServer::Behaviour::Silent << "ldap" << "starttls=true" << false << "(-5)";
    QTest::newRow("StartTLS agreed, handshake never done") << FakeLdapServer::Behaviour::StartTlsThenSilent << "ldap" << "starttls=true" << false << "(-5)";
    QTest::newRow("ldaps handshake never done") << FakeLdapServer::Behaviour::Silent << "ldaps" << "" << false << "(-5)";
    QTest::newRow("bind answered, search never") << FakeLdapServer::Behaviour::BindOnly << "ldap" << "" << true << "(-5)";
    QTest::newRow("garbage") << FakeLdapServer::Behaviour::Garbage << "ldap" << "" << true << "(-4)";
    QTest::newRow("a message of 400 MB") << FakeLdapServer::Behaviour::Huge << "ldap" << "" << true << "64 MiB";
}

void LdapTest::misbehavingServer_endsAtDeadline()
{
    QFETCH(FakeLdapServer::Behaviour, behaviour);
    QFETCH(QString, scheme);
    QFETCH(QString, keys);
    QFETCH(bool, binds);
    QFETCH(QString, said);
    FakeLdapServer server(behaviour);
    const double before = peakMemoryMiB(true);
    auto c = client(QStringLiteral("uri=%1\ntimeout=2\n%2").arg(server.uri(scheme), keys));
    int ticks = 0; // the window stays live while it waits
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(100);
    QElapsedTimer clock;
    clock.start();
    QString error = errorOf([&] { c->tree(QStringLiteral("LDAP")); });
    if (binds) {
        QVERIFY2(error.isEmpty(), qPrintable(error));
        bool done = false;
        bool unreachable = false; // the command line's exit code 2: no answer, nothing written
        c->tree(QStringLiteral("LDAP")).search(QStringLiteral("NDS:\\\\LDAP"), QStringLiteral("User"), directory::Scope::Subtree, QString(),
                                               [&](const directory::Found &, std::exception_ptr failure) {
                                                   error = failure ? platform::messageOf(failure) : QStringLiteral("kein Fehler");
                                                   try {
                                                       if (failure)
                                                           std::rethrow_exception(failure);
                                                   } catch (const directory::ServerUnreachable &) {
                                                       unreachable = true;
                                                   } catch (...) {
                                                   }
                                                   done = true;
                                               });
        QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
        QCOMPARE(unreachable, said == QLatin1String("(-5)"));
    }
    QVERIFY2(clock.elapsed() < 6000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY2(error.contains(said), qPrintable(error));
    if (behaviour == FakeLdapServer::Behaviour::Huge)
        QVERIFY2(peakMemoryMiB(false) - before < 100, qPrintable(QString::number(peakMemoryMiB(false) - before)));
    if (said == QLatin1String("(-5)"))
        QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
}

void LdapTest::stalledHandshake_endsAtTimeout_data()
{
    QTest::addColumn<FakeLdapServer::Behaviour>("behaviour");
    QTest::addColumn<QString>("keys");
    QTest::newRow("bind") << FakeLdapServer::Behaviour::Silent << "";
    QTest::newRow("StartTLS handshake") << FakeLdapServer::Behaviour::TrickleTls << "starttls=true";
    QTest::newRow("ldaps handshake") << FakeLdapServer::Behaviour::TrickleTls << "ldaps";
}

void LdapTest::stalledHandshake_endsAtTimeout()
{
    // Twenty tries at once, each on a thread of its own with nothing else to
    // wake its message pump (no ticker, no other timer), while both cores
    // are busy.
    QFETCH(FakeLdapServer::Behaviour, behaviour);
    QFETCH(QString, keys);
    FakeLdapServer server(behaviour);
    const QString uri = server.uri(keys == QLatin1String("ldaps") ? keys : QStringLiteral("ldap"));
    constexpr int kTries = 20;
    std::vector<std::unique_ptr<directory::Client>> clients;
    for (int i = 0; i < kTries; ++i)
        clients.push_back(client(QStringLiteral("uri=%1\ntimeout=2\n%2").arg(uri, keys == QLatin1String("ldaps") ? QString() : keys)));
    std::atomic<bool> stop = false;
    std::vector<std::thread> busy;
    for (int i = 0; i < 2; ++i)
        busy.emplace_back([&stop] {
            while (!stop.load(std::memory_order_relaxed)) {
            }
        });
    struct Try {
        std::atomic<qint64> ms = -1;
        QString error;
    };
    std::vector<Try> tries(kTries);
    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 0; i < kTries; ++i) {
        threads.emplace_back(QThread::create([&, i] {
            QElapsedTimer clock;
            clock.start();
            tries[i].error = errorOf([&] { clients[i]->tree(QStringLiteral("LDAP")); });
            tries[i].ms = clock.elapsed();
        }));
        threads.back()->start();
    }
    const QDeadlineTimer patience(6000);
    const auto allEnded = [&] { return std::all_of(tries.begin(), tries.end(), [](const Try &t) { return t.ms >= 0; }); };
    while (!allEnded() && !patience.hasExpired())
        QTest::qWait(50); // the fake server answers from here
    const bool ended = allEnded();
    for (const auto &thread : threads) { // a hung one is woken, so that it can be joined
        if (auto *dispatcher = QAbstractEventDispatcher::instance(thread.get()))
            dispatcher->wakeUp();
        thread->wait();
    }
    stop = true;
    for (std::thread &thread : busy)
        thread.join();
    QVERIFY2(ended, "a try did not end by its deadline");
    for (const Try &t : tries) {
        QVERIFY2(t.error.contains(QStringLiteral("(-5)")), qPrintable(t.error));
        QVERIFY2(t.ms >= 2000 && t.ms < 3000, qPrintable(QString::number(t.ms)));
    }
}

void LdapTest::kerberos_bindsWithTheUsersTicket()
{
    // A throw-away realm with the user's ticket, and a slapd of its own that
    // holds the service's key.
    const QString realm = m_dir.filePath(QStringLiteral("krb5"));
    QProcess kdc;
    kdc.start(QStringLiteral("bash"), {QStringLiteral(KLASSOMAT_KDC_SCRIPT), QStringLiteral("start"), realm,
                                       QString::number(QCoreApplication::applicationPid())});
    const auto stopKdc = qScopeGuard([&] { QProcess::execute(QStringLiteral("bash"), {QStringLiteral(KLASSOMAT_KDC_SCRIPT), QStringLiteral("stop"), realm}); });
    QVERIFY(kdc.waitForFinished(120000));
    QVERIFY2(kdc.exitCode() == 0, kdc.readAllStandardError().constData());
    qputenv("KRB5_CONFIG", (realm + QStringLiteral("/krb5.conf")).toUtf8());
    qputenv("KRB5CCNAME", ("FILE:" + realm + QStringLiteral("/ccache")).toUtf8());
    qputenv("KRB5_KTNAME", (realm + QStringLiteral("/ldap.keytab")).toUtf8());
    const auto environment = qScopeGuard([] {
        for (const char *name : {"KRB5_CONFIG", "KRB5CCNAME", "KRB5_KTNAME"})
            qunsetenv(name);
    });
    SlapdServer slapd(m_dir.filePath(QStringLiteral("slapd-krb5")), m_dir.filePath(QStringLiteral("data.ldif")));
    QVERIFY2(slapd.start(), qPrintable(slapd.error()));

    // The service is ldap/localhost: uri= names the server so.
    auto c = client(QStringLiteral("uri=%1\nbind=sasl\nmech=GSSAPI").arg(QString(slapd.uri()).replace(QStringLiteral("127.0.0.1"), QStringLiteral("localhost"))));
    // Only a bound user may write: the write shows the ticket was taken.
    QVERIFY(succeeds([&] { c->tree(QStringLiteral("LDAP")).putAndStore(QStringLiteral("NDS:\\\\LDAP\\Gym\\Abi05a\\p3"), QStringLiteral("OU"), QStringLiteral("Kerberos")); }));
    const QString out = ldapsearch({QStringLiteral("-b"), QStringLiteral("cn=p3,ou=Abi05a,o=Gym,") + kSuffix, QStringLiteral("ou")}, slapd.uri());
    QVERIFY2(out.contains(QStringLiteral("ou: Kerberos")), qPrintable(out));
}

QTEST_MAIN(LdapTest)
#include "test_ldap.moc"
