// The embedded tree under hostile input and hostile conditions: malformed and
// foreign files, twin names, links, stale locks, file-size limits.
#include "directory/embedded/ldif_tree.h"
#include "platform/error.h"
#include "support/ldif_fixture.h"

#include <QtTest>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using directory::LdifTree;
using directory::SchemaMap;

namespace {
const QString kRoot = QStringLiteral("NDS:\\\\SCHULE");
QString name(const QString &path) { return kRoot + QLatin1Char('\\') + path; }
const QByteArray kGym = "dn: o=Gym\nobjectClass: organization\n\n";

// Text with NUL bytes in it.
template <qsizetype N>
QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

std::unique_ptr<LdifTree> load(const QString &path)
{
    return std::make_unique<LdifTree>(QStringLiteral("SCHULE"), path, QString(), SchemaMap());
}

using fixture::errorOf;
using fixture::readAll;

int modeOf(const QString &path)
{
    struct stat info{};
    ::lstat(QFile::encodeName(path).constData(), &info);
    return static_cast<int>(info.st_mode & 0777);
}
} // namespace

class LdifTreeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void hostileLdif_isRefusedNamingFileAndLine_data();
    void hostileLdif_isRefusedNamingFileAndLine();
    void hostileJournal_isRefusedAndLeftAlone_data();
    void hostileJournal_isRefusedAndLeftAlone();
    void lineEndsAndLayout_loadAlike_data();
    void lineEndsAndLayout_loadAlike();
    void entryNames_readAsTheDnSpellsThem_data();
    void entryNames_readAsTheDnSpellsThem();
    void journalSpellings_findTheEntry_data();
    void journalSpellings_findTheEntry();
    void twinNames_loadAndFailOnlyWhenUsed();
    void privateFiles_areForTheOwnerOnly();
    void sharedFiles_areRefusedAndLeftAsTheyAre_data();
    void sharedFiles_areRefusedAndLeftAsTheyAre();
    void journalCutInPlace_failsEveryLaterStore_data();
    void journalCutInPlace_failsEveryLaterStore();
    void journalNotAPlainFile_isNeitherReadNorCut();
    void emptyLock_doesNotBlockTheTree();
    void failedWrites_raiseAndKeepNothingHalfWritten();
    void storeChanges_changeOnlyWhatWasFound_oneBatchOneRecordBlock();
    void windowsJournal_replaysAndCutsOnlyTheTornTail();
    void lostJournal_failsEveryLaterStore();
    void duplicateValues_collapseAndStoresCountOnlyWhenWritten_data();
    void duplicateValues_collapseAndStoresCountOnlyWhenWritten();
};

