// The directory client: names and DNs, the embedded LDIF tree and its journal.
#include "directory/client.h"
#include "directory/dn.h"
#include "directory/full_name.h"
#include "directory/embedded/ldif_tree.h"
#include "platform/error.h"
#include "support/ldif_fixture.h"

#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using directory::LdifTree;
using directory::Scope;
using directory::SchemaMap;

namespace {
const QString kRoot = QStringLiteral("NDS:\\\\SCHULE");
QString name(const QString &path) { return kRoot + QLatin1Char('\\') + path; }

QStringList searchNow(directory::Tree &tree, const QString &base, const QString &cls, Scope scope)
{
    QStringList result;
    std::exception_ptr failure;
    tree.search(base, cls, scope, QString(), [&](const directory::Found &hits, std::exception_ptr f) {
        for (const directory::FoundObject &hit : hits)
            result.append(hit.fullName);
        failure = f;
    });
    if (failure)
        std::rethrow_exception(failure);
    return result;
}

using fixture::errorOf;
using fixture::readAll;
} // namespace

class DirectoryTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void dn_roundTrips_data();
    void dn_roundTrips();
    void fullName_parse();
    void load_mapsNamesAndClasses();
    void lookup_ignoresLetterCase();
    void lookup_missingObject_namesItInGerman();
    void search_scopesAndClassFilter();
    void children_filterByClass();
    void backslashName_isReportedNeverConfused();
    void malformedLdif_namesFileAndLine_data();
    void malformedLdif_namesFileAndLine();
    void emptyLdif_givesEmptyTree();
    void hugeLine_loads();
    void store_appendsReplayableRecord();
    void store_unchangedValue_appendsNothing();
    void store_emptyValue_removesAttribute();
    void reload_replaysJournal();
    void tornLastRecord_keepsCompleteOnesAndReports_data();
    void tornLastRecord_keepsCompleteOnesAndReports();
    void secondProgram_isLockedOut_crashedLockIsNot();
    void failedAppend_leavesTreeAndJournalUnchanged();
    void client_readsConfigAndAttachesDemoWithout();
    void client_missingConfigOrGeneralSection_data();
    void client_missingConfigOrGeneralSection();
    void client_usesOnlyItsOwnDataFolderAndPlainTreeFiles();
};

void DirectoryTest::dn_roundTrips_data()
{
    QTest::addColumn<QString>("value");
    for (const char *v : {"a,b", "a+b", "say \"hi\"", "<x>", "a;b", "a=b", "#lead", " lead", "trail ", "dots.in.name",
                          "Müller", "Łódź ş ő", "ü\xC2\xA0z"})
        QTest::newRow(v) << QString::fromUtf8(v);
}

void DirectoryTest::dn_roundTrips()
{
    QFETCH(QString, value);
    const QString dn = directory::dnBelow(directory::dnBelow({}, "o", u"Gym"), "cn", value);
    const auto parsed = directory::parseDn(dn);
    QCOMPARE(parsed.size(), 2);
    QCOMPARE(parsed.first().first().value, value);
    QCOMPARE(parsed.last().first().value, QStringLiteral("Gym"));
}

