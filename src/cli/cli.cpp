#include "cli/cli.h"

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/session.h"

#include <QCommandLineParser>

#include <algorithm>

namespace cli {

namespace {

constexpr qsizetype kWidth = 79; // the terminal's usual width, for the help

QCommandLineOption flag(const QString &name, const QString &description)
{
    return QCommandLineOption(name, description);
}

QCommandLineOption valued(const QString &name, const QString &value, const QString &description)
{
    return QCommandLineOption(name, description, value);
}

const QCommandLineOption &helpOption()
{
    static const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("zeigt diese Hilfe"));
    return help;
}

QString longName(const QCommandLineOption &option)
{
    return QStringLiteral("--") + option.names().constLast();
}

QString spelled(const QCommandLineOption &option)
{
    QStringList names;
    for (const QString &name : option.names())
        names.append((name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name);
    const QString text = names.join(QStringLiteral(", "));
    return option.valueName().isEmpty() ? text : text + QLatin1Char(' ') + option.valueName();
}

// `head` as it is, then the words of `text`, broken into lines of at most
// kWidth characters, every line after the first indented by `indent` blanks.
QString wrapped(const QString &head, const QString &text, qsizetype indent)
{
    QString result = head;
    qsizetype column = head.size();
    for (const QString &word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (column > indent && column + 1 + word.size() > kWidth) {
            result += QLatin1Char('\n') + QString(indent, QLatin1Char(' '));
            column = indent;
        } else if (!result.isEmpty() && !result.endsWith(QLatin1Char(' '))) {
            result += QLatin1Char(' ');
            ++column;
        }
        result += word;
        column += word.size();
    }
    return result;
}

QString synopsis(const Command &command)
{
    QString text = QStringLiteral("klassomat ") + command.name;
    if (!command.argument.isEmpty())
        text += QLatin1Char(' ') + command.argument;
    for (const QCommandLineOption &option : command.options) {
        QString spelling = longName(option);
        if (!option.valueName().isEmpty())
            spelling += QLatin1Char(' ') + option.valueName();
        text += QLatin1Char(' ') + (command.required.contains(option.names().constLast()) ? spelling : QStringLiteral("[%1]").arg(spelling));
    }
    return text;
}

QString helpText(const Command &command)
{
    QList<QCommandLineOption> options = command.options;
    options.append(helpOption());
    qsizetype column = 0;
    for (const QCommandLineOption &option : options)
        column = std::max(column, spelled(option).size());
    column += 4;

    QString text = wrapped(QStringLiteral("Aufruf: "), synopsis(command), 8) + QStringLiteral("\n\n")
                   + wrapped({}, command.summary.left(1).toUpper() + command.summary.mid(1), 0) + QStringLiteral("\n\nOptionen:\n");
    for (const QCommandLineOption &option : options)
        text += wrapped(QStringLiteral("  ") + spelled(option).leftJustified(column - 2), option.description(), column) + QLatin1Char('\n');
    return text + QLatin1Char('\n') + wrapped(QStringLiteral("Rückgabewert: "), command.exitCodes, 0) + QLatin1Char('\n');
}

const Command *find(const QString &name)
{
    const QList<Command> &all = commands();
    const auto it = std::find_if(all.cbegin(), all.cend(), [&](const Command &c) { return c.name == name; });
    return it == all.cend() ? nullptr : &*it;
}

QString usageHint(const Command &command)
{
    return QStringLiteral(" – klassomat %1 --help zeigt die Optionen").arg(command.name);
}

// Reads `arguments` (the program's name first, the command taken out) into
// `parser`; raises a UsageError for what no reading makes sense of.
void readArguments(QCommandLineParser &parser, const Command &command, const QStringList &arguments)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    // Every command's options, so that one meant for another command is named as such.
    QStringList added;
    for (const Command &c : commands()) {
        for (const QCommandLineOption &option : c.options) {
            if (!added.contains(option.names().constLast())) {
                parser.addOption(option);
                added.append(option.names().constLast());
            }
        }
    }
    parser.addOption(helpOption());
    if (!parser.parse(arguments)) {
        QString error = parser.errorText();
        if (error.endsWith(QLatin1Char('.')))
            error.chop(1);
        throw UsageError(error + usageHint(command));
    }
    const auto takes = [&](const QString &name) {
        return helpOption().names().contains(name)
               || std::any_of(command.options.cbegin(), command.options.cend(), [&](const QCommandLineOption &o) { return o.names().contains(name); });
    };
    for (const QString &name : parser.optionNames()) {
        if (!takes(name))
            throw UsageError(QStringLiteral("%1 kennt die Option --%2 nicht").arg(command.name, name) + usageHint(command));
    }
    for (const QCommandLineOption &option : command.options) {
        if (!option.valueName().isEmpty() && parser.values(option).size() > 1)
            throw UsageError(QStringLiteral("%1 ist mehr als einmal angegeben").arg(longName(option)));
    }
}

Options optionsOf(const QCommandLineParser &parser, const Command &command)
{
    for (const QString &name : command.required) {
        if (!parser.isSet(name))
            throw UsageError(QStringLiteral("--%1 fehlt").arg(name) + usageHint(command));
    }
    const auto text = [&](const char *name) { return parser.value(QString::fromLatin1(name)); };
    const auto isSet = [&](const char *name) { return parser.isSet(QString::fromLatin1(name)); };
    Options o;
    o.tree = text("tree");
    o.classes = text("classes");
    o.context = text("context");
    o.subtree = isSet("subtree");
    o.format = isSet("format") ? text("format") : o.format;
    o.report = text("report");
    o.goOn = isSet("continue");
    o.allowEmptyClass = isSet("allow-empty-class");
    o.yes = isSet("yes");
    o.dryRun = isSet("dry-run");
    o.ldif = isSet("ldif");
    o.ignoreChecksum = isSet("ignore-checksum");
    o.otherServer = isSet("allow-other-server");

    const QStringList positional = parser.positionalArguments();
    if (!command.argument.isEmpty()) {
        if (positional.size() != 1)
            throw UsageError(QStringLiteral("undo braucht genau einen Lauf (eine Kennung aus \"klassomat runs\")"));
        o.run = positional.first();
    } else if (!positional.isEmpty()) {
        throw UsageError(QStringLiteral("Unerwartetes Argument: %1").arg(positional.first()) + usageHint(command));
    }
    if (isSet("form")) {
        bool ok = false;
        o.form = text("form").toInt(&ok);
        if (!ok || o.form < 0 || o.form > 3)
            throw UsageError(QStringLiteral("--form braucht eine Zahl von 0 bis 3"));
    }
    if (!QStringList{QStringLiteral("text"), QStringLiteral("csv"), QStringLiteral("ldif")}.contains(o.format))
        throw UsageError(QStringLiteral("--format kennt text, csv und ldif, nicht %1").arg(o.format));
    if (isSet("pause")) {
        bool ok = false;
        o.pauseMs = text("pause").toInt(&ok);
        if (!ok || o.pauseMs < 0)
            throw UsageError(QStringLiteral("--pause braucht Millisekunden"));
    }
    return o;
}

} // namespace