void LdifTreeTest::hostileLdif_isRefusedNamingFileAndLine_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("reason");
    const QByteArray unit = "dn: ou=A,o=Gym\nobjectClass: organizationalUnit\n";
    QTest::newRow("a line without type") << kGym + unit + ": x\n" << 6 << "ohne Attributtyp";
    QTest::newRow("a CR where the type should be") << kGym + unit + "\r: x\n" << 6 << "CR";
    QTest::newRow("a lone - in an entry") << kGym + unit + "-\n" << 6 << "changetype: modify";
    QTest::newRow("a lone - as the first attribute") << kGym + "dn: ou=A,o=Gym\n-\nou: A\n" << 5 << "changetype: modify";
    QTest::newRow("a NUL that would swallow the next entry") << kGym + bytes("dn: ou=A,o=Gym\nou: A\x00\n") + "\n" + unit << 5 << "NUL";
    QTest::newRow("an include of another file") << kGym + "include: file:///etc/passwd\n\n" + unit << 4 << "include";
    QTest::newRow("a value read from another file") << kGym + unit + "description:< file:///etc/passwd\n" << 6 << ":<";
    QTest::newRow("a DN read from another file") << kGym + "dn:< file:///etc/hostname\n" << 4 << ":<";
    QTest::newRow("the type folded before :<") << kGym + unit + "ou\n :< file:///etc/passwd\n" << 6 << ":<";
    QTest::newRow("the type folded inside") << kGym + unit + "o\n u:< file:///etc/passwd\n" << 6 << ":<";
    QTest::newRow("the colon folded from the <") << kGym + unit + "ou:\n < file:///etc/passwd\n" << 6 << ":<";
    QTest::newRow("include folded") << kGym + unit + "inc\n lude: file:///etc/passwd\n" << 6 << "include";
    QTest::newRow("lines before the DN") << kGym + "ou: A\ndn: ou=A,o=Gym\n" << 4 << "dn:";
    QTest::newRow("Windows line ends count right") << QByteArray("dn: o=Gym\r\n\r\n\r\ndn: ou=A,o=Gym\r\nbad line\r\n") << 4 << "ungültiger LDIF-Eintrag";
    QTest::newRow("an attribute type too long to be one") << kGym + unit + QByteArray(1001, 'a') + ": x\n" << 4 << "länger als 1000";
    // Files are read in chunks; lines still count from the start.
    QByteArray large = kGym;
    for (int i = 0; i < 30000; ++i)
        large += "dn: ou=U" + QByteArray::number(i) + ",o=Gym\nobjectClass: organizationalUnit\n\n";
    QTest::newRow("a NUL past the first chunk") << large + bytes("dn: ou=A,o=Gym\nou: A\x00\n") << 90005 << "NUL";
    QTest::newRow("a line without type past the first chunk") << large + unit + ": x\n" << 90006 << "ohne Attributtyp";
    QTest::newRow("an empty ou beside another") << kGym + "dn: cn=x,o=Gym\nobjectClass: inetOrgPerson\nou: 5a\nou:\n" << 4 << "leeren Wert";
    QTest::newRow("an empty ou beside another in other lines")
        << kGym + "dn: cn=x,o=Gym\nou:\nobjectClass: inetOrgPerson\nOU: 5a\n" << 4 << "leeren Wert";
    QTest::newRow("a DN with a NUL in base64") << kGym + "dn:: b3U9QQAsb3U9QixvPUd5bQ==\nobjectClass: organizationalUnit\n" << 4 << "UTF-8";
}

void LdifTreeTest::hostileLdif_isRefusedNamingFileAndLine()
{
    QFETCH(QByteArray, content);
    QFETCH(int, line);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = fixture::write(dir, content);
    const QString error = errorOf([&] { load(path); });
    QVERIFY2(error.contains(path) && error.contains(QStringLiteral("Zeile %1:").arg(line)) && error.contains(reason),
             qPrintable(error));
}

void LdifTreeTest::hostileJournal_isRefusedAndLeftAlone_data()
{
    QTest::addColumn<QByteArray>("journal");
    QTest::addColumn<int>("line");
    const QByteArray change = "dn: cn=mueller,ou=Abi05a,o=Gym\nchangetype: modify\nreplace: ou\nou: 8a\n-\n\n";
    QTest::newRow("a NUL merging two records") << change + bytes("dn: cn=meier,ou=Lehrer,o=Gym\nchangetype: modify\nreplace: ou\nou: x\x00\n-\n\n") + change << 10;
    QTest::newRow("a line without type, then a torn record") << change + change + "dn: cn=meier,ou=Lehrer,o=Gym\nchangetype: modify\n: x\n\ndn: cn=x" << 15;
    QTest::newRow("an empty ou added beside another") << change + "dn: cn=mueller,ou=Abi05a,o=Gym\nchangetype: modify\nadd: ou\nou:\n-\n\n" << 7;
}

void LdifTreeTest::hostileJournal_isRefusedAndLeftAlone()
{
    QFETCH(QByteArray, journal);
    QFETCH(int, line);
    QTemporaryDir dir;
    const QString path = fixture::write(dir, fixture::kSchool);
    const QString journalPath = fixture::write(dir, journal, QStringLiteral("tree.ldif.journal"));
    const QString error = errorOf([&] { load(path); });
    QVERIFY2(error.contains(journalPath) && error.contains(QStringLiteral("Zeile %1:").arg(line)), qPrintable(error));
    // Nothing cut, nothing set aside, nothing appended to what was not understood.
    QCOMPARE(readAll(journalPath), journal);
    QVERIFY(!QFile::exists(journalPath + QStringLiteral(".torn")));
}