void DirectoryTest::fullName_parse()
{
    const auto parsed = directory::FullName::parse(QStringLiteral("NDS:\\\\SCHULE\\Gym\\Abi05a\\a, b"));
    QCOMPARE(parsed.treeName, QStringLiteral("SCHULE"));
    QCOMPARE(parsed.components, (QStringList{"Gym", "Abi05a", "a, b"}));
    QCOMPARE(parsed.toString(), QStringLiteral("NDS:\\\\SCHULE\\Gym\\Abi05a\\a, b"));
    QCOMPARE(directory::FullName::parse(kRoot).components, QStringList());
    QVERIFY(errorOf([] { directory::FullName::parse(QStringLiteral("SCHULE\\Gym")); }).contains(QStringLiteral("SCHULE\\Gym")));
    QVERIFY(!errorOf([] { directory::FullName::parse(QStringLiteral("NDS:\\\\SCHULE\\\\Gym")); }).isEmpty());
    // One trailing backslash is tolerated; any other empty part is not.
    QCOMPARE(directory::FullName::parse(QStringLiteral("nds:\\\\SCHULE\\Gym\\")).components, QStringList{"Gym"});
    const directory::FullNameShape shape = directory::shapeOf(u"NDS:\\\\SCHULE\\Gym\\Abi05a\\");
    QCOMPARE(shape.treeName, u"SCHULE");
    QCOMPARE(shape.path, u"Gym\\Abi05a");
    QCOMPARE(shape.depth, 2);
    QCOMPARE(directory::treeNameIn(u"nds:\\\\SCHULE\\Gym"), u"SCHULE");
    QVERIFY(directory::treeNameIn(u"SCHULE\\Gym").isEmpty());
    for (const char16_t *bad : {u"NDS:\\\\", u"NDS:\\\\\\Gym", u"NDS:\\\\SCHULE\\Gym\\\\", u"NDS:\\\\SCHULE\\\\"})
        QVERIFY2(!errorOf([&] { directory::shapeOf(bad); }).isEmpty(), qPrintable(QString::fromUtf16(bad)));
    // Names ignore case, beyond ASCII too, and only case.
    QVERIFY(directory::sameName(u"Abi05a", u"aBI05A"));
    QVERIFY(directory::sameName(u"Müller", u"MÜLLER"));
    QVERIFY(directory::sameName(u"Klasse", u"\u212Alasse")); // the Kelvin sign folds to k
    QVERIFY(!directory::sameName(u"a@", u"a`"));
    QVERIFY(!directory::sameName(u"[", u"{"));
    QVERIFY(!directory::sameName(u"Abi05a", u"Abi05"));
}

void DirectoryTest::load_mapsNamesAndClasses()
{
    QTemporaryDir dir;
    LdifTree tree(QStringLiteral("SCHULE"), fixture::write(dir, fixture::kSchool), QString(), SchemaMap());
    QCOMPARE(tree.className(kRoot), QStringLiteral("Top"));
    QCOMPARE(tree.className(name(QStringLiteral("Gym"))), QStringLiteral("Organization"));
    QCOMPARE(tree.className(name(QStringLiteral("Gym\\Abi05a"))), QStringLiteral("Organizational Unit"));
    QCOMPARE(tree.className(name(QStringLiteral("Gym\\Abi05a\\Schmidt, Anna"))), QStringLiteral("User"));
    QCOMPARE(tree.className(name(QStringLiteral("Gym\\Abi05a\\Abi04x\\Jürgen Łodzę"))), QStringLiteral("User"));
    QCOMPARE(tree.className(name(QStringLiteral("Gym\\Lehrer\\Kollegium"))), QStringLiteral("Group"));
}

void DirectoryTest::lookup_ignoresLetterCase()
{
    QTemporaryDir dir;
    LdifTree tree(QStringLiteral("SCHULE"), fixture::write(dir, fixture::kSchool), QString(), SchemaMap());
    QCOMPARE(tree.className(QStringLiteral("nds:\\\\schule\\GYM\\abi05A\\MUELLER")), QStringLiteral("User"));
}

void DirectoryTest::lookup_missingObject_namesItInGerman()
{
    QTemporaryDir dir;
    LdifTree tree(QStringLiteral("SCHULE"), fixture::write(dir, fixture::kSchool), QString(), SchemaMap());
    const QString missing = name(QStringLiteral("Gym\\Abi05a\\niemand"));
    QCOMPARE(errorOf([&] { tree.className(missing); }), QStringLiteral("Objekt %1 nicht gefunden").arg(missing));
    QVERIFY(errorOf([&] { tree.className(QStringLiteral("NDS:\\\\ANDERER\\Gym")); }).contains(QStringLiteral("nicht im Baum")));
}

