#pragma once

#include <QFile>
#include <QString>
#include <QtGlobal>

#include <memory>

#ifndef Q_OS_UNIX
class QLockFile;
#endif

// The files an embedded tree keeps beside its LDIF file hold pupils' names
// and classes: they are created for their owner only (0600, folders 0700,
// a stricter umask still applies) and never reached through a symbolic link.
// That takes POSIX calls; other systems get plain Qt file handling, which
// leaves access to the folder's permissions.
namespace directory::files {

#ifdef Q_OS_UNIX

// Opens `path` without following a symbolic link, nor waiting for a FIFO;
// new files get mode 0600. Returns -1 with errno set on failure.
int openPrivate(const QString &path, int flags);

// Writes all of `data` at the end of `fd`; false with errno set when it could
// not (a short write on a full disk sets ENOSPC).
bool writeAll(int fd, const char *data, qsizetype size);

// A failure in the user's words: `what` with the path for %1, then ": " and
// the reason in German.
QString failure(const QString &what, const QString &path, int errnum);
#endif

// Opens a tree file for reading, refusing at once anything but a regular
// file: a FIFO would hang the start, a device never end.
void openTreeFile(QFile &file, const QString &path);

// Keeps other programs off a tree while this one has it: an advisory lock on
// <ldif>.lock, which the system drops when the holder ends however it ends,
// so neither a crash nor an empty lock file (a power cut right after
// locking) blocks the tree for good.
class TreeLock {
public:
    TreeLock(const QString &path, const QString &treeFile);
    ~TreeLock();
    TreeLock(const TreeLock &) = delete;
    TreeLock &operator=(const TreeLock &) = delete;

private:
#ifdef Q_OS_UNIX
    int m_fd = -1;
#else
    std::unique_ptr<QLockFile> m_lock;
#endif
};

} // namespace directory::files