void LdifTreeTest::lineEndsAndLayout_loadAlike_data()
{
    QTest::addColumn<QByteArray>("content");
    const QByteArray lf = "version: 1\n\n# a comment\n dragging on\ndn: o=Gym\nobjectClass: organization\n\n"
                          "dn: cn=Anna,o=Gym\nobjectClass: inetOrgPerson\ncn: Anna\ndescription: folded\n  value\n";
    QTest::newRow("Unix line ends") << lf;
    QTest::newRow("Windows line ends") << QByteArray(lf).replace("\n", "\r\n");
    QTest::newRow("no line end at the end") << lf.chopped(1);
    QTest::newRow("a record longer than the chunks read") << QByteArray(lf).replace("cn: Anna\n", "cn: Anna\nsn: " + QByteArray(3 << 20, 'x') + "\n");
    QTest::newRow("types folded, also with Windows line ends")
        << QByteArray(lf).replace("objectClass: inetOrgPerson", "object\n Class: inetOrg\n Person").replace("\n", "\r\n");
    QTest::newRow("version in the first record") << QByteArray(lf).replace("version: 1\n\n# a comment\n dragging on\n", "version: 1\n");
}

void LdifTreeTest::lineEndsAndLayout_loadAlike()
{
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    const auto tree = load(fixture::write(dir, content));
    QCOMPARE(tree->values(name(QStringLiteral("Gym\\Anna")), QStringLiteral("description")), QStringList{"folded value"});
    QCOMPARE(tree->className(name(QStringLiteral("Gym\\Anna"))), QStringLiteral("User"));
}

void LdifTreeTest::entryNames_readAsTheDnSpellsThem_data()
{
    QTest::addColumn<QByteArray>("rdn"); // of an entry below o=Gym
    QTest::addColumn<QString>("name");   // what its full name carries
    QTest::newRow("plain") << QByteArray("cn=Anna") << QStringLiteral("Anna");
    QTest::newRow("type in capitals") << QByteArray("CN=Anna") << QStringLiteral("Anna");
    QTest::newRow("UTF-8") << QByteArray("cn=M\xC3\xBCller") << QStringLiteral("Müller");
    QTest::newRow("UTF-8 in hex escapes") << QByteArray("cn=M\\C3\\BCller") << QStringLiteral("Müller");
    QTest::newRow("escaped comma") << QByteArray("cn=Doe\\, John") << QStringLiteral("Doe, John");
    QTest::newRow("outside the BMP") << QByteArray("cn=\xF0\x9F\x98\x80") << QStringLiteral("\U0001F600");
}

void LdifTreeTest::entryNames_readAsTheDnSpellsThem()
{
    QFETCH(QByteArray, rdn);
    QFETCH(QString, name);
    QTemporaryDir dir;
    const auto tree = load(fixture::write(dir, kGym + "dn: " + rdn + ",o=Gym\nobjectClass: inetOrgPerson\n"));
    const QList<directory::DirectoryObject> children = tree->children(::name(QStringLiteral("Gym")), {});
    QCOMPARE(children.size(), 1);
    QCOMPARE(children[0].fullName, ::name(QStringLiteral("Gym\\") + name));
    QCOMPARE(tree->className(children[0].fullName), QStringLiteral("User"));
}

void LdifTreeTest::journalSpellings_findTheEntry_data()
{
    QTest::addColumn<QByteArray>("dn"); // what follows "dn:"
    QTest::addColumn<int>("records"); // a long journal is replayed through a table of DN texts
    for (int records : {1, 40}) {
        QTest::addRow("as the tree spells it, %d records", records) << QByteArray(" cn=mueller,ou=Abi05a,o=Gym") << records;
        QTest::addRow("in other letter case, %d records", records) << QByteArray(" CN=Mueller,OU=abi05a,O=GYM") << records;
        QTest::addRow("in base64, %d records", records) << QByteArray(": Y249bXVlbGxlcixvdT1BYmkwNWEsbz1HeW0=") << records;
        QTest::addRow("folded, %d records", records) << QByteArray(" cn=mu\n eller,ou=Abi05a,o=Gym") << records;
    }
}