void DirectoryTest::search_scopesAndClassFilter()
{
    QTemporaryDir dir;
    LdifTree tree(QStringLiteral("SCHULE"), fixture::write(dir, fixture::kSchool), QString(), SchemaMap());
    QCOMPARE(searchNow(tree, name(QStringLiteral("Gym\\Abi05a")), QStringLiteral("User"), Scope::OneLevel),
             (QStringList{name(QStringLiteral("Gym\\Abi05a\\mueller")), name(QStringLiteral("Gym\\Abi05a\\Schmidt, Anna"))}));
    QCOMPARE(searchNow(tree, kRoot, QStringLiteral("User"), Scope::Subtree),
             (QStringList{name(QStringLiteral("Gym\\Abi05a\\mueller")), name(QStringLiteral("Gym\\Abi05a\\Schmidt, Anna")),
                          name(QStringLiteral("Gym\\Abi05a\\Abi04x\\Jürgen Łodzę")), name(QStringLiteral("Gym\\Lehrer\\meier"))}));
    QCOMPARE(searchNow(tree, kRoot, QStringLiteral("Group"), Scope::Subtree), QStringList{name(QStringLiteral("Gym\\Lehrer\\Kollegium"))});
    QCOMPARE(searchNow(tree, name(QStringLiteral("Gym")), QStringLiteral("User"), Scope::OneLevel), QStringList());
    QVERIFY_THROWS_EXCEPTION(platform::Error, searchNow(tree, name(QStringLiteral("Gym\\Nix")), QStringLiteral("User"), Scope::Subtree));
}

void DirectoryTest::children_filterByClass()
{
    QTemporaryDir dir;
    LdifTree tree(QStringLiteral("SCHULE"), fixture::write(dir, fixture::kSchool), QString(), SchemaMap());
    const auto children = tree.children(name(QStringLiteral("Gym\\Abi05a")), {QStringLiteral("Organizational Unit")});
    QCOMPARE(children.size(), 1);
    QCOMPARE(children.first().fullName, name(QStringLiteral("Gym\\Abi05a\\Abi04x")));
    QCOMPARE(tree.children(name(QStringLiteral("Gym\\Abi05a")), {}).size(), 3);
    QCOMPARE(tree.children(kRoot, {}).first().className, QStringLiteral("Organization"));
}

void DirectoryTest::backslashName_isReportedNeverConfused()
{
    QTemporaryDir dir;
    const QByteArray ldif = QByteArray(fixture::kSchool)
                            + "\ndn: cn=a\\5Cb,ou=Lehrer,o=Gym\nobjectClass: inetOrgPerson\ncn: a\\b\nsn: x\n"
                              "\ndn: cn=a,ou=Lehrer,o=Gym\nobjectClass: inetOrgPerson\ncn: a\nsn: y\n";
    LdifTree tree(QStringLiteral("SCHULE"), fixture::write(dir, ldif), QString(), SchemaMap());
    const QString error = errorOf([&] { searchNow(tree, name(QStringLiteral("Gym\\Lehrer")), QStringLiteral("User"), Scope::OneLevel); });
    QVERIFY2(error.contains(QStringLiteral("cn=a\\5Cb,ou=Lehrer,o=Gym")) || error.contains(QStringLiteral("cn=a\\\\b")), qPrintable(error));
    // The full name that a backslash would make names another object, never this one.
    tree.putAndStore(name(QStringLiteral("Gym\\Lehrer\\a")), QStringLiteral("OU"), QStringLiteral("x"));
    QCOMPARE(tree.values(name(QStringLiteral("Gym\\Lehrer\\a")), QStringLiteral("ou")), QStringList{"x"});
    QVERIFY(!readAll(tree.journalPath()).contains("5C"));
}

void DirectoryTest::malformedLdif_namesFileAndLine_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("line");
    QTest::newRow("bad attribute line") << QByteArray("dn: o=Gym\nobjectClass: organization\n\ndn: ou=A,o=Gym\nobjectClass organizationalUnit\n") << 4;
    QTest::newRow("missing parent") << QByteArray("dn: o=Gym\nobjectClass: organization\n\ndn: cn=x,ou=Nix,o=Gym\nobjectClass: inetOrgPerson\n") << 4;
    QTest::newRow("duplicate entry") << QByteArray("dn: o=Gym\nobjectClass: organization\n\n# again\ndn: O=gym\nobjectClass: organization\n") << 5;
    QTest::newRow("change record") << QByteArray("dn: o=Gym\nchangetype: delete\n") << 1;
    QTest::newRow("bad DN") << QByteArray("\n\ndn: o=Gym,,\nobjectClass: organization\n") << 3;
}

