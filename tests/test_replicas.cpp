// A replicated OpenLDAP on loopback: a provider and a read-only consumer
// (syncrepl, updateref), with klassomat on the command line. A write sent to
// the copy ends at its first answer, naming the server that takes changes;
// the copy's referral is followed only to a server of uri=.
#include "support/klassomat_process.h"
#include "support/slapd_server.h"

#include <QtTest>

namespace {
const QString kSuffix = QStringLiteral("dc=schule,dc=test");
constexpr int kUsers = 5;
} // namespace

class ReplicasTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void writeToCopy_endsAtFirstAnswer_namesProvider_data();
    void writeToCopy_endsAtFirstAnswer_namesProvider();
    void copyBeforeProviderInUri_followedThenReplicated();

private:
    Result klassomat(const QString &uri, const QStringList &arguments);
    QString values(const QString &uri);
    // Waits, a bounded number of rounds, until the consumer shows `expected`.
    bool consumerShows(const QString &expected);

    QTemporaryDir m_dir;
    std::unique_ptr<SlapdServer> m_provider;
    std::unique_ptr<SlapdServer> m_consumer;
};

void ReplicasTest::initTestCase()
{
    QByteArray data = "dn: dc=schule,dc=test\nobjectClass: dcObject\nobjectClass: organization\no: Schule\ndc: schule\n\n"
                      "dn: o=Gym,dc=schule,dc=test\nobjectClass: organization\no: Gym\n\n"
                      "dn: ou=Klasse,o=Gym,dc=schule,dc=test\nobjectClass: organizationalUnit\nou: Klasse\n\n";
    for (int i = 1; i <= kUsers; ++i)
        data += "dn: cn=k" + QByteArray::number(i) + ",ou=Klasse,o=Gym,dc=schule,dc=test\nobjectClass: inetOrgPerson\ncn: k"
                + QByteArray::number(i) + "\nsn: S\nou: alt\n\n";
    QFile file(m_dir.filePath(QStringLiteral("data.ldif")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(data);
    file.close();
    qputenv("SLAPD_PROVIDER", "1");
    m_provider = std::make_unique<SlapdServer>(m_dir.filePath(QStringLiteral("provider")), file.fileName());
    const bool providing = m_provider->start();
    qunsetenv("SLAPD_PROVIDER");
    QVERIFY2(providing, qPrintable(m_provider->error()));
    qputenv("SLAPD_CONSUMER_OF", m_provider->uri().toUtf8());
    m_consumer = std::make_unique<SlapdServer>(m_dir.filePath(QStringLiteral("consumer")), file.fileName());
    const bool consuming = m_consumer->start();
    qunsetenv("SLAPD_CONSUMER_OF");
    QVERIFY2(consuming, qPrintable(m_consumer->error()));
    QVERIFY2(consumerShows(QStringLiteral("ou: alt")), "the consumer never took the provider's entries");
    QFile password(m_dir.filePath(QStringLiteral("pw")));
    QVERIFY(password.open(QIODevice::WriteOnly));
    password.write("geheim");
    password.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
}

Result ReplicasTest::klassomat(const QString &uri, const QStringList &arguments)
{
    QFile ini(m_dir.filePath(QStringLiteral("dirclient.ini")));
    if (!ini.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    ini.write(QStringLiteral("[LDAP]\nuri=%1\nbase=%2\nbind=simple\nbinddn=cn=admin,%2\npasswordfile=pw\n").arg(uri, kSuffix).toUtf8());
    ini.close();
    return runKlassomat(arguments, commandEnvironment(m_dir.path()), 60000);
}

QString ReplicasTest::values(const QString &uri)
{
    QProcess process;
    process.start(QStringLiteral("ldapsearch"), {QStringLiteral("-x"), QStringLiteral("-LLL"), QStringLiteral("-H"), uri,
                                                 QStringLiteral("-b"), QStringLiteral("ou=Klasse,o=Gym,") + kSuffix,
                                                 QStringLiteral("(cn=k*)"), QStringLiteral("ou")});
    process.waitForFinished(30000);
    QStringList lines;
    for (const QString &line : QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("ou: ")))
            lines.append(line);
    }
    lines.removeDuplicates();
    return lines.join(QLatin1Char('\n'));
}

bool ReplicasTest::consumerShows(const QString &expected)
{
    for (int round = 0; round < 300; ++round) {
        if (values(m_consumer->uri()) == expected)
            return true;
        QThread::msleep(100);
    }
    return false;
}

void ReplicasTest::writeToCopy_endsAtFirstAnswer_namesProvider_data()
{
    QTest::addColumn<bool>("continueAfterRefusal");
    QTest::newRow("stops at a refusal") << false;
    QTest::newRow("--continue") << true;
}

void ReplicasTest::writeToCopy_endsAtFirstAnswer_namesProvider()
{
    QFETCH(bool, continueAfterRefusal);
    QStringList arguments{QStringLiteral("run"), QStringLiteral("--context"), QStringLiteral("Klasse.Gym"), QStringLiteral("--form"),
                          QStringLiteral("0"), QStringLiteral("--yes")};
    if (continueAfterRefusal)
        arguments.append(QStringLiteral("--continue"));
    const Result result = klassomat(m_consumer->uri(), arguments);
    QCOMPARE(result.code, 1);
    const QString named = QStringLiteral("%1 ist eine schreibgeschützte Kopie; Änderungen nimmt %2 an").arg(m_consumer->uri(), m_provider->uri());
    QVERIFY2(result.err.contains(named) && result.err.contains(QStringLiteral("nicht in uri=")), qPrintable(result.err));
    QCOMPARE(result.err.count(QStringLiteral("Abgelehnt")), 1); // no column of refusals
    QVERIFY2(!result.err.contains(QStringLiteral("Referral (10)")), qPrintable(result.err));
    QVERIFY2(result.out.contains(QStringLiteral("Laufprotokoll: ")), qPrintable(result.out));
    QCOMPARE(values(m_provider->uri()), QStringLiteral("ou: alt"));
}

void ReplicasTest::copyBeforeProviderInUri_followedThenReplicated()
{
    const Result result = klassomat(m_consumer->uri() + QLatin1Char(' ') + m_provider->uri(),
                                    {QStringLiteral("run"), QStringLiteral("--context"), QStringLiteral("Klasse.Gym"), QStringLiteral("--form"),
                                     QStringLiteral("0"), QStringLiteral("--yes")});
    QVERIFY2(result.code == 0, qPrintable(result.err));
    QCOMPARE(values(m_provider->uri()), QStringLiteral("ou: Klasse"));
    QVERIFY2(consumerShows(QStringLiteral("ou: Klasse")), qPrintable(values(m_consumer->uri())));
}

QTEST_GUILESS_MAIN(ReplicasTest)
#include "test_replicas.moc"
