#pragma once

#include <QDateTime>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

// The run record: one file per run in the data folder's "runs" folder, so a
// run can be listed, checked and taken back. It is LDIF that ldapmodify
// applies: a header of comment lines (who, when, tree, context, form, class
// list), then for each user a comment block (full name, every old value, the
// new ones) with the change record, written and synced before the change is
// sent, and later a comment line with its result. Comment values that are not
// plain text are written base64-encoded after "::", as LDIF does. Each block
// opens with "# sum:", a SHA-256 over the block and the sum before it, so that
// an edit, a lost block or a cut inside the file is seen.
namespace runs {

struct RunHeader {
    QString id;
    QString kind = QStringLiteral("run"); // or "undo"
    QString undoes;                       // for an undo: the id of the run it takes back
    QString who;
    QDateTime when;
    QString tree;
    QString server; // the LDAP URI or the LDIF file
    QString base;   // the tree's base DN
    QString identity; // the base entry's identity on its server, when it has one
    QString context;
    bool subtree = false;
    int form = 0;
    QString classesPath;
    QString classesSha256;
    QString attribute; // the directory's attribute name, e.g. ou
};

enum class Outcome {
    Unconfirmed, // sent, but no answer came (or the run ended first): it may be stored
    Written,
    Unchanged, // the value already was what the run would write
    Refused,   // the directory refused it; the message says why
    Skipped,   // not sent; the message says why
    NotTried,  // the run stopped before this user
};
QString outcomeName(Outcome outcome);
QString outcomeText(Outcome outcome); // in German, for people

struct RecordedUser {
    int index = 0;
    QString fullName;
    QString dn;
    QStringList before;
    QStringList after;
    Outcome outcome = Outcome::Unconfirmed;
    QString message;
    QString identity; // the entry's own identity ("entryUUID=…"), when the search brought one
    // Read back: what the change record deletes and adds, and whether that
    // is what the comments say.
    QStringList removed;
    QStringList added;
    bool agrees = true;
    int line = 0; // where its block starts in the file
};

// The LDIF change record that makes `before` into `after` on `dn`. It deletes
// exactly the old values, so that ldapmodify refuses it when someone has
// changed them meanwhile.
QByteArray changeRecord(const QString &dn, const QByteArray &type, const QStringList &before, const QStringList &after);

struct RecordedRun {
    QString path;
    RunHeader header;
    QList<RecordedUser> users;
    bool ended = false;
    bool cancelled = false; // ended by the person, before every user was tried
    int notTried = 0;       // of a cancelled run: the users it did not try
    QString damage; // the first block whose sum fails, with its line; empty when sound
    [[nodiscard]] int count(Outcome outcome) const;
};

// The folder the records go to: "runs" in the user's data folder.
QString runsFolder();
// Creates `folder` (and the data folder, for runsFolder()) for the user alone, or checks them:
// raises a German error naming the path when one is not the user's own.
void ensureRunsFolder(const QString &folder);

// Writes one run's record. Every step raises an error when the disk refuses it.
class RunRecordWriter {
public:
    // Creates the file (owner-only) under a fresh id and writes the header
    // durably. Every failure to write raises an error naming the file.
    RunRecordWriter(const QString &folder, RunHeader header);
    ~RunRecordWriter();
    Q_DISABLE_COPY_MOVE(RunRecordWriter)

    [[nodiscard]] const RunHeader &header() const { return m_header; }
    [[nodiscard]] QString path() const { return m_file.fileName(); }

    // Adds users about to be written (after differs from before), and syncs
    // them to disk: call it before their changes are sent.
    void ahead(const QList<RecordedUser> &users);
    // Adds a user's outcome. Written and synced with the next ahead() or with
    // finish(), all that came since in one block: an outcome lost with the
    // program leaves its user unconfirmed, which undo settles by reading it.
    void outcome(int index, Outcome outcome, const QString &message = QString());
    // Records a user that is not sent (unchanged or skipped), with its outcome.
    void notSent(const RecordedUser &user);
    void finish();
    // Ends the record of a run that was cancelled with `notTried` users left.
    void finishCancelled(int notTried);

private:
    void block(const QByteArray &body);
    void end(const QByteArray &more);
    void writeOutcomes();
    void write(const QByteArray &bytes);
    void sync();

    RunHeader m_header;
    QFile m_file;
    QByteArray m_sum;
    QByteArray m_outcomes; // comment lines not yet written
};

// Reads a record; raises an error naming the file and the line when it is
// not one. A sum that fails is noted in `damage`.
RecordedRun readRunRecord(const QString &path);

// The records of the folder, oldest first; `problems` gets one line per file
// that could not be read or is not the user's own. Raises an error when the
// folder is not the user's own.
QList<RecordedRun> listRunRecords(const QString &folder, QStringList *problems);

// The record with that id (or file path), when it is the user's own file.
RecordedRun findRunRecord(const QString &folder, const QString &idOrPath);

// The run that took back the run `id`, from the records of `folder`; empty
// when none did to its end.
QString undoneBy(const QList<RecordedRun> &records, const QString &id);

} // namespace runs
