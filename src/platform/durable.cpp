#include "platform/durable.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#elif defined(Q_OS_WIN)
#include <io.h>
#endif

namespace platform {

bool syncFile(int fd)
{
#if defined(Q_OS_DARWIN)
    // There fsync leaves the data in the drive's cache; F_FULLFSYNC flushes
    // it, where the file system has it.
    return ::fcntl(fd, F_FULLFSYNC) == 0 || ::fsync(fd) == 0;
#elif defined(Q_OS_UNIX) && defined(_POSIX_SYNCHRONIZED_IO) && _POSIX_SYNCHRONIZED_IO > 0
    // Only the data and the size have to reach the disk.
    return ::fdatasync(fd) == 0;
#elif defined(Q_OS_UNIX)
    return ::fsync(fd) == 0;
#elif defined(Q_OS_WIN)
    return ::_commit(fd) == 0;
#else
    Q_UNUSED(fd)
    return true;
#endif
}

bool syncFolderOf(const QString &path)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
#else
    Q_UNUSED(path)
    return true;
#endif
}

bool stillNames(const QString &path, int fd)
{
#ifdef Q_OS_UNIX
    struct stat open{};
    struct stat named{};
    return ::fstat(fd, &open) == 0 && ::lstat(QFile::encodeName(path).constData(), &named) == 0
           && open.st_dev == named.st_dev && open.st_ino == named.st_ino;
#else
    Q_UNUSED(path)
    Q_UNUSED(fd)
    return true;
#endif
}

} // namespace platform
