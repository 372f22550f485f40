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
// plain text are written base64-encoded after "::", as LDIF does.
namespace runs {

struct RunHeader {
    QString id;
    QString kind = QStringLiteral("run"); // or "undo"
    QString undoes;                       // for an undo: the id of the run it takes back
    QString who;
    QDateTime when;
    QString tree;
    QString server;
    QString context;
    bool subtree = false;
    int form = 0;
    QString classesPath;
    QString classesSha256;
    QString attribute; // the directory's attribute name, e.g. ou
};

enum class Outcome {
    Unknown,   // sent, but the run ended before its answer was recorded
    Written,
    Unchanged, // the value already was what the run would write
    Refused,   // the directory refused it; the message says why
    Skipped,   // not sent; the message says why
    NotTried,  // the run stopped before this user
};
QString outcomeName(Outcome outcome);

struct RecordedUser {
    int index = 0;
    QString fullName;
    QString dn;
    QStringList before;
    QStringList after;
    Outcome outcome = Outcome::Unknown;
    QString message;
};

struct RecordedRun {
    QString path;
    RunHeader header;
    QList<RecordedUser> users;
    bool ended = false;
    [[nodiscard]] int count(Outcome outcome) const;
};

// The folder the records go to: "runs" in the user's data folder.
QString runsFolder();

// Writes one run's record. Every step raises an error when the disk refuses it.
class RunRecordWriter {
public:
    // Creates the file (owner-only) under a fresh id and writes the header durably.
    RunRecordWriter(const QString &folder, RunHeader header);
    ~RunRecordWriter();
    Q_DISABLE_COPY_MOVE(RunRecordWriter)

    [[nodiscard]] const RunHeader &header() const { return m_header; }
    [[nodiscard]] QString path() const { return m_file.fileName(); }

    // Adds users about to be written (after differs from before), and syncs
    // them to disk: call it before their changes are sent.
    void ahead(const QList<RecordedUser> &users);
    // Adds a user's outcome. Synced with the next ahead() or with finish().
    void outcome(int index, Outcome outcome, const QString &message = QString());
    // Records a user that is not sent (unchanged or skipped), with its outcome.
    void notSent(const RecordedUser &user);
    void finish();

private:
    void write(const QByteArray &bytes);
    void sync();

    RunHeader m_header;
    QFile m_file;
};

// Reads a record; raises an error naming the file when it is not one.
RecordedRun readRunRecord(const QString &path);

// The records of the folder, oldest first; `problems` gets one line per file
// that could not be read.
QList<RecordedRun> listRunRecords(const QString &folder, QStringList *problems);

// The record with that id (or file path).
RecordedRun findRunRecord(const QString &folder, const QString &idOrPath);

} // namespace runs
