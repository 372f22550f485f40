// Which server a root DSE names, the class and attribute defaults it brings
// (every INI key wins), and values compared as the server compares them.
#include "directory/schema_map.h"
#include "runs/designation.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using directory::ServerKind;
Q_DECLARE_METATYPE(directory::ServerKind)

class ServerMappingTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void recogniseServer_byRootDse_data();
    void recogniseServer_byRootDse();
    void defaults_iniKeysWin_data();
    void defaults_iniKeysWin();
    void activeDirectory_computerIsNoUser();
    void valuesAfter_comparesAsTheServer_data();
    void valuesAfter_comparesAsTheServer();
};

void ServerMappingTest::recogniseServer_byRootDse_data()
{
    QTest::addColumn<QStringList>("capabilities");
    QTest::addColumn<QString>("vendor");
    QTest::addColumn<ServerKind>("kind");
    const QStringList ad{QStringLiteral("1.2.840.113556.1.4.800"), QStringLiteral("1.2.840.113556.1.4.1670")};
    QTest::newRow("Active Directory by its capability") << ad << QString() << ServerKind::ActiveDirectory;
    QTest::newRow("Samba as a domain controller") << ad << QStringLiteral("Samba Team (https://www.samba.org)") << ServerKind::ActiveDirectory;
    QTest::newRow("389") << QStringList{} << QStringLiteral("389 Project") << ServerKind::Ds389;
    QTest::newRow("eDirectory (NetIQ)") << QStringList{} << QStringLiteral("NetIQ Corporation") << ServerKind::EDirectory;
    QTest::newRow("eDirectory (Novell)") << QStringList{} << QStringLiteral("Novell, Inc.") << ServerKind::EDirectory;
    QTest::newRow("no vendor: OpenLDAP") << QStringList{} << QString() << ServerKind::OpenLdap;
}

void ServerMappingTest::recogniseServer_byRootDse()
{
    QFETCH(QStringList, capabilities);
    QFETCH(QString, vendor);
    QFETCH(ServerKind, kind);
    QCOMPARE(directory::recogniseServer(capabilities, vendor), kind);
}

void ServerMappingTest::defaults_iniKeysWin_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<ServerKind>("kind");
    QTest::addColumn<QString>("userFilter");
    QTest::addColumn<QString>("unitFilter");
    QTest::addColumn<QString>("attribute");
    QTest::addColumn<int>("taken");
    const QString adUsers = QStringLiteral("(&(objectCategory=person)(objectClass=user))");
    const QString adUnits = QStringLiteral("(|(objectClass=organizationalUnit)(objectClass=container))");
    QTest::newRow("AD, nothing set") << QByteArray() << ServerKind::ActiveDirectory << adUsers << adUnits << QStringLiteral("department") << 4;
    QTest::newRow("AD, own class: still persons only") << QByteArray("class.User=person\n") << ServerKind::ActiveDirectory
                                                       << QStringLiteral("(&(objectCategory=person)(objectClass=person))") << adUnits
                                                       << QStringLiteral("department") << 3;
    QTest::newRow("AD, own filter and attribute") << QByteArray("filter.User=(sAMAccountName=s*)\nattribute.OU=ou\n")
                                                  << ServerKind::ActiveDirectory << QStringLiteral("(sAMAccountName=s*)") << adUnits
                                                  << QStringLiteral("ou") << 2;
    QTest::newRow("AD, filter without parentheses") << QByteArray("filter.User=objectClass=user\n") << ServerKind::ActiveDirectory
                                                    << QStringLiteral("(objectClass=user)") << adUnits << QStringLiteral("department") << 3;
    QTest::newRow("389 takes nothing") << QByteArray() << ServerKind::Ds389 << QStringLiteral("(objectClass=inetOrgPerson)")
                                       << QStringLiteral("(objectClass=organizationalUnit)") << QStringLiteral("ou") << 0;
    QTest::newRow("any server: several classes, a filter with a comma")
        << QByteArray("class.Organizational Unit=organizationalUnit, container\nfilter.User=(memberOf=cn=sus,ou=g)\n")
        << ServerKind::OpenLdap << QStringLiteral("(memberOf=cn=sus,ou=g)") << adUnits << QStringLiteral("ou") << 0;
}

void ServerMappingTest::defaults_iniKeysWin()
{
    QFETCH(QByteArray, ini);
    QFETCH(ServerKind, kind);
    QFETCH(QString, userFilter);
    QFETCH(QString, unitFilter);
    QFETCH(QString, attribute);
    QFETCH(int, taken);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("dirclient.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[T]\n" + ini);
    file.close();
    QSettings settings(file.fileName(), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("T"));
    directory::SchemaMap map;
    map.readOverrides(settings);
    QCOMPARE(map.applyServerDefaults(kind).size(), taken);
    QCOMPARE(map.filter(QStringLiteral("User")), userFilter);
    QCOMPARE(map.filter(QStringLiteral("Organizational Unit")), unitFilter);
    QCOMPARE(map.attribute(QStringLiteral("OU")), attribute);
}

void ServerMappingTest::activeDirectory_computerIsNoUser()
{
    directory::SchemaMap map;
    map.applyServerDefaults(ServerKind::ActiveDirectory);
    const QStringList user{QStringLiteral("top"), QStringLiteral("person"), QStringLiteral("organizationalPerson"), QStringLiteral("user")};
    QCOMPARE(map.ndsClass(user), QStringLiteral("User"));
    QCOMPARE(map.ndsClass(user + QStringList{QStringLiteral("computer")}), QStringLiteral("Computer"));
    QCOMPARE(map.ndsClass({QStringLiteral("top"), QStringLiteral("container")}), QStringLiteral("Organizational Unit"));
}

void ServerMappingTest::valuesAfter_comparesAsTheServer_data()
{
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<bool>("ignoreCase");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("ignoring case: the class in other case is replaced") << QStringList{"Schueler", "r7a"} << true << QStringList{"Schueler", "R7a"};
    QTest::newRow("ignoring case: a listed class in other case too") << QStringList{"Schueler", "6A"} << true << QStringList{"Schueler", "R7a"};
    QTest::newRow("ignoring case: one sorted apart by case") << QStringList{"Schueler", "A0"} << true << QStringList{"Schueler", "R7a"};
    QTest::newRow("exact: a listed class") << QStringList{"Schueler", "a0"} << false << QStringList{"Schueler", "R7a"};
    QTest::newRow("ignoring case: the designation itself") << QStringList{"R7A", "Bibliothek"} << true << QStringList{"Bibliothek", "R7a"};
    QTest::newRow("exact: other case is another value") << QStringList{"Schueler", "r7a"} << false << QStringList{"Schueler", "r7a", "R7a"};
    QTest::newRow("a single value is replaced either way") << QStringList{"r7a"} << true << QStringList{"R7a"};
}

void ServerMappingTest::valuesAfter_comparesAsTheServer()
{
    QFETCH(QStringList, values);
    QFETCH(bool, ignoreCase);
    QFETCH(QStringList, after);
    const QStringList classList{QStringLiteral("6a;R6a"), QStringLiteral("B1;R7"), QStringLiteral("Zz;R9"), QStringLiteral("a0;R8")};
    QCOMPARE(runs::valuesAfter(values, QStringLiteral("R7a"), classList, QStringLiteral("R7a"),
                               ignoreCase ? Qt::CaseInsensitive : Qt::CaseSensitive),
             after);
}

QTEST_GUILESS_MAIN(ServerMappingTest)
#include "test_server_mapping.moc"