void LdifTreeTest::journalSpellings_findTheEntry()
{
    QFETCH(QByteArray, dn);
    QFETCH(int, records);
    QTemporaryDir dir;
    const QString path = fixture::write(dir, fixture::kSchool);
    QByteArray journal;
    for (int i = 1; i <= records; ++i)
        journal += "dn:" + dn + "\nchangetype: modify\nreplace: ou\nou: " + QByteArray::number(i) + "\n-\n\n";
    fixture::write(dir, journal, QStringLiteral("tree.ldif.journal"));
    QCOMPARE(load(path)->values(name(QStringLiteral("Gym\\Abi05a\\mueller")), QStringLiteral("ou")),
             QStringList{QString::number(records)});
}

void LdifTreeTest::twinNames_loadAndFailOnlyWhenUsed()
{
    QTemporaryDir dir;
    const QString path = fixture::write(dir, kGym + "dn: ou=Abi05a,o=Gym\nobjectClass: organizationalUnit\n\n"
                                                    "dn: cn=Abi05a,o=Gym\nobjectClass: groupOfNames\n\n"
                                                    "dn: cn=x,ou=Abi05a,o=Gym\nobjectClass: inetOrgPerson\n");
    auto tree = load(path);
    const QString twin = name(QStringLiteral("Gym\\Abi05a"));
    const QString error = errorOf([&] { tree->putAndStore(twin, QStringLiteral("OU"), QStringLiteral("8a")); });
    QVERIFY2(error.contains(QStringLiteral("ou=Abi05a,o=Gym")) && error.contains(QStringLiteral("cn=Abi05a,o=Gym")), qPrintable(error));
    QList<directory::FoundObject> found;
    for (const QString &cls : {QStringLiteral("Organizational Unit"), QStringLiteral("Group")}) {
        tree->search(kRoot, cls, directory::Scope::Subtree, QString(),
                     [&](const directory::Found &hits, std::exception_ptr) { found += QList<directory::FoundObject>(hits.begin(), hits.end()); });
    }
    QCOMPARE(found.size(), 2);
    QCOMPARE(found[0].fullName, twin);
    QCOMPARE(found[1].fullName, twin);
    QCOMPARE(QStringList({found[0].dn, found[1].dn}), QStringList({"ou=Abi05a,o=Gym", "cn=Abi05a,o=Gym"}));
    QVERIFY(!QFile::exists(tree->journalPath()));
    tree.reset();

    // The same RDN twice, even in other letter case, is still refused.
    fixture::write(dir, kGym + "dn: ou=Abi05a,o=Gym\nobjectClass: organizationalUnit\n\n"
                               "dn: OU=abi05A,o=Gym\nobjectClass: organizationalUnit\n");
    QVERIFY(errorOf([&] { load(path); }).contains(QStringLiteral("doppelt")));
}

void LdifTreeTest::privateFiles_areForTheOwnerOnly()
{
    QTemporaryDir dir;
    const QString path = fixture::write(dir, fixture::kSchool);
    const QString journal = path + QStringLiteral(".journal");
    fixture::write(dir, "dn: cn=meier,ou=Lehrer,o=Gym\nchangetype: modify\n", QStringLiteral("tree.ldif.journal"));
    const mode_t umaskBefore = ::umask(022);
    {
        auto tree = load(path);
        tree->putAndStore(name(QStringLiteral("Gym\\Abi05a\\mueller")), QStringLiteral("OU"), QStringLiteral("8a"));
    }
    QCOMPARE(modeOf(journal + QStringLiteral(".torn")), 0600);
    QVERIFY(QFile::remove(journal));
    load(path)->putAndStore(name(QStringLiteral("Gym\\Abi05a\\mueller")), QStringLiteral("OU"), QStringLiteral("9b"));
    ::umask(umaskBefore);
    QCOMPARE(modeOf(journal), 0600);

    // One that others may read, as older versions left it, is used and left so.
    QVERIFY(::chmod(QFile::encodeName(journal).constData(), 0644) == 0);
    load(path)->putAndStore(name(QStringLiteral("Gym\\Abi05a\\mueller")), QStringLiteral("OU"), QStringLiteral("7c"));
    QCOMPARE(modeOf(journal), 0644);
}