void DirectoryTest::malformedLdif_namesFileAndLine()
{
    QFETCH(QByteArray, content);
    QFETCH(int, line);
    QTemporaryDir dir;
    const QString path = fixture::write(dir, content);
    const QString error = errorOf([&] { LdifTree(QStringLiteral("SCHULE"), path, QString(), SchemaMap()); });
    QVERIFY2(error.contains(path) && error.contains(QStringLiteral("Zeile %1:").arg(line)), qPrintable(error));
    // The lock of the failed load is gone: a corrected file loads.
    fixture::write(dir, "dn: o=Gym\nobjectClass: organization\n");
    LdifTree(QStringLiteral("SCHULE"), path, QString(), SchemaMap());
}

void DirectoryTest::emptyLdif_givesEmptyTree()
{
    QTemporaryDir dir;
    LdifTree tree(QStringLiteral("SCHULE"), fixture::write(dir, ""), QString(), SchemaMap());
    QCOMPARE(searchNow(tree, kRoot, QStringLiteral("User"), Scope::Subtree), QStringList());
    QCOMPARE(tree.children(kRoot, {}).size(), 0);
}

void DirectoryTest::hugeLine_loads()
{
    QTemporaryDir dir;
    const QByteArray big(4 * 1024 * 1024, 'x');
    LdifTree tree(QStringLiteral("SCHULE"),
                  fixture::write(dir, "dn: o=Gym\nobjectClass: organization\ndescription: " + big + "\n"), QString(), SchemaMap());
    QCOMPARE(tree.values(name(QStringLiteral("Gym")), QStringLiteral("description")).first().size(), big.size());
}

void DirectoryTest::store_appendsReplayableRecord()
{
    QTemporaryDir dir;
    LdifTree tree(QStringLiteral("SCHULE"), fixture::write(dir, fixture::kSchool), QString(), SchemaMap());
    tree.putAndStore(name(QStringLiteral("Gym\\Abi05a\\Schmidt, Anna")), QStringLiteral("OU"), QStringLiteral("8a"));
    QCOMPARE(tree.values(name(QStringLiteral("Gym\\Abi05a\\Schmidt, Anna")), QStringLiteral("ou")), QStringList{"8a"});
    QCOMPARE(readAll(tree.journalPath()),
             QByteArray("dn: cn=Schmidt\\, Anna,ou=Abi05a,o=Gym\nchangetype: modify\ndelete: ou\nou: alt\n-\nadd: ou\nou: 8a\n-\n\n"));
}

void DirectoryTest::store_unchangedValue_appendsNothing()
{
    QTemporaryDir dir;
    LdifTree tree(QStringLiteral("SCHULE"), fixture::write(dir, fixture::kSchool), QString(), SchemaMap());
    tree.putAndStore(name(QStringLiteral("Gym\\Abi05a\\Schmidt, Anna")), QStringLiteral("OU"), QStringLiteral("alt"));
    QVERIFY(!QFile::exists(tree.journalPath()) || readAll(tree.journalPath()).isEmpty());
}

void DirectoryTest::store_emptyValue_removesAttribute()
{
    QTemporaryDir dir;
    LdifTree tree(QStringLiteral("SCHULE"), fixture::write(dir, fixture::kSchool), QString(), SchemaMap());
    tree.putAndStore(name(QStringLiteral("Gym\\Abi05a\\Schmidt, Anna")), QStringLiteral("OU"), QString());
    QCOMPARE(tree.values(name(QStringLiteral("Gym\\Abi05a\\Schmidt, Anna")), QStringLiteral("ou")), QStringList());
    QCOMPARE(readAll(tree.journalPath()), QByteArray("dn: cn=Schmidt\\, Anna,ou=Abi05a,o=Gym\nchangetype: modify\ndelete: ou\nou: alt\n-\n\n"));
}

