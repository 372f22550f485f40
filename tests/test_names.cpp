// Name forms, class codes, the class list and the designations.
#include "ndk/names.h"
#include "nwcontrols/class_icons.h"
#include "platform/message_box.h"
#include "platform/text.h"
#include "runs/class_list.h"
#include "runs/designation.h"

#include <QtTest>

class NamesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void toDottedName_data();
    void toDottedName();
    void treeName_data();
    void treeName();
    void classCode_data();
    void classCode();
    void rootToken();
    void parentContainerName_data();
    void parentContainerName();
    void lookupClass_data();
    void lookupClass();
    void designation_data();
    void designation();
    void classListLines_data();
    void classListLines();
    void classList_tenMegabytes_readsEveryLine();
    void classListPath_besideProgramThenUserThenSystem();
    void errorBoxText_appendsFullStopOnlyAfterDot();
};

void NamesTest::toDottedName_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    QTest::newRow("full name") << "NDS:\\\\TREE\\O\\OU\\CN" << "CN.OU.O";
    QTest::newRow("pupil") << "NDS:\\\\TREE\\Gym\\Abi05a\\mueller" << "mueller.Abi05a.Gym";
    QTest::newRow("tree root") << "NDS:\\\\TREE" << "TREE";
    QTest::newRow("already dotted") << "mueller.Abi05a.Gym" << "mueller.Abi05a.Gym";
    QTest::newRow("dot in a component") << "NDS:\\\\TREE\\O\\max.muster" << "NDS:\\\\TREE\\O\\max.muster";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("no prefix loses its first component") << "O\\OU\\CN" << "CN.OU";
    QTest::newRow("empty component after the tree") << "NDS:\\\\TREE\\\\O" << "O";
    QTest::newRow("empty component in the middle") << "NDS:\\\\TREE\\O\\\\CN" << "CN..O";
    QTest::newRow("nothing after the tree") << "NDS:\\\\TREE\\" << "";
    QTest::newRow("nothing at all") << "NDS:\\\\" << "";
    QTest::newRow("empty last component") << "NDS:\\\\TREE\\O\\" << ".O";
    QTest::newRow("a backslash alone") << "\\" << "";
    QTest::newRow("a tree name alone") << "TREE" << "TREE";
    QTest::newRow("umlauts and letters outside Latin-1 kept") << "NDS:\\\\SCHULE\\Gym\\Klasse ł\\Jürgen Öztürk" << "Jürgen Öztürk.Klasse ł.Gym";
    QTest::newRow("letter case kept") << "NDS:\\\\TREE\\GYM\\ABI05A" << "ABI05A.GYM";
}

void NamesTest::toDottedName()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(ndk::ToDottedName(input), expected);
}

void NamesTest::treeName_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    QTest::newRow("full name") << "NDS:\\\\SCHULE\\Gym\\Abi05a" << "SCHULE";
    QTest::newRow("tree root") << "NDS:\\\\SCHULE" << "SCHULE";
    QTest::newRow("no prefix") << "SCHULE\\Gym" << "SCHULE";
    QTest::newRow("empty") << "" << "";
}

void NamesTest::treeName()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(ndk::TreeName(input), expected);
}

void NamesTest::classCode_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("code");
    QTest::newRow("User") << "User" << 1;
    QTest::newRow("organizational unit") << "organizational unit" << 2;
    QTest::newRow("Group") << "Group" << 3;
    QTest::newRow("ORGANIZATION") << "ORGANIZATION" << 4;
    QTest::newRow("Organizational Role") << "Organizational Role" << 5;
    QTest::newRow("root") << "root" << 6;
    QTest::newRow("Top") << "Top" << 6;
    QTest::newRow("Tree") << "Tree" << 7;
    QTest::newRow("Template") << "Template" << 8;
    QTest::newRow("Volume") << "Volume" << 9;
    QTest::newRow("Country") << "Country" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("whole text only") << "Organization " << 0;
    QTest::newRow("only a-z folded") << QStringLiteral("usér") << 0;
}

void NamesTest::classCode()
{
    QFETCH(QString, name);
    QFETCH(int, code);
    QCOMPARE(nwcontrols::classCode(name), code);
}

void NamesTest::rootToken()
{
    for (const char *text : {"[Root]", "[ROOT]", "[root]", "[rOoT]"})
        QVERIFY2(ndk::IsRootToken(QString::fromLatin1(text)), text);
    QVERIFY(!ndk::IsRootToken(QStringLiteral("[Root] ")));
    QVERIFY(!ndk::IsRootToken(QStringLiteral("Root")));
}