void LdifTreeTest::sharedFiles_areRefusedAndLeftAsTheyAre_data()
{
    QTest::addColumn<QString>("suffix"); // of the file beside the tree
    QTest::addColumn<int>("mode");       // 0: a second name instead
    QTest::addColumn<QString>("reason");
    for (const char *suffix : {".journal", ".lock", ".journal.torn"}) {
        QTest::addRow("%s writable by the group", suffix) << QString::fromLatin1(suffix) << 0620 << "andere Benutzer";
        QTest::addRow("%s writable by all", suffix) << QString::fromLatin1(suffix) << 0602 << "andere Benutzer";
        QTest::addRow("%s with a second name", suffix) << QString::fromLatin1(suffix) << 0 << "zweiten Namen";
    }
}

void LdifTreeTest::sharedFiles_areRefusedAndLeftAsTheyAre()
{
    QFETCH(QString, suffix);
    QFETCH(int, mode);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = fixture::write(dir, fixture::kSchool);
    // A torn tail, so that the .torn file is written.
    const QByteArray journal = "dn: cn=meier,ou=Lehrer,o=Gym\nchangetype: modify\nreplace: ou\nou: x\n-\n\ndn: cn=x";
    fixture::write(dir, journal, QStringLiteral("tree.ldif.journal"));
    const QString file = path + suffix;
    const QByteArray content = suffix == QStringLiteral(".journal") ? journal : QByteArray("someone else's\n");
    if (suffix != QStringLiteral(".journal"))
        fixture::write(dir, content, QStringLiteral("tree.ldif") + suffix);
    const QString other = dir.filePath(QStringLiteral("elsewhere"));
    if (mode)
        QCOMPARE(::chmod(QFile::encodeName(file).constData(), static_cast<mode_t>(mode)), 0);
    else
        QCOMPARE(::link(QFile::encodeName(file).constData(), QFile::encodeName(other).constData()), 0);
    const int modeBefore = modeOf(file);
    const QString error = errorOf([&] { load(path); });
    QVERIFY2(error.contains(file) && error.contains(reason), qPrintable(error));
    QCOMPARE(modeOf(file), modeBefore);
    QCOMPARE(readAll(file), content);
    QCOMPARE(readAll(path + QStringLiteral(".journal")), journal);
}

void LdifTreeTest::journalCutInPlace_failsEveryLaterStore_data()
{
    QTest::addColumn<int>("cut"); // bytes taken off the journal's end, in place; -1: all
    QTest::newRow("emptied") << -1;
    QTest::newRow("cut inside the last record") << 12;
}

void LdifTreeTest::journalCutInPlace_failsEveryLaterStore()
{
    QFETCH(int, cut);
    QTemporaryDir dir;
    const QString path = fixture::write(dir, fixture::kSchool);
    auto tree = load(path);
    const QString mueller = name(QStringLiteral("Gym\\Abi05a\\mueller"));
    tree->putAndStore(mueller, QStringLiteral("OU"), QStringLiteral("8a"));
    tree->putAndStore(mueller, QStringLiteral("OU"), QStringLiteral("9b"));
    QFile journal(tree->journalPath());
    QVERIFY(journal.resize(cut < 0 ? 0 : journal.size() - cut)); // the same file, shorter
    const QByteArray left = readAll(tree->journalPath());
    for (const QString &value : {QStringLiteral("7c"), QStringLiteral("6d")}) {
        const QString error = errorOf([&] { tree->putAndStore(mueller, QStringLiteral("OU"), value); });
        QVERIFY2(error.contains(tree->journalPath()) && error.contains(QStringLiteral("neu")), qPrintable(error));
    }
    QCOMPARE(tree->values(mueller, QStringLiteral("ou")), QStringList{"9b"});
    QCOMPARE(readAll(tree->journalPath()), left); // nothing glued to what is left
}

