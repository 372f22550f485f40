#pragma once

#include <QStringList>

// klassomat on the command line: check, preview, run, runs, undo.
namespace cli {

// Whether the program's first argument names a command.
bool isCommand(const QString &argument);

// Runs the command in `arguments` (the program's name first) inside a running
// QCoreApplication. Returns the exit code: 0 done, 1 some users failed,
// 2 usage or attach error.
int run(const QStringList &arguments);

} // namespace cli