void NamesTest::parentContainerName_data()
{
    QTest::addColumn<QString>("fullName");
    QTest::addColumn<QString>("expected");
    QTest::newRow("pupil") << "NDS:\\\\TREE\\Schule\\Abi05a\\Schueler1" << "Abi05a";
    QTest::newRow("top container") << "NDS:\\\\TREE\\Schule\\Lehrer" << "Schule";
    QTest::newRow("one backslash") << "Schule\\Schueler1" << "Schule";
    QTest::newRow("leading backslash") << "\\Schueler1" << "";
    QTest::newRow("no backslash") << "Schueler1" << "";
    QTest::newRow("ends with a backslash") << "NDS:\\\\TREE\\Schule\\Abi05a\\" << "Abi05a";
    QTest::newRow("ends with two backslashes") << "Schule\\\\" << "";
    QTest::newRow("empty") << "" << "";
}

void NamesTest::parentContainerName()
{
    QFETCH(QString, fullName);
    QFETCH(QString, expected);
    QCOMPARE(runs::ParentContainerName(fullName), expected);
}

void NamesTest::lookupClass_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain line") << QStringList{"8a;Abi05a"} << "Abi05a" << "8a";
    QTest::newRow("leading blanks of line and rest ignored") << QStringList{"   8a;   Abi05a"} << "Abi05a" << "8a";
    QTest::newRow("blank before the semicolon stays in the key") << QStringList{"8a ;Abi05a"} << "Abi05a" << "8a ";
    QTest::newRow("a-z folded") << QStringList{"8a;abi05A"} << "ABI05a" << "8a";
    QTest::newRow("umlauts not folded") << QStringList{QStringLiteral("8a;Ä1")} << QStringLiteral("ä1") << "";
    QTest::newRow("letters outside Latin-1 match themselves") << QStringList{QStringLiteral("8ł;Klasse łő")} << QStringLiteral("Klasse łő") << QStringLiteral("8ł");
    QTest::newRow("prefix line first: shorter container") << QStringList{"7b;Abi05", "8a;Abi05a"} << "Abi05" << "7b";
    QTest::newRow("prefix line first: longer container") << QStringList{"7b;Abi05", "8a;Abi05a"} << "Abi05a" << "8a";
    QTest::newRow("longer line first wins for both") << QStringList{"8a;Abi05a", "7b;Abi05"} << "Abi05" << "8a";
    QTest::newRow("rest begins with the container") << QStringList{"8a;Abi05a alt"} << "Abi05a" << "8a";
    QTest::newRow("single letter matches") << QStringList{"8a;Abi05a"} << "A" << "8a";
    QTest::newRow("empty key ends the search") << QStringList{";Abi05a", "8a;Abi05a"} << "Abi05a" << "";
    QTest::newRow("further semicolons belong to the rest") << QStringList{"8a;Abi05a;Raum 12"} << "Abi05a" << "8a";
    QTest::newRow("tab before the key stays") << QStringList{"\t8a;Abi05a"} << "Abi05a" << "\t8a";
    QTest::newRow("tab after the semicolon blocks") << QStringList{"8a;\tAbi05a"} << "Abi05a" << "";
    QTest::newRow("lines without semicolon skipped") << QStringList{"", "   ", "Abi05a", "8a;Abi05a"} << "Abi05a" << "8a";
    QTest::newRow("nothing after the semicolon matches nothing") << QStringList{"8a;"} << "Abi05a" << "";
    QTest::newRow("empty container matches nothing") << QStringList{"8a;Abi05a"} << "" << "";
    QTest::newRow("blank container matches nothing") << QStringList{"8a;Abi05a"} << "   " << "";
    QTest::newRow("leading blanks of the container ignored") << QStringList{"8a;Abi05a"} << "  Abi05a" << "8a";
    QTest::newRow("no line") << QStringList{} << "Abi05a" << "";
}

void NamesTest::lookupClass()
{
    QFETCH(QStringList, lines);
    QFETCH(QString, container);
    QFETCH(QString, expected);
    QCOMPARE(runs::matchClass(lines, container).className, expected);
}

void NamesTest::designation_data()
{
    QTest::addColumn<int>("form");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("expected");
    QTest::newRow("0 container") << 0 << "8a" << "Abi05a";
    QTest::newRow("1 class") << 1 << "8a" << "8a";
    QTest::newRow("2 class, container") << 2 << "8a" << "8a, Abi05a";
    QTest::newRow("3 container, class") << 3 << "8a" << "Abi05a, 8a";
    QTest::newRow("1 empty class") << 1 << "" << "";
    QTest::newRow("2 empty class") << 2 << "" << ", Abi05a";
    QTest::newRow("3 empty class") << 3 << "" << "Abi05a, ";
}