void LdifTreeTest::journalNotAPlainFile_isNeitherReadNorCut()
{
    QTemporaryDir dir;
    const QString path = fixture::write(dir, fixture::kSchool);
    const QByteArray elsewhere = "dn: cn=meier,ou=Lehrer,o=Gym\nchangetype: modify\nreplace: ou\nou: x\n-\n\nsomething else entirely";
    const QString target = fixture::write(dir, elsewhere, QStringLiteral("other.txt"));
    QVERIFY(QFile::link(target, path + QStringLiteral(".journal")));
    QVERIFY(errorOf([&] { load(path); }).contains(QStringLiteral("symbolischer Verweis")));
    QCOMPARE(readAll(target), elsewhere);
    // A FIFO in its place neither hangs the start nor is read.
    QVERIFY(QFile::remove(path + QStringLiteral(".journal")));
    QCOMPARE(::mkfifo(QFile::encodeName(path + QStringLiteral(".journal")).constData(), 0600), 0);
    QVERIFY(errorOf([&] { load(path); }).contains(QStringLiteral("keine gewöhnliche Datei")));

    // A FIFO where a torn tail goes: refused in German (ENXIO), never hung on.
    QVERIFY(QFile::remove(path + QStringLiteral(".journal")));
    fixture::write(dir, "dn: cn=x", QStringLiteral("tree.ldif.journal"));
    QCOMPARE(::mkfifo(QFile::encodeName(path + QStringLiteral(".journal.torn")).constData(), 0600), 0);
    const QString error = errorOf([&] { load(path); });
    QVERIFY2(error.contains(QStringLiteral(".journal.torn")) && error.contains(QStringLiteral("steht ein Gerät")), qPrintable(error));
}

void LdifTreeTest::emptyLock_doesNotBlockTheTree()
{
    QTemporaryDir dir;
    const QString path = fixture::write(dir, fixture::kSchool);
    fixture::write(dir, QByteArray(), QStringLiteral("tree.ldif.lock")); // a power cut right after locking
    auto tree = load(path);
    QVERIFY(errorOf([&] { load(path); }).contains(QStringLiteral("bereits von einem anderen Programm")));
    tree.reset();
    load(path);
}

