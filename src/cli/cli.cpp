#include "cli/cli.h"

#include "cli/commands.h"
#include "cli/session.h"

#include <QCommandLineParser>

namespace cli {

namespace {

const QStringList kCommands = {QStringLiteral("check"), QStringLiteral("preview"), QStringLiteral("run"),
                               QStringLiteral("runs"), QStringLiteral("undo")};

const QString kUsage = QStringLiteral(
    "Aufruf:\n"
    "  klassomat check   [--tree T] [--classes DATEI]\n"
    "  klassomat preview [--tree T] --context K [--subtree] --form 0..3 [--classes DATEI] [--format text|csv|ldif]\n"
    "  klassomat run     [--tree T] --context K [--subtree] --form 0..3 [--classes DATEI] [--report DATEI.csv]\n"
    "                    [--continue] [--allow-empty-class] [--yes] [--pause MS]\n"
    "  klassomat runs    [--tree T]\n"
    "  klassomat undo    LAUF [--dry-run] [--ldif]\n"
    "\n"
    "check    prüft Baum und Klassenliste: Klassen ohne Zeile, Zeilen ohne Container,\n"
    "         Treffer nur über einen längeren Namen, Namen mehrerer Objekte.\n"
    "preview  zeigt je Benutzer alten und neuen Wert, schreibt nichts.\n"
    "run      trägt die Klassenbezeichnung ein und führt ein Laufprotokoll.\n"
    "runs     listet die Laufprotokolle.\n"
    "undo     nimmt einen Lauf zurück, wo der Wert noch der geschriebene ist.\n"
    "\n"
    "Formen: 0 Container (Abi05a), 1 Klasse (8a), 2 Klasse, Container (8a, Abi05a),\n"
    "        3 Container, Klasse (Abi05a, 8a).\n"
    "Kontext: gepunkteter Name (Abi05a.Gym), voller Name (NDS:\\\\SCHULE\\Gym\\Abi05a) oder DN.\n"
    "Rückgabewert: 0 erledigt, 1 bei einzelnen Benutzern fehlgeschlagen, 2 Aufruf- oder Verbindungsfehler.\n");

QCommandLineOption option(const char *name, const QString &description, const QString &value = QString())
{
    return value.isEmpty() ? QCommandLineOption(QString::fromLatin1(name), description)
                           : QCommandLineOption(QString::fromLatin1(name), description, value);
}

Options parse(const QString &command, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const auto tree = option("tree", QStringLiteral("Baum (Abschnitt der Konfiguration)"), QStringLiteral("T"));
    const auto classes = option("classes", QStringLiteral("Klassenliste"), QStringLiteral("DATEI"));
    const auto context = option("context", QStringLiteral("Startkontext"), QStringLiteral("K"));
    const auto subtree = option("subtree", QStringLiteral("gesamten Teilbaum durchsuchen"));
    const auto form = option("form", QStringLiteral("Form der Eintragung"), QStringLiteral("0..3"));
    const auto format = option("format", QStringLiteral("Ausgabe"), QStringLiteral("text|csv|ldif"));
    const auto report = option("report", QStringLiteral("Bericht als CSV"), QStringLiteral("DATEI"));
    const auto goOn = option("continue", QStringLiteral("nach einem Fehler weitermachen"));
    const auto allowEmpty = option("allow-empty-class", QStringLiteral("auch ohne Klasse in der Klassenliste eintragen"));
    const auto yes = option("yes", QStringLiteral("nicht nachfragen"));
    const auto pause = option("pause", QStringLiteral("Pause vor jedem Benutzer"), QStringLiteral("MS"));
    const auto dryRun = option("dry-run", QStringLiteral("nur zeigen"));
    const auto ldif = option("ldif", QStringLiteral("als LDIF ausgeben"));
    const auto help = option("help", QStringLiteral("Hilfe"));

    QList<QCommandLineOption> allowed{help};
    if (command == QLatin1String("check"))
        allowed << tree << classes;
    else if (command == QLatin1String("preview"))
        allowed << tree << classes << context << subtree << form << format;
    else if (command == QLatin1String("run"))
        allowed << tree << classes << context << subtree << form << report << goOn << allowEmpty << yes << pause;
    else if (command == QLatin1String("runs"))
        allowed << tree;
    else
        allowed << dryRun << ldif;
    parser.addOptions({tree, classes, context, subtree, form, format, report, goOn, allowEmpty, yes, pause, dryRun, ldif, help});
    if (!parser.parse(arguments))
        throw UsageError(parser.errorText());
    for (const QString &name : parser.optionNames()) {
        if (std::none_of(allowed.cbegin(), allowed.cend(), [&](const QCommandLineOption &o) { return o.names().contains(name); }))
            throw UsageError(QStringLiteral("%1 kennt die Option --%2 nicht").arg(command, name));
    }

    Options o;
    o.tree = parser.value(tree);
    o.classes = parser.value(classes);
    o.context = parser.value(context);
    o.subtree = parser.isSet(subtree);
    o.format = parser.isSet(format) ? parser.value(format) : o.format;
    o.report = parser.value(report);
    o.goOn = parser.isSet(goOn);
    o.allowEmptyClass = parser.isSet(allowEmpty);
    o.yes = parser.isSet(yes);
    o.dryRun = parser.isSet(dryRun);
    o.ldif = parser.isSet(ldif);

    const QStringList positional = parser.positionalArguments();
    if (command == QLatin1String("undo")) {
        if (positional.size() != 1)
            throw UsageError(QStringLiteral("undo braucht genau einen Lauf (eine Kennung aus \"klassomat runs\")"));
        o.run = positional.first();
    } else if (!positional.isEmpty()) {
        throw UsageError(QStringLiteral("Unerwartetes Argument: %1").arg(positional.first()));
    }
    if (command == QLatin1String("preview") || command == QLatin1String("run")) {
        if (o.context.isEmpty())
            throw UsageError(QStringLiteral("--context fehlt"));
        bool ok = false;
        o.form = parser.value(form).toInt(&ok);
        if (!parser.isSet(form) || !ok || o.form < 0 || o.form > 3)
            throw UsageError(QStringLiteral("--form braucht eine Zahl von 0 bis 3"));
    }
    if (!QStringList{QStringLiteral("text"), QStringLiteral("csv"), QStringLiteral("ldif")}.contains(o.format))
        throw UsageError(QStringLiteral("--format kennt text, csv und ldif, nicht %1").arg(o.format));
    if (parser.isSet(pause)) {
        bool ok = false;
        o.pauseMs = parser.value(pause).toInt(&ok);
        if (!ok || o.pauseMs < 0)
            throw UsageError(QStringLiteral("--pause braucht Millisekunden"));
    }
    if (parser.isSet(help))
        o.run = QStringLiteral("--help");
    return o;
}

} // namespace

bool isCommand(const QString &argument)
{
    return kCommands.contains(argument);
}

int run(const QStringList &arguments)
{
    const QString command = arguments.value(1);
    if (!isCommand(command)) {
        err() << kUsage << Qt::flush;
        return 2;
    }
    QStringList rest = arguments;
    rest.removeAt(1);
    try {
        const Options o = parse(command, rest);
        if (o.run == QLatin1String("--help") && command != QLatin1String("undo")) {
            out() << kUsage << Qt::flush;
            return 0;
        }
        int code = 0;
        if (command == QLatin1String("check"))
            code = check(o);
        else if (command == QLatin1String("preview"))
            code = preview(o);
        else if (command == QLatin1String("run"))
            code = runCommand(o);
        else if (command == QLatin1String("runs"))
            code = listRuns(o);
        else
            code = undo(o);
        out().flush();
        return code == 0 && Session::partsUnsearched() ? 1 : code;
    } catch (const UsageError &e) {
        out().flush();
        err() << QStringLiteral("klassomat: %1").arg(e.message()) << Qt::endl;
        return 2;
    } catch (const std::exception &e) {
        out().flush();
        err() << QStringLiteral("klassomat: %1").arg(platform::messageOf(e)) << Qt::endl;
        return 1;
    }
}

} // namespace cli
