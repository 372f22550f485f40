// The command line as people type it: help, typos, no display, a class list
// that is missing or no text, and the man page against the parser.
#include "cli/cli.h"
#include "cli/table.h"
#include "display_check.h"
#include "platform/error.h"
#include "runs/class_list.h"
#include "support/klassomat_process.h"

#include <QCommandLineParser>
#include <QLocalServer>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <xcb/xcb.h>

namespace {

using Environment = QMap<QString, QString>; // a null value removes the variable

Result klassomat(const QStringList &arguments, const Environment &changes = {},
                 const QString &program = QStringLiteral(KLASSOMAT_EXECUTABLE))
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    for (auto it = changes.cbegin(); it != changes.cend(); ++it) {
        if (it.value().isNull())
            env.remove(it.key());
        else
            env.insert(it.key(), it.value());
    }
    return runKlassomat(arguments, env, 30000, program);
}

// The long options that `text` names: "--name", or "\-\-name" in roff.
QSet<QString> optionsIn(QString text)
{
    text.replace(QStringLiteral("\\-"), QStringLiteral("-"));
    QSet<QString> names;
    static const QRegularExpression option(QStringLiteral("(?<![\\w-])--([a-z0-9]+(?:-[a-z0-9]+)*)"));
    for (const QRegularExpressionMatch &m : option.globalMatch(text))
        names.insert(m.captured(1));
    return names;
}

QString sorted(const QSet<QString> &names)
{
    QStringList list(names.cbegin(), names.cend());
    list.sort();
    return list.join(QStringLiteral(", "));
}

QSet<QString> longNames(const QList<QCommandLineOption> &options)
{
    QSet<QString> names;
    for (const QCommandLineOption &option : options)
        names.insert(option.names().constLast());
    return names;
}

} // namespace

class CommandLineTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void commandHelp_printsThatCommandsHelp_data();
    void commandHelp_printsThatCommandsHelp();
    void misuse_saysWhyAndExitsTwo_data();
    void misuse_saysWhyAndExitsTwo();
    void missingDisplay_decidedBeforeQt_data();
    void missingDisplay_decidedBeforeQt();
    void x11Display_checkKeepsItsConnectionWhileQtConnects();
    void classList_notText_refused_data();
    void classList_notText_refused();
    void classList_missing_namesWhereItLooked();
    void manPage_namesWhatTheParserTakes();
};

void CommandLineTest::commandHelp_printsThatCommandsHelp_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("run --help") << QStringList{"run", "--help"};
    QTest::newRow("preview -h") << QStringList{"preview", "-h"};
    QTest::newRow("undo --help without a run") << QStringList{"undo", "--help"};
    QTest::newRow("check -h") << QStringList{"check", "-h"};
    QTest::newRow("runs --help") << QStringList{"runs", "--help"};
    QTest::newRow("help beside an unfinished command") << QStringList{"run", "--form", "1", "--help"};
}

void CommandLineTest::commandHelp_printsThatCommandsHelp()
{
    QFETCH(QStringList, arguments);
    const Result r = klassomat(arguments);
    QCOMPARE(r.code, 0);
    QCOMPARE(r.err, QString());
    QVERIFY2(r.out.startsWith(QStringLiteral("Aufruf: klassomat %1").arg(arguments.first())), qPrintable(r.out));
    for (const cli::Command &command : cli::commands()) {
        if (command.name == arguments.first())
            QCOMPARE(optionsIn(r.out), longNames(command.options) + QSet<QString>{QStringLiteral("help")});
    }
}