void NamesTest::designation()
{
    QFETCH(int, form);
    QFETCH(QString, className);
    QFETCH(QString, expected);
    QCOMPARE(runs::designationOf(form, QStringLiteral("Abi05a"), className), expected);
}

void NamesTest::classListLines_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("CR LF") << QByteArray("8a;A\r\n8b;B\r\n") << QStringList{"8a;A", "8b;B"};
    QTest::newRow("LF") << QByteArray("8a;A\n8b;B") << QStringList{"8a;A", "8b;B"};
    QTest::newRow("CR") << QByteArray("8a;A\r8b;B\r") << QStringList{"8a;A", "8b;B"};
    QTest::newRow("mixed, empty line kept") << QByteArray("a\r\n\nb\rc") << QStringList{"a", "", "b", "c"};
    QTest::newRow("LF CR is two breaks") << QByteArray("a\n\rb") << QStringList{"a", "", "b"};
    QTest::newRow("empty file") << QByteArray() << QStringList{};
    QTest::newRow("only a break") << QByteArray("\r\n") << QStringList{""};
    QTest::newRow("NUL ends the text") << QByteArray("8a;A\n8b;B\0" "8c;C\n", 15) << QStringList{"8a;A", "8b;B"};
    QTest::newRow("UTF-8") << QByteArray("8ä;Klasse ł\n") << QStringList{QStringLiteral("8ä;Klasse ł")};
    QTest::newRow("UTF-8 with byte order mark") << QByteArray("\xEF\xBB\xBF" "8a;A") << QStringList{"8a;A"};
    QTest::newRow("Windows-1252") << QByteArray("8\xE4;M\xFCller \x80\n") << QStringList{QStringLiteral("8ä;Müller €")};
    QTest::newRow("binary") << QByteArray("\xFF\xFE\x01\x02\n\x9D") << QStringList{QStringLiteral("ÿþ\x01\x02"), QString(QChar(0x9D))};
}

void NamesTest::classListLines()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, lines);
    QCOMPARE(runs::classListLines(content), lines);
}

void NamesTest::classList_tenMegabytes_readsEveryLine()
{
    QByteArray content;
    const QByteArray line("8a;Abi05a-Klassenname-mit-Fuellung\r\n");
    while (content.size() < 10 * 1024 * 1024)
        content += line;
    const QStringList lines = runs::classListLines(content);
    QCOMPARE(lines.size(), content.size() / line.size());
    QCOMPARE(runs::matchClass(lines, QStringLiteral("Abi05a")).className, QStringLiteral("8a"));
}

void NamesTest::classListPath_besideProgramThenUserThenSystem()
{
    QTemporaryDir program;
    const QString user = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/klassomat");
    const auto removeUser = qScopeGuard([&] { QDir(user).removeRecursively(); });
    const QStringList candidates = runs::classListCandidates(program.path());
    QCOMPARE(candidates, (QStringList{program.filePath(QStringLiteral("Klassen.txt")), user + QStringLiteral("/Klassen.txt"),
                                      QStringLiteral("/etc/klassomat/Klassen.txt")}));
    if (QFileInfo::exists(candidates.last()))
        QSKIP("this machine has a system-wide class list");

    QCOMPARE(runs::classListPath(program.path()), candidates.at(0)); // none exists: the first
    QVERIFY(QDir().mkpath(user));
    QFile(candidates.at(1)).open(QIODevice::WriteOnly);
    QCOMPARE(runs::classListPath(program.path()), candidates.at(1));
    QFile(candidates.at(0)).open(QIODevice::WriteOnly);
    QCOMPARE(runs::classListPath(program.path()), candidates.at(0));
}

void NamesTest::errorBoxText_appendsFullStopOnlyAfterDot()
{
    QCOMPARE(platform::errorBoxText(QStringLiteral("Fehler")), QStringLiteral("Fehler."));
    QCOMPARE(platform::errorBoxText(QStringLiteral("Fehler.")), QStringLiteral("Fehler."));
    QCOMPARE(platform::errorBoxText(QStringLiteral("Fehler!")), QStringLiteral("Fehler!"));
    QCOMPARE(platform::errorBoxText(QStringLiteral("Datei (x)")), QStringLiteral("Datei (x)"));
    QCOMPARE(platform::errorBoxText(QStringLiteral("abc/")), QStringLiteral("abc/."));
    QCOMPARE(platform::errorBoxText(QString()), QString());
}

QTEST_GUILESS_MAIN(NamesTest)
#include "test_names.moc"