void DirectoryTest::reload_replaysJournal()
{
    QTemporaryDir dir;
    const QString path = fixture::write(dir, fixture::kSchool);
    const QString pupil = name(QStringLiteral("Gym\\Abi05a\\Abi04x\\Jürgen Łodzę"));
    {
        LdifTree tree(QStringLiteral("SCHULE"), path, QString(), SchemaMap());
        tree.putAndStore(pupil, QStringLiteral("OU"), QStringLiteral("9ł"));
        tree.putAndStore(pupil, QStringLiteral("OU"), QStringLiteral("9a, Abi04x"));
    }
    LdifTree tree(QStringLiteral("SCHULE"), path, QString(), SchemaMap());
    QCOMPARE(tree.values(pupil, QStringLiteral("ou")), QStringList{"9a, Abi04x"});
    QCOMPARE(tree.warnings(), QStringList());
}

void DirectoryTest::tornLastRecord_keepsCompleteOnesAndReports_data()
{
    QTest::addColumn<QByteArray>("torn");
    const QByteArray record = "dn: cn=meier,ou=Lehrer,o=Gym\nchangetype: modify\n";
    QTest::newRow("a short record") << record + "delete: ou\n";
    // The journal is searched from its end for the last complete record.
    QTest::newRow("a record longer than the first search") << record + "replace: description\ndescription: " + QByteArray(200000, 'x');
}

void DirectoryTest::tornLastRecord_keepsCompleteOnesAndReports()
{
    QFETCH(QByteArray, torn);
    QTemporaryDir dir;
    const QString path = fixture::write(dir, fixture::kSchool);
    const QString mueller = name(QStringLiteral("Gym\\Abi05a\\mueller"));
    QString journal;
    {
        LdifTree tree(QStringLiteral("SCHULE"), path, QString(), SchemaMap());
        tree.putAndStore(mueller, QStringLiteral("OU"), QStringLiteral("8a"));
        journal = tree.journalPath();
    }
    QFile file(journal);
    QVERIFY(file.open(QIODevice::Append));
    file.write(torn); // a crash mid-append
    file.close();

    LdifTree tree(QStringLiteral("SCHULE"), path, QString(), SchemaMap());
    QCOMPARE(tree.values(mueller, QStringLiteral("ou")), QStringList{"8a"});
    QCOMPARE(tree.warnings().size(), 1);
    QVERIFY(tree.warnings().first().contains(QStringLiteral("unvollständig")));
    QCOMPARE(readAll(journal + QStringLiteral(".torn")), torn);
    // New records follow the last complete one, so the journal stays readable.
    tree.putAndStore(name(QStringLiteral("Gym\\Lehrer\\meier")), QStringLiteral("OU"), QStringLiteral("L"));
    QVERIFY(readAll(journal).endsWith("ou: 8a\n-\n\ndn: cn=meier,ou=Lehrer,o=Gym\nchangetype: modify\nadd: ou\nou: L\n-\n\n"));
}