const QList<Command> &commands()
{
    static const QList<Command> list = [] {
        const auto tree = valued(QStringLiteral("tree"), QStringLiteral("BAUM"),
                                 QStringLiteral("der Baum, ein Abschnitt der Konfiguration; nötig, wenn mehrere eingetragen sind (bei runs: nur dessen Läufe)"));
        const auto classes = valued(QStringLiteral("classes"), QStringLiteral("DATEI"),
                                    QStringLiteral("die Klassenliste; ohne die Option Klassen.txt neben dem Programm, "
                                                   "in ~/.config/klassomat oder in /etc/klassomat"));
        const auto context = valued(QStringLiteral("context"), QStringLiteral("KONTEXT"),
                                    QStringLiteral("der Startkontext: gepunkteter Name (Abi05a.Gym), voller Name "
                                                   "(NDS:\\\\SCHULE\\Gym\\Abi05a) oder DN"));
        const auto subtree = flag(QStringLiteral("subtree"), QStringLiteral("durchsucht den gesamten Teilbaum, nicht nur die Ebene darunter"));
        const auto form = valued(QStringLiteral("form"), QStringLiteral("0..3"),
                                 QStringLiteral("die Form der Eintragung: 0 Container (Abi05a), 1 Klasse (8a), "
                                                "2 Klasse, Container (8a, Abi05a), 3 Container, Klasse (Abi05a, 8a)"));
        const auto format = valued(QStringLiteral("format"), QStringLiteral("text|csv|ldif"),
                                   QStringLiteral("die Ausgabe: Text (Vorgabe), CSV für eine Tabellenkalkulation "
                                                  "oder LDIF für ldapmodify"));
        const auto report = valued(QStringLiteral("report"), QStringLiteral("DATEI"),
                                   QStringLiteral("schreibt je Benutzer alte und neue Werte und das Ergebnis als CSV in DATEI"));
        const auto goOn = flag(QStringLiteral("continue"), QStringLiteral("macht nach einem abgelehnten Benutzer weiter, statt aufzuhören"));
        const auto allowEmpty = flag(QStringLiteral("allow-empty-class"),
                                     QStringLiteral("gilt auch, wo die Klassenliste die Klasse nicht nennt: die Form 1 "
                                                    "löscht dort den Wert, die Formen 2 und 3 tragen eine Bezeichnung "
                                                    "ohne Klasse ein"));
        const auto yes = flag(QStringLiteral("yes"), QStringLiteral("fragt nicht nach; ohne Terminal nötig"));
        const auto pause = valued(QStringLiteral("pause"), QStringLiteral("MS"),
                                  QStringLiteral("wartet vor jedem Benutzer so viele Millisekunden und schreibt "
                                                 "einzeln statt in Stapeln"));
        const auto dryRun = flag(QStringLiteral("dry-run"), QStringLiteral("zeigt nur, was zurückgenommen würde"));
        const auto ldif = flag(QStringLiteral("ldif"), QStringLiteral("gibt die Rücknahme als LDIF für ldapmodify aus, statt sie zu schreiben"));
        const auto ignoreChecksum = flag(QStringLiteral("ignore-checksum"),
                                         QStringLiteral("nimmt auch ein Laufprotokoll zurück, dessen Prüfsumme nicht stimmt "
                                                        "(bearbeitet oder abgeschnitten)"));
        const auto otherServer = flag(QStringLiteral("allow-other-server"),
                                      QStringLiteral("nimmt auch zurück, wenn der Baum jetzt auf einen anderen Server, "
                                                     "Basis-DN oder einen neu angelegten Basiseintrag zeigt als beim Lauf"));
        const QString failed = QStringLiteral("2 Aufruf- oder Verbindungsfehler.");
        return QList<Command>{
            {QStringLiteral("check"), {},
             QStringLiteral("prüft Baum und Klassenliste: Klassen ohne Zeile, Zeilen ohne Container, Treffer nur "
                            "über einen längeren Namen, Namen mehrerer Objekte."),
             {tree, classes}, {},
             QStringLiteral("0 keine Bedenken, 1 Bedenkliches gefunden oder ein Fehler beim Lesen, ") + failed},
            {QStringLiteral("preview"), {}, QStringLiteral("zeigt je Benutzer alte und neue Werte, wie run sie schriebe; schreibt nichts."),
             {context, form, tree, subtree, classes, format, allowEmpty}, {QStringLiteral("context"), QStringLiteral("form")},
             QStringLiteral("0 erledigt, 1 ein Fehler beim Lesen, ") + failed},
            {QStringLiteral("run"), {}, QStringLiteral("trägt die Klassenbezeichnung ein und führt ein Laufprotokoll."),
             {context, form, tree, subtree, classes, report, goOn, allowEmpty, yes, pause},
             {QStringLiteral("context"), QStringLiteral("form")},
             QStringLiteral("0 erledigt, 1 bei einzelnen Benutzern abgelehnt oder übersprungen, oder ein Fehler "
                            "während des Laufs, 2 Aufruf- oder Verbindungsfehler, eine verneinte oder nicht gestellte "
                            "Frage, oder Änderungen, auf die der Server nicht geantwortet hat (unbestätigt).")},
            {QStringLiteral("runs"), {}, QStringLiteral("listet die Laufprotokolle."), {tree}, {},
             QStringLiteral("0 erledigt, 2 ein Baum, der nicht eingetragen ist, oder ein Ordner der Laufprotokolle, "
                            "der sich nicht lesen lässt.")},
            {QStringLiteral("undo"), QStringLiteral("LAUF"),
             QStringLiteral("nimmt einen Lauf zurück, wo der Wert noch der geschriebene ist; LAUF ist eine Kennung "
                            "aus klassomat runs."),
             {dryRun, ldif, ignoreChecksum, otherServer}, {},
             QStringLiteral("0 alles oder schon zurückgenommen, 1 Benutzer übersprungen oder abgelehnt, 2 Aufruf- "
                            "oder Verbindungsfehler, ein Laufprotokoll mit falscher Prüfsumme oder von einem anderen "
                            "Server, oder Rücknahmen, auf die der Server nicht geantwortet hat (unbestätigt).")},
        };
    }();
    return list;
}