void CommandLineTest::misuse_saysWhyAndExitsTwo_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Environment>("environment");
    QTest::addColumn<QString>("message");
    const Environment none;
    const Environment offscreen{{QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen")}};
    const Environment x11{{QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb")}};
    QTest::newRow("a typo") << QStringList{"chek"} << x11 << "Unbekannter Befehl 'chek' – klassomat --help zeigt die Befehle";
    QTest::newRow("a typo behind Qt's options, with a display")
        << QStringList{"-platform", "offscreen", "chek"} << none << "Unbekannter Befehl 'chek'";
    QTest::newRow("a command not in first place") << QStringList{"-platform", "offscreen", "check"} << none << "an die erste Stelle";
    QTest::newRow("an option nobody takes, with a display") << QStringList{"--bogus"} << offscreen << "Unbekannte Option 'bogus'";
    QTest::newRow("--form twice") << QStringList{"run", "--context", "Abi05a.Gym", "--form", "1", "--form=2"} << none
                                  << "--form ist mehr als einmal angegeben";
    QTest::newRow("--tree twice") << QStringList{"check", "--tree", "A", "-tree", "B"} << none << "--tree ist mehr als einmal angegeben";
    QTest::newRow("an option of another command") << QStringList{"undo", "x", "--yes"} << none
                                                  << "undo kennt die Option --yes nicht – klassomat undo --help zeigt die Optionen";
    QTest::newRow("no display at all") << QStringList{} << x11 << "Das Fenster kann sich nicht öffnen: keine grafische Oberfläche (DISPLAY";
    QTest::newRow("a display nobody answers")
        << QStringList{} << Environment{{QStringLiteral("DISPLAY"), QStringLiteral(":4711")}} << "die Anzeige :4711 (DISPLAY) antwortet nicht";
}

void CommandLineTest::misuse_saysWhyAndExitsTwo()
{
    QFETCH(QStringList, arguments);
    QFETCH(Environment, environment);
    QFETCH(QString, message);
    const Result r = klassomat(arguments, environment);
    QCOMPARE(r.code, 2);
    QVERIFY2(r.err.contains(QStringLiteral("klassomat: ")) && r.err.contains(message), qPrintable(r.err));
    QVERIFY2(!r.err.contains(QStringLiteral("qt.qpa")), qPrintable(r.err)); // Qt never got as far as its platform
    QCOMPARE(r.out, QString());
}

void CommandLineTest::missingDisplay_decidedBeforeQt_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Environment>("environment");
    QTest::addColumn<QString>("problem"); // empty: the window may open

    QTest::newRow("offscreen") << QStringList{} << Environment{{"QT_QPA_PLATFORM", "offscreen"}} << "";
    QTest::newRow("xcb without DISPLAY") << QStringList{} << Environment{{"QT_QPA_PLATFORM", "xcb"}} << "DISPLAY ist nicht gesetzt";
    QTest::newRow("xcb, nobody answers") << QStringList{} << Environment{{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":4711"}} << ":4711";
    QTest::newRow("-display wins over DISPLAY") << QStringList{"-display", ":4712"} << Environment{{"DISPLAY", ":4711"}} << ":4712";
    QTest::newRow("-platform wins over the environment")
        << QStringList{"-platform", "offscreen"} << Environment{{"QT_QPA_PLATFORM", "xcb"}} << "";
    QTest::newRow("--platform as well") << QStringList{"--platform", "offscreen"} << Environment{} << "";
    QTest::newRow("a platform with arguments") << QStringList{} << Environment{{"QT_QPA_PLATFORM", "vnc:size=800x600"}} << "";
    QTest::newRow("one of several that works") << QStringList{} << Environment{{"QT_QPA_PLATFORM", "xcb;offscreen"}} << "";
    QTest::newRow("none of several works")
        << QStringList{} << Environment{{"QT_QPA_PLATFORM", "wayland;xcb"}, {"XDG_RUNTIME_DIR", "/nonexistent"}}
        << "der Wayland-Server /nonexistent/wayland-0 (WAYLAND_DISPLAY) antwortet nicht; keine grafische Oberfläche";
    QTest::newRow("Wayland, a compositor listening") << QStringList{} << Environment{{"QT_QPA_PLATFORM", "wayland"}, {"WAYLAND_DISPLAY", "@listening"}} << "";
    QTest::newRow("nothing named, nothing there") << QStringList{} << Environment{} << "DISPLAY ist nicht gesetzt";
    QTest::newRow("nothing named, a compositor listening") << QStringList{} << Environment{{"WAYLAND_DISPLAY", "@listening"}} << "";
}

void CommandLineTest::missingDisplay_decidedBeforeQt()
{
    QFETCH(QStringList, arguments);
    QFETCH(Environment, environment);
    QFETCH(QString, problem);
    QTemporaryDir dir;
    QLocalServer compositor;
    const QString socket = dir.filePath(QStringLiteral("wayland-test"));
    QVERIFY(compositor.listen(socket));

    QProcessEnvironment env;
    for (auto it = environment.cbegin(); it != environment.cend(); ++it)
        env.insert(it.key(), it.value() == QLatin1String("@listening") ? socket : it.value());
    const QString said = DisplayCheck(QStringList{QStringLiteral("klassomat")} + arguments, env).problem();
    if (problem.isEmpty())
        QVERIFY2(said.isEmpty(), qPrintable(said));
    else
        QVERIFY2(said.contains(problem) && said.contains(QStringLiteral("klassomat --help")), qPrintable(said));
}

void CommandLineTest::x11Display_checkKeepsItsConnectionWhileQtConnects()
{
    // An X server may turn away a connection made just as another one
    // closes: were the check's closed before Qt connects, the window would
    // fail to start about every third time.
    QProcess xvfb;
    xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    QVERIFY2(xvfb.waitForStarted(), "Xvfb is needed (scripts/setup.sh installs it)");
    const auto stop = qScopeGuard([&] { xvfb.terminate(); xvfb.waitForFinished(); });
    QByteArray number;
    while (!number.endsWith('\n') && xvfb.waitForReadyRead(10000))
        number += xvfb.readAllStandardOutput();
    const QByteArray display = ':' + number.trimmed();
    QProcessEnvironment env;
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));

    int turnedAway = 0;
    for (int start = 0; start < 30; ++start) {
        QTest::qWait(20); // the last start's connections closed in peace
        const DisplayCheck check({QStringLiteral("klassomat")}, env);
        QVERIFY2(check.problem().isEmpty(), qPrintable(check.problem()));
        xcb_connection_t *qt = xcb_connect(display.constData(), nullptr); // as Qt's platform does next
        turnedAway += xcb_connection_has_error(qt) ? 1 : 0;
        xcb_disconnect(qt);
    }
    QCOMPARE(turnedAway, 0);
}

