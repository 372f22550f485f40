#pragma once

#include <QString>

// The five commands; each returns the exit code and raises UsageError for
// usage and attach errors.
namespace cli {

struct Options {
    QString tree;
    QString classes;
    QString context;
    bool subtree = false;
    int form = 0;
    QString format = QStringLiteral("text");
    QString report;
    bool goOn = false; // --continue
    bool allowEmptyClass = false;
    bool yes = false;
    int pauseMs = 0;
    QString run; // for undo
    bool dryRun = false;
    bool ldif = false;
    bool ignoreChecksum = false; // undo: take back a record whose sums fail
    bool otherServer = false;    // undo: on the server the tree names now, not the run's
};

int check(const Options &options);
int preview(const Options &options);
int runCommand(const Options &options);
int listRuns(const Options &options);
int undo(const Options &options);

} // namespace cli
