#include "directory/embedded/ldif_files.h"

#include "platform/errno_text.h"
#include "platform/error.h"
#include "platform/owned_path.h"

#include <QDir>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QLockFile>
#endif

namespace directory::files {

#ifdef Q_OS_UNIX

int openPrivate(const QString &path, int flags)
{
    // Beyond a file-size limit the system would end the process (SIGXFSZ)
    // instead of failing the write; a failed store must be reported instead.
    static const bool ignoreFileSizeSignal = [] {
        struct sigaction current{};
        if (sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            std::signal(SIGXFSZ, SIG_IGN);
        return true;
    }();
    Q_UNUSED(ignoreFileSizeSignal);
    // O_NONBLOCK: a FIFO in the file's place must not hang the program; the
    // callers refuse anything but a plain file.
    return ::open(QFile::encodeName(path).constData(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
}

bool writeAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return false;
        if (written == 0) { // no error, no progress: the disk is full
            errno = ENOSPC;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

QString failure(const QString &what, const QString &path, int errnum)
{
    return what.arg(QDir::toNativeSeparators(path)) + QStringLiteral(": ") + platform::errnoText(errnum);
}

void openTreeFile(QFile &file, const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw platform::Error(failure(QStringLiteral("Datei %1 kann nicht geöffnet werden"), path, errno));
    struct stat info{};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        throw platform::Error(QStringLiteral("Datei %1 ist keine gewöhnliche Datei und wird nicht gelesen")
                                  .arg(QDir::toNativeSeparators(path)));
    }
    // Unbuffered: the reader takes it in chunks of its own. The QFile closes the descriptor.
    if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw platform::Error(QStringLiteral("Datei %1 kann nicht geöffnet werden: %2")
                                  .arg(QDir::toNativeSeparators(path), file.errorString()));
    }
}

TreeLock::TreeLock(const QString &path, const QString &treeFile)
{
    m_fd = openPrivate(path, O_RDWR | O_CREAT);
    if (m_fd < 0)
        throw platform::Error(failure(QStringLiteral("Sperre %1 kann nicht angelegt werden"), path, errno));
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(m_fd);
        if (error == EWOULDBLOCK)
            throw platform::BusyError(QStringLiteral("Der Verzeichnisbaum %1 wird bereits von einem anderen "
                                                 "Programm verwendet (Sperre %2)")
                                      .arg(treeFile, path));
        throw platform::Error(failure(QStringLiteral("Sperre %1 kann nicht gesetzt werden"), path, error));
    }
    // The pid below would be written through a second name into another file.
    try {
        platform::requireUnsharedFile(m_fd, QStringLiteral("Die Sperrdatei"), path);
    } catch (...) {
        ::close(m_fd);
        throw;
    }
    // For people looking at the file; the lock itself is what counts.
    const QByteArray pid = QByteArray::number(static_cast<qint64>(::getpid())) + '\n';
    if (::ftruncate(m_fd, 0) == 0)
        (void)writeAll(m_fd, pid.constData(), pid.size());
}

TreeLock::~TreeLock()
{
    // The file stays: removing it would let a waiting program lock a file
    // that a third one no longer sees.
    ::close(m_fd);
}

#else

void openTreeFile(QFile &file, const QString &path)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        throw platform::Error(QStringLiteral("Datei %1 ist keine gewöhnliche Datei und wird nicht gelesen")
                                  .arg(QDir::toNativeSeparators(path)));
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw platform::Error(QStringLiteral("Datei %1 kann nicht geöffnet werden: %2")
                                  .arg(QDir::toNativeSeparators(path), file.errorString()));
}

TreeLock::TreeLock(const QString &path, const QString &treeFile)
    : m_lock(std::make_unique<QLockFile>(path))
{
    // Stale only when its process is gone, never by age: the program holds
    // the tree for hours.
    m_lock->setStaleLockTime(0);
    qint64 pid = 0;
    QString host;
    QString program;
    if (!m_lock->tryLock(0) && m_lock->error() == QLockFile::LockFailedError
        && !m_lock->getLockInfo(&pid, &host, &program) && QFile::remove(path)) {
        m_lock->tryLock(0); // the lock was left empty, by a power cut right after locking
    }
    if (m_lock->isLocked())
        return;
    if (m_lock->error() == QLockFile::LockFailedError)
        throw platform::BusyError(QStringLiteral("Der Verzeichnisbaum %1 wird bereits von einem anderen "
                                             "Programm verwendet (Sperre %2)")
                                  .arg(treeFile, path));
    throw platform::Error(QStringLiteral("Sperre %1 kann nicht gesetzt werden").arg(QDir::toNativeSeparators(path)));
}

TreeLock::~TreeLock() = default;

#endif

} // namespace directory::files