void CommandLineTest::classList_notText_refused_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("refusal"); // empty: read
    QTest::addColumn<QString>("note");    // of a list that was read
    QTest::newRow("UTF-16 as Notepad saves it") << QByteArray("\xFF\xFE" "8\0a\0;\0A\0", 10) << "UTF-16" << "";
    QTest::newRow("UTF-16 without its mark") << QByteArray("8\0a\0;\0A\0", 8) << "UTF-16" << "";
    QTest::newRow("UTF-16 big-endian without its mark") << QByteArray("\0" "8\0a\0;\0A", 8) << "UTF-16" << "";
    QTest::newRow("a spreadsheet (zip)") << QByteArray("PK\x03\x04\x14\0\x06\0", 8) << "Zeile 1 enthält das Steuerzeichen 0x03" << "";
    QTest::newRow("a picture (PNG): Ctrl-Z before its end") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)
                                                            << "Zeile 2 enthält das Steuerzeichen 0x1a" << "";
    QTest::newRow("an escape in line 3 after CR line ends") << QByteArray("8a;A\r8b;B\r8c;\x1b[1mC\r") << "Zeile 3 enthält das Steuerzeichen 0x1b" << "";
    QTest::newRow("text after a NUL is not read") << QByteArray("8a;A\n8b;B\0" "8c;C\n", 15) << ""
                                                  << "In Zeile 2 der Klassenliste %1 steht ein NUL-Zeichen: dort endet die Liste, was folgt (5 Bytes), wird nicht gelesen.";
    QTest::newRow("nor judged after a NUL") << QByteArray("8a;A\n\0\x01\xFF\xFE", 9) << "" << "In Zeile 2 der Klassenliste";
    QTest::newRow("NULs padding the end") << QByteArray("8a;A\n\0\0\0", 8) << "" << "";
    QTest::newRow("Ctrl-Z at the end, tabs, a form feed") << QByteArray("8a;\tA\r\n\f8b;B\r\n\x1a") << "" << "";
    QTest::newRow("Windows-1252 umlauts") << QByteArray("8\xE4;M\xFC" "ller\n") << "" << "";
}

void CommandLineTest::classList_notText_refused()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, refusal);
    QFETCH(QString, note);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("Klassen.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();
    try {
        const runs::ClassList list = runs::readClassList(file.fileName());
        QVERIFY2(refusal.isEmpty(), "read though it is no text");
        QVERIFY(!list.lines.isEmpty());
        QVERIFY2(note.isEmpty() ? list.note.isEmpty() : list.note.startsWith(note.arg(file.fileName())), qPrintable(list.note));
    } catch (const platform::Error &e) {
        QVERIFY2(!refusal.isEmpty() && e.message().contains(file.fileName() + QStringLiteral(" ist keine Klassenliste: "))
                     && e.message().contains(refusal), qPrintable(e.message()));
    }
}