void LdifTreeTest::failedWrites_raiseAndKeepNothingHalfWritten()
{
    QTemporaryDir dir;
    auto tree = load(fixture::write(dir, fixture::kSchool));
    const QString mueller = name(QStringLiteral("Gym\\Abi05a\\mueller"));
    tree->putAndStore(mueller, QStringLiteral("OU"), QStringLiteral("8a"));
    const QByteArray before = readAll(tree->journalPath());

    rlimit saved{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = static_cast<rlim_t>(before.size() + 20); // the next record fits only in part
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const QString error = errorOf([&] { tree->putAndStore(mueller, QStringLiteral("OU"), QStringLiteral("9b")); });
    ::setrlimit(RLIMIT_FSIZE, &saved);

    QVERIFY2(error.contains(tree->journalPath()) && error.contains(QStringLiteral("größte erlaubte Größe")), qPrintable(error));
    QCOMPARE(readAll(tree->journalPath()), before);
    QCOMPARE(tree->values(mueller, QStringLiteral("ou")), QStringList{"8a"});
    tree->putAndStore(mueller, QStringLiteral("OU"), QStringLiteral("9c")); // and the journal goes on

    // A journal removed while the program runs takes no store with it unnoticed.
    QVERIFY(QFile::remove(tree->journalPath()));
    QVERIFY(errorOf([&] { tree->putAndStore(mueller, QStringLiteral("OU"), QStringLiteral("9d")); }).contains(QStringLiteral("gelöscht")));
    QCOMPARE(tree->values(mueller, QStringLiteral("ou")), QStringList{"9c"});
}

void LdifTreeTest::storeChanges_changeOnlyWhatWasFound_oneBatchOneRecordBlock()
{
    QTemporaryDir dir;
    const QString path = fixture::write(dir, fixture::kSchool);
    auto tree = load(path);
    const QString anna = name(QStringLiteral("Gym\\Abi05a\\Schmidt, Anna"));
    const QString mueller = name(QStringLiteral("Gym\\Abi05a\\mueller"));
    tree->putAndStore(mueller, QStringLiteral("OU"), QStringLiteral("Schueler"));
    const QList<directory::ValueChange> batch{
        {anna, QStringLiteral("OU"), {QStringLiteral("alt")}, {QStringLiteral("8a")}},
        {mueller, QStringLiteral("OU"), {QStringLiteral("anders")}, {QStringLiteral("8a")}}, // not what is there
        {name(QStringLiteral("Gym")), QStringLiteral("OU"), {}, {QStringLiteral("x")}},
    };
    QList<bool> refused;
    tree->storeChanges(batch, [&](qsizetype, std::exception_ptr failure) {
        refused.append(bool(failure));
        return false; // all of a batch is reported all the same: it is stored at once
    });
    QCOMPARE(refused, (QList<bool>{false, true, false}));
    QCOMPARE(tree->values(anna, QStringLiteral("ou")), QStringList{"8a"});
    QCOMPARE(tree->values(mueller, QStringLiteral("ou")), QStringList{"Schueler"});

    // Several values: only the difference is written, and a failed journal write takes the batch back.
    tree->storeChanges({{mueller, QStringLiteral("OU"), {QStringLiteral("Schueler")}, {QStringLiteral("Schueler"), QStringLiteral("8a")}}},
                       [](qsizetype, std::exception_ptr failure) { return !failure; });
    const QByteArray journal = readAll(tree->journalPath());
    QVERIFY2(journal.endsWith("dn: cn=mueller,ou=Abi05a,o=Gym\nchangetype: modify\nadd: ou\nou: 8a\n-\n\n"), journal.constData());
    rlimit saved{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = static_cast<rlim_t>(journal.size() + 20);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    int failures = 0;
    tree->storeChanges({{anna, QStringLiteral("OU"), {QStringLiteral("8a")}, {QStringLiteral("9b")}},
                        {mueller, QStringLiteral("OU"), {QStringLiteral("Schueler"), QStringLiteral("8a")}, {}}},
                       [&](qsizetype, std::exception_ptr failure) { return !(failures += bool(failure)); });
    ::setrlimit(RLIMIT_FSIZE, &saved);
    QCOMPARE(failures, 2);
    QCOMPARE(tree->values(anna, QStringLiteral("ou")), QStringList{"8a"});
    QCOMPARE(tree->values(mueller, QStringLiteral("ou")), (QStringList{"Schueler", "8a"}));
    tree.reset();
    QCOMPARE(load(path)->values(mueller, QStringLiteral("ou")), (QStringList{"Schueler", "8a"}));
}

void LdifTreeTest::windowsJournal_replaysAndCutsOnlyTheTornTail()
{
    QTemporaryDir dir;
    const QString path = fixture::write(dir, fixture::kSchool);
    const QByteArray change = "dn: cn=mueller,ou=Abi05a,o=Gym\r\nchangetype: modify\r\nreplace: ou\r\nou: %\r\n-\r\n\r\n";
    const QByteArray torn = "dn: cn=mueller,ou=Abi05a,o=Gym\r\nchangetype: mod";
    fixture::write(dir, QByteArray(change).replace('%', "8a") + QByteArray(change).replace('%', "9b") + torn,
                   QStringLiteral("tree.ldif.journal"));
    auto tree = load(path);
    QCOMPARE(tree->values(name(QStringLiteral("Gym\\Abi05a\\mueller")), QStringLiteral("ou")), QStringList{"9b"});
    QCOMPARE(readAll(path + QStringLiteral(".journal.torn")), torn);
    tree->putAndStore(name(QStringLiteral("Gym\\Abi05a\\mueller")), QStringLiteral("OU"), QStringLiteral("7c"));
    tree.reset();
    QCOMPARE(load(path)->values(name(QStringLiteral("Gym\\Abi05a\\mueller")), QStringLiteral("ou")), QStringList{"7c"});
}

void LdifTreeTest::lostJournal_failsEveryLaterStore()
{
    for (const bool replaced : {false, true}) {
        QTemporaryDir dir;
        const QString path = fixture::write(dir, fixture::kSchool);
        auto tree = load(path);
        const QString mueller = name(QStringLiteral("Gym\\Abi05a\\mueller"));
        tree->putAndStore(mueller, QStringLiteral("OU"), QStringLiteral("8a"));
        QVERIFY(QFile::remove(tree->journalPath()));
        if (replaced)
            fixture::write(dir, QByteArray(), QStringLiteral("tree.ldif.journal"));
        for (const QString &value : {QStringLiteral("9b"), QStringLiteral("9c")}) {
            bool notSent = false;
            tree->storeChanges({{mueller, QStringLiteral("OU"), {QStringLiteral("8a")}, {value}}},
                               [&](qsizetype, std::exception_ptr failure) {
                                   try {
                                       std::rethrow_exception(failure);
                                   } catch (const directory::NotSent &e) {
                                       notSent = e.message().contains(QStringLiteral("neu"));
                                   } catch (...) {
                                   }
                                   return true;
                               });
            QVERIFY(notSent);
            QCOMPARE(tree->values(mueller, QStringLiteral("ou")), QStringList{"8a"});
        }
        QCOMPARE(readAll(tree->journalPath()), QByteArray()); // nothing went into a new journal
    }
}

void LdifTreeTest::duplicateValues_collapseAndStoresCountOnlyWhenWritten_data()
{
    QTest::addColumn<QByteArray>("values"); // the lines of the entry's values
    QTest::addColumn<QString>("type");
    QTest::addColumn<QStringList>("loaded");
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<bool>("stored");
    QTest::addColumn<QStringList>("result");
    using L = QStringList;
    const QString ou = QStringLiteral("ou");
    QTest::newRow("the same value twice is one") << QByteArray("ou: 8a\nou: 8a\n") << ou << L{"8a"} << L{"8a"} << L{"9b"} << true << L{"9b"};
    QTest::newRow("letter case and blanks do not count in ou")
        << QByteArray("ou: 8a\nou: 8A\nou:: IDhhIA==\n") << ou << L{"8a"} << L{"8a"} << L{} << true << L{};
    QTest::newRow("other types compare exactly") << QByteArray("description: 8a\ndescription: 8A\ndescription: 8a\n")
                                                 << QStringLiteral("description") << L{"8a", "8A"} << L{"8A", "8a"} << L{"8a"} << true << L{"8a"};
    QTest::newRow("ou lines apart are one attribute") << QByteArray("ou: 8a\nsn: x\nou: 9b\n") << ou << L{"8a", "9b"} << L{"9b", "8a"} << L{"9b"} << true << L{"9b"};
    QTest::newRow("a value found in other letter case is what was found")
        << QByteArray("ou: R7a\n") << ou << L{"R7a"} << L{"r7a"} << L{"8a"} << true << L{"8a"};
    QTest::newRow("a change of letter case is written") << QByteArray("ou: r7a\n") << ou << L{"r7a"} << L{"r7a"} << L{"R7A"} << true << L{"R7A"};
    QTest::newRow("one value twice in the change is refused") << QByteArray("ou: r7a\n") << ou << L{"r7a"} << L{"r7a"} << L{"8a", "8A"} << false << L{"r7a"};
    QTest::newRow("an empty value is refused") << QByteArray("ou: r7a\n") << ou << L{"r7a"} << L{"r7a"} << L{""} << false << L{"r7a"};
    QTest::newRow("an empty ou alone loads and is replaced") << QByteArray("ou:\n") << ou << L{""} << L{""} << L{"9b"} << true << L{"9b"};
    QTest::newRow("base64 folded between its colons") << QByteArray("ou:\n : OGE=\n") << ou << L{"8a"} << L{"8a"} << L{"9b"} << true << L{"9b"};
    QTest::newRow("a folded type is the same type") << QByteArray("o\n u: 8a\nou:: IGxlYWQ=\n") << ou << L{"8a", " lead"} << L{"8a", " lead"} << L{} << true << L{};
}

void LdifTreeTest::duplicateValues_collapseAndStoresCountOnlyWhenWritten()
{
    QFETCH(QByteArray, values);
    QFETCH(QString, type);
    QFETCH(QStringList, loaded);
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);
    QFETCH(bool, stored);
    QFETCH(QStringList, result);
    QTemporaryDir dir;
    const QString path = fixture::write(dir, kGym + "dn: cn=x,o=Gym\nobjectClass: inetOrgPerson\ncn: x\n" + values);
    const QString x = name(QStringLiteral("Gym\\x"));
    auto tree = load(path);
    QCOMPARE(tree->values(x, type), loaded);
    const QString attribute = type == QStringLiteral("ou") ? QStringLiteral("OU") : type;
    bool failed = true;
    tree->storeChanges({{x, attribute, before, after}}, [&](qsizetype, std::exception_ptr failure) {
        failed = bool(failure);
        return true;
    });
    QCOMPARE(!failed, stored);
    QCOMPARE(tree->values(x, type), result);
    tree.reset();
    QCOMPARE(load(path)->values(x, type), result);
}

QTEST_GUILESS_MAIN(LdifTreeTest)
#include "test_ldif_tree.moc"
