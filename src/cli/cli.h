#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QStringList>

class QCommandLineParser;

// klassomat on the command line: check, preview, run, runs, undo.
namespace cli {

// A command and what it takes; its help and its parser are made from this.
struct Command {
    QString name;
    QString argument;               // a positional argument it needs ("LAUF"), or empty
    QString summary;                // one line, for klassomat --help
    QList<QCommandLineOption> options; // without -h/--help, which every command takes
    QStringList required;           // names of the options it cannot do without
    QString exitCodes;
};
const QList<Command> &commands();

// Whether `argument` names a command.
bool isCommand(const QString &argument);

// The window's own command line (--help, --version) and its help, which lists
// the commands.
void describeProgram(QCommandLineParser &parser);

// "Unbekannter Befehl '…' – …", for a first argument that names no command.
QString unknownCommand(const QString &argument);

// Runs the command in `arguments` (the program's name first) inside a running
// QCoreApplication. Returns the exit code: 0 done, 1 some users failed,
// 2 usage or attach error or a server not reached, 130 Ctrl-C.
int run(const QStringList &arguments);

} // namespace cli