void CommandLineTest::classList_missing_namesWhereItLooked()
{
    if (QFileInfo::exists(QStringLiteral("/etc/klassomat/Klassen.txt")))
        QSKIP("this machine has a class list in /etc/klassomat");
    // A program without a class list beside it, and a user without one.
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("klassomat"));
    QVERIFY(QFile::copy(QStringLiteral(KLASSOMAT_EXECUTABLE), program));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("config")));
    const Environment env{{QStringLiteral("DIRCLIENT_CONFIG"), QString()},
                          {QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config"))},
                          {QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data"))}};
    const QString places = QStringLiteral("%1, %2, /etc/klassomat/Klassen.txt")
                               .arg(dir.filePath(QStringLiteral("Klassen.txt")), dir.filePath(QStringLiteral("config/klassomat/Klassen.txt")));

    const Result check = klassomat({QStringLiteral("check")}, env, program);
    QVERIFY2(check.out.contains(QStringLiteral("keine Klassenliste (gesucht in: %1)").arg(places)), qPrintable(check.out + check.err));
    const Result form1 = klassomat({QStringLiteral("preview"), QStringLiteral("--context"), QStringLiteral("Abi05a.Gym"),
                                    QStringLiteral("--form"), QStringLiteral("1")}, env, program);
    QCOMPARE(form1.code, 2);
    QVERIFY2(form1.err.contains(QStringLiteral("Die Form 1 braucht die Klassenliste Klassen.txt, aber es gibt keine; gesucht in: %1").arg(places)),
             qPrintable(form1.err));
    const Result form0 = klassomat({QStringLiteral("preview"), QStringLiteral("--context"), QStringLiteral("Abi05a.Gym"),
                                    QStringLiteral("--form"), QStringLiteral("0")}, env, program);
    QVERIFY2(form0.code == 0 && form0.out.contains(QStringLiteral("-> Abi05a  [ändern]")), qPrintable(form0.out + form0.err));
}

void CommandLineTest::manPage_namesWhatTheParserTakes()
{
    QFile file(QStringLiteral(KLASSOMAT_MAN_PAGE));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString page = QString::fromUtf8(file.readAll());

    QSet<QString> parser;
    QCommandLineParser program;
    cli::describeProgram(program);
    parser += optionsIn(program.helpText());
    const QString synopsis = page.section(QStringLiteral(".SH ÜBERSICHT\n"), 1).section(QStringLiteral("\n.SH "), 0, 0);
    for (const cli::Command &command : cli::commands()) {
        const QSet<QString> takes = longNames(command.options);
        parser += takes;
        // The command's lines of the synopsis, up to the next line break.
        const QString lines = synopsis.section(QStringLiteral(".B klassomat %1\n").arg(command.name), 1).section(QStringLiteral("\n.br"), 0, 0);
        QVERIFY2(!lines.isEmpty(), qPrintable(command.name + QStringLiteral(" is not in the synopsis")));
        QVERIFY2(optionsIn(lines) == takes, qPrintable(QStringLiteral("%1: man page %2; parser %3").arg(command.name, sorted(optionsIn(lines)), sorted(takes))));
    }
    const QSet<QString> documented = optionsIn(page);
    QVERIFY2(documented == parser, qPrintable(QStringLiteral("only in the man page: %1; only in the parser: %2")
                                                  .arg(sorted(documented - parser), sorted(parser - documented))));
    // Every option has its own entry under OPTIONEN.
    const QString entries = page.section(QStringLiteral(".SH OPTIONEN\n"), 1).section(QStringLiteral("\n.SH "), 0, 0);
    QSet<QString> described;
    for (const QString &entry : entries.split(QStringLiteral(".TP\n")))
        described += optionsIn(entry.section(QLatin1Char('\n'), 0, 0));
    QVERIFY2(described == parser, qPrintable(QStringLiteral("without an entry: %1").arg(sorted(parser - described))));
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "test_command_line.moc"