bool isCommand(const QString &argument)
{
    return find(argument) != nullptr;
}

void describeProgram(QCommandLineParser &parser)
{
    QString text = QStringLiteral(
        "Trägt bei allen Benutzern unterhalb eines Verzeichniskontexts die Klasse in das Feld Department ein.\n"
        "Ohne Befehl öffnet klassomat sein Fenster; mit einem Befehl arbeitet es ohne:\n");
    for (const Command &command : commands())
        text += wrapped(QStringLiteral("  ") + command.name.leftJustified(9), command.summary, 11) + QLatin1Char('\n');
    text += QStringLiteral("klassomat BEFEHL --help zeigt die Optionen eines Befehls.");
    parser.setApplicationDescription(text);
    parser.addPositionalArgument(QStringLiteral("BEFEHL"), QStringLiteral("einer der Befehle oben"), QStringLiteral("[BEFEHL [Optionen]]"));
    // Not Qt's help option: its --help-all would list the window's options only once a display is there.
    parser.addOption(QCommandLineOption({QStringLiteral("?"), QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Zeigt diese Hilfe an.")));
    parser.addVersionOption();
}

QString unknownCommand(const QString &argument)
{
    return QStringLiteral("Unbekannter Befehl '%1' – klassomat --help zeigt die Befehle").arg(argument);
}

int run(const QStringList &arguments)
{
    const Command *command = find(arguments.value(1));
    if (!command) {
        err() << QStringLiteral("klassomat: ") << unknownCommand(arguments.value(1)) << Qt::endl;
        return 2;
    }
    QStringList rest = arguments;
    rest.removeAt(1);
    const Interrupt interrupt;
    // Ctrl-C ends with the shell's code for it, after what the command
    // still said (a run's summary and its record).
    const auto interrupted = [] {
        err() << QStringLiteral("klassomat: abgebrochen (Strg+C)") << Qt::endl;
        return 130;
    };
    try {
        QCommandLineParser parser;
        readArguments(parser, *command, rest);
        if (parser.isSet(helpOption())) {
            out() << helpText(*command) << Qt::flush;
            return 0;
        }
        const Options o = optionsOf(parser, *command);
        int code = 0;
        if (command->name == QLatin1String("check"))
            code = check(o);
        else if (command->name == QLatin1String("preview"))
            code = preview(o);
        else if (command->name == QLatin1String("run"))
            code = runCommand(o);
        else if (command->name == QLatin1String("runs"))
            code = listRuns(o);
        else
            code = undo(o);
        out().flush();
        if (Interrupt::requested())
            return interrupted();
        return code == 0 && Session::partsUnsearched() ? 1 : code;
    } catch (const UsageError &e) {
        out().flush();
        err() << QStringLiteral("klassomat: %1").arg(e.message()) << Qt::endl;
        return 2;
    } catch (const std::exception &e) {
        out().flush();
        if (Interrupt::requested())
            return interrupted();
        err() << QStringLiteral("klassomat: %1").arg(platform::messageOf(e)) << Qt::endl;
        // Before anything was written, or with no answer to what was: as a
        // server not reached at the start.
        return dynamic_cast<const directory::ServerUnreachable *>(&e) ? 2 : 1;
    }
}

} // namespace cli
