#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <memory>

namespace directory {

// The append-only change journal beside an embedded tree's LDIF file. Each
// record is written whole and flushed to disk before append() returns. The
// journal and what is set aside from it are private files (see ldif_files.h).
class Journal {
public:
    explicit Journal(const QString &path);
    ~Journal();
    Q_DISABLE_COPY_MOVE(Journal)

    struct Contents {
        std::unique_ptr<QFile> file; // open at its start; none when there is no journal
        qint64 complete = 0;         // the size of the records written whole, from the start
        QByteArray torn;             // a record cut short by a crash during an append
    };

    // Opens the journal and finds where its complete records end, reading
    // from the end, and changes nothing; raises an error for a symbolic link
    // or anything that is no plain file. The journal read is the one later
    // records go to: one deleted or put in its place meanwhile is refused.
    Contents read();

    // Once the complete records are known to be good: keeps the torn tail
    // durably in `<journal>.torn`, then cuts it off the journal, so that new
    // records follow the last complete one. Returns what to tell the user.
    QString setAsideTorn(const Contents &contents);

    // Appends one record (ending in a blank line) durably; on failure the
    // journal is left as it was and NotSent is raised. Once the journal was
    // deleted or replaced, every later append fails: the records before
    // went with it, and only a new start shows what the tree then holds.
    void append(const QByteArray &record);

    [[nodiscard]] QString path() const { return m_path; }

private:
    void openForAppend();
    void closeFile();
    QString m_path;
#ifdef Q_OS_UNIX
    int m_fd = -1;
    // The journal's file, once known: dev and inode.
    bool m_identified = false;
    quint64 m_device = 0;
    quint64 m_inode = 0;
    bool m_lost = false; // deleted or replaced while we ran
#else
    QFile m_file;
#endif
    qint64 m_size = 0; // what the complete records take
};

} // namespace directory