void DirectoryTest::secondProgram_isLockedOut_crashedLockIsNot()
{
    QTemporaryDir dir;
    const QString path = fixture::write(dir, fixture::kSchool);
    {
        LdifTree first(QStringLiteral("SCHULE"), path, QString(), SchemaMap());
        const QString error = errorOf([&] { LdifTree(QStringLiteral("SCHULE"), path, QString(), SchemaMap()); });
        QVERIFY2(error.contains(QStringLiteral("bereits von einem anderen Programm")), qPrintable(error));
    }
    // A lock left by a process that is gone (PID 999999 does not exist).
    QFile stale(path + QStringLiteral(".lock"));
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.write("999999\nklassomat\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    stale.close();
    LdifTree tree(QStringLiteral("SCHULE"), path, QString(), SchemaMap());
    QCOMPARE(tree.className(kRoot), QStringLiteral("Top"));
}

void DirectoryTest::failedAppend_leavesTreeAndJournalUnchanged()
{
    QTemporaryDir dir;
    LdifTree tree(QStringLiteral("SCHULE"), fixture::write(dir, fixture::kSchool), QString(), SchemaMap());
    QVERIFY(QDir().mkpath(tree.journalPath())); // a folder where the journal should be: every write fails
    const QString mueller = name(QStringLiteral("Gym\\Abi05a\\mueller"));
    QVERIFY(errorOf([&] { tree.putAndStore(mueller, QStringLiteral("OU"), QStringLiteral("8a")); }).contains(QStringLiteral("Journal")));
    QCOMPARE(tree.values(mueller, QStringLiteral("ou")), QStringList());
}

void DirectoryTest::client_readsConfigAndAttachesDemoWithout()
{
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir dir;
    fixture::write(dir, fixture::kSchool, QStringLiteral("b.ldif"));
    fixture::write(dir, "[ZWEI]\nldif=b.ldif\nattribute.OU=description\n[EINS]\nldif=b.ldif\n", QStringLiteral("dirclient.ini"));
    qputenv("DIRCLIENT_CONFIG", dir.filePath(QStringLiteral("dirclient.ini")).toUtf8());
    {
        directory::Client client;
        QCOMPARE(client.treeNames(), (QStringList{"EINS", "ZWEI"}));
        auto &tree = client.treeOf(QStringLiteral("NDS:\\\\zwei\\Gym"));
        QCOMPARE(tree.name(), QStringLiteral("ZWEI"));
        tree.putAndStore(QStringLiteral("NDS:\\\\ZWEI\\Gym\\Abi05a\\mueller"), QStringLiteral("OU"), QStringLiteral("8a"));
        QCOMPARE(static_cast<LdifTree &>(tree).values(QStringLiteral("NDS:\\\\ZWEI\\Gym\\Abi05a\\mueller"), QStringLiteral("description")), QStringList{"8a"});
        QVERIFY(errorOf([&] { client.tree(QStringLiteral("DREI")); }).contains(QStringLiteral("DREI")));
    }
    qunsetenv("DIRCLIENT_CONFIG");
    fixture::write(dir, fixture::kSchool, QStringLiteral("demo.ldif"));
    const mode_t umaskBefore = ::umask(022);
    directory::Client client(dir.filePath(QStringLiteral("demo.ldif")));
    ::umask(umaskBefore);
    QCOMPARE(client.takeWarnings(), QStringList());
    QCOMPARE(client.treeNames(), QStringList{"SCHULE"});
    QCOMPARE(client.tree(QStringLiteral("SCHULE")).className(name(QStringLiteral("Gym"))), QStringLiteral("Organization"));
    // Pupils' names are for the user only.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QCOMPARE(QFileInfo(data).permissions() & 0x0077, QFile::Permissions());
    QCOMPARE(QFileInfo(data + QStringLiteral("/schule.ldif")).permissions() & 0x0077, QFile::Permissions());
    QDir(data).removeRecursively();
}

void DirectoryTest::client_missingConfigOrGeneralSection_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QStringList>("trees");
    QTest::addColumn<QString>("error");
    QTest::newRow("DIRCLIENT_CONFIG names a missing file: an error, never the demo tree")
        << QByteArray() << QStringList() << QStringLiteral("gibt es nicht");
    QTest::newRow("a section [General] is a tree like any other")
        << QByteArray("[General]\nldif=b.ldif\n[ZWEI]\nldif=b.ldif\n") << QStringList{"General", "ZWEI"} << QString();
}

void DirectoryTest::client_missingConfigOrGeneralSection()
{
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, trees);
    QFETCH(QString, error);
    QTemporaryDir dir;
    fixture::write(dir, fixture::kSchool, QStringLiteral("b.ldif"));
    const QString path = dir.filePath(QStringLiteral("dirclient.ini"));
    if (!ini.isEmpty())
        fixture::write(dir, ini, QStringLiteral("dirclient.ini"));
    qputenv("DIRCLIENT_CONFIG", path.toUtf8());
    directory::Client client(dir.filePath(QStringLiteral("demo.ldif"))); // attaching never fails the start
    qunsetenv("DIRCLIENT_CONFIG");
    if (error.isEmpty()) {
        QCOMPARE(client.treeNames(), trees);
        QCOMPARE(client.tree(QStringLiteral("General")).className(QStringLiteral("NDS:\\\\General\\Gym")), QStringLiteral("Organization"));
        return;
    }
    const QString message = errorOf([&] { (void)client.treeNames(); });
    QVERIFY2(message.contains(path) && message.contains(error), qPrintable(message));
    QVERIFY(errorOf([&] { client.tree(QStringLiteral("SCHULE")); }).contains(path));
}

void DirectoryTest::client_usesOnlyItsOwnDataFolderAndPlainTreeFiles()
{
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir dir;
    const QString demo = fixture::write(dir, fixture::kSchool, QStringLiteral("demo.ldif"));
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir(data).removeRecursively();
    QVERIFY(QDir().mkpath(QFileInfo(data).absolutePath()));
    // Someone else's folder behind a link: neither read nor written.
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("other"))));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("other")), data));
    {
        directory::Client client(demo);
        const QString error = errorOf([&] { (void)client.treeNames(); });
        QVERIFY2(error.contains(data) && error.contains(QStringLiteral("symbolischer Verweis")), qPrintable(error));
        QVERIFY(QDir(dir.filePath(QStringLiteral("other"))).isEmpty());
    }
    QVERIFY(QFile::remove(data));
    // A journal there that is a link.
    QVERIFY(QDir().mkpath(data));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("elsewhere")), data + QStringLiteral("/schule.ldif.journal")));
    QVERIFY(errorOf([&] { (void)directory::Client(demo).treeNames(); }).contains(QStringLiteral("schule.ldif.journal")));
    QDir(data).removeRecursively();
    // A tree there that others may write, or that has a second name: refused, never mended.
    QVERIFY(QDir().mkpath(data));
    const QString tree = fixture::write(dir, fixture::kSchool, QStringLiteral("tree.ldif"));
    QVERIFY(QFile::copy(tree, data + QStringLiteral("/schule.ldif")));
    QCOMPARE(::chmod(QFile::encodeName(data + QStringLiteral("/schule.ldif")).constData(), 0660), 0);
    QString error = errorOf([&] { (void)directory::Client(demo).treeNames(); });
    QVERIFY2(error.contains(QStringLiteral("schule.ldif")) && error.contains(QStringLiteral("andere Benutzer")), qPrintable(error));
    QCOMPARE(QFile::permissions(data + QStringLiteral("/schule.ldif")) & QFile::WriteGroup, QFile::WriteGroup);
    QCOMPARE(::chmod(QFile::encodeName(data + QStringLiteral("/schule.ldif")).constData(), 0600), 0);
    QCOMPARE(::link(QFile::encodeName(data + QStringLiteral("/schule.ldif")).constData(),
                    QFile::encodeName(dir.filePath(QStringLiteral("second"))).constData()), 0);
    error = errorOf([&] { (void)directory::Client(demo).treeNames(); });
    QVERIFY2(error.contains(QStringLiteral("schule.ldif")) && error.contains(QStringLiteral("zweiten Namen")), qPrintable(error));
    QDir(data).removeRecursively();

    // A FIFO where the tree file should be is refused at once.
    QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("fifo.ldif"))).constData(), 0600), 0);
    fixture::write(dir, "[FIFO]\nldif=fifo.ldif\n", QStringLiteral("dirclient.ini"));
    qputenv("DIRCLIENT_CONFIG", dir.filePath(QStringLiteral("dirclient.ini")).toUtf8());
    directory::Client client;
    qunsetenv("DIRCLIENT_CONFIG");
    error = errorOf([&] { client.tree(QStringLiteral("FIFO")); });
    QVERIFY2(error.contains(QStringLiteral("fifo.ldif")) && error.contains(QStringLiteral("keine gewöhnliche Datei")), qPrintable(error));
}

QTEST_GUILESS_MAIN(DirectoryTest)
#include "test_directory.moc"
