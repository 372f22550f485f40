#include "directory/embedded/journal.h"

#include "directory/embedded/ldif_files.h"
#include "directory/tree.h"
#include "platform/durable.h"
#include "platform/errno_text.h"
#include "platform/error.h"
#include "platform/owned_path.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace directory {

namespace {
// Every record is written in one piece ending in a blank line, so whatever
// follows the last blank line is a record that was cut short. Returns where
// the complete records end in `tail`, which ends the file. A journal edited on
// Windows ends its lines in CR LF, as the tree file may.
qsizetype completeEnd(const QByteArray &tail)
{
    const qsizetype lf = tail.lastIndexOf("\n\n");
    const qsizetype crlf = tail.lastIndexOf("\n\r\n");
    return std::max<qsizetype>(lf < 0 ? 0 : lf + 2, crlf < 0 ? 0 : crlf + 3);
}

QString tornWarning(const QString &path, const QString &tornPath)
{
    return QStringLiteral("Journal %1: der letzte Eintrag war unvollständig und wurde nicht übernommen; er ist in "
                          "%2 aufbewahrt.")
        .arg(path, tornPath);
}

platform::Error notAPlainFile(const QString &path)
{
    return platform::Error(QStringLiteral("Journal %1 ist keine gewöhnliche Datei").arg(path));
}
} // namespace

Journal::Journal(const QString &path)
    : m_path(path)
{
}

Journal::~Journal()
{
    closeFile();
}

#ifdef Q_OS_UNIX

using files::failure;

namespace {
NotSent writeError(const QString &path, int errnum)
{
    return NotSent(failure(QStringLiteral("Journal %1 kann nicht geschrieben werden"), path, errnum));
}

NotSent lostError(const QString &path)
{
    return NotSent(QStringLiteral("Journal %1 wurde gelöscht oder ersetzt, während klassomat lief; keine Änderung "
                                  "wird mehr gespeichert. Bitte starten Sie klassomat neu")
                       .arg(QDir::toNativeSeparators(path)));
}

NotSent cutError(const QString &path, qint64 size, qint64 written)
{
    return NotSent(QStringLiteral("Journal %1 wurde verändert, während klassomat lief (%2 Bytes statt der %3 "
                                  "geschriebenen); keine Änderung wird mehr gespeichert, denn gespeicherte könnten "
                                  "fehlen. Bitte prüfen Sie das Journal und starten Sie klassomat neu")
                       .arg(QDir::toNativeSeparators(path))
                       .arg(size)
                       .arg(written));
}

const QString kJournalFile = QStringLiteral("Die Journaldatei");
} // namespace

void Journal::closeFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

Journal::Contents Journal::read()
{
    const int fd = files::openPrivate(m_path, O_RDONLY);
    if (fd < 0 && errno == ENOENT)
        return {};
    const auto readError = [this](int errnum) {
        return platform::Error(failure(QStringLiteral("Journal %1 kann nicht gelesen werden"), m_path, errnum));
    };
    if (fd < 0)
        throw readError(errno);
    Contents contents;
    contents.file = std::make_unique<QFile>();
    // QFile reads with read(2) and leaves its errno.
    const auto fileError = [&] { return readError(errno); };
    // The QFile closes the descriptor from here on.
    if (!contents.file->open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        const int error = errno;
        ::close(fd);
        throw readError(error);
    }
    struct stat info{};
    if (::fstat(fd, &info) != 0)
        throw readError(errno);
    if (!S_ISREG(info.st_mode))
        throw notAPlainFile(m_path);
    platform::requireUnsharedFile(fd, kJournalFile, m_path);
    m_identified = true;
    m_device = info.st_dev;
    m_inode = info.st_ino;

    // Look for the torn tail from the end, in a window that doubles until it
    // holds a blank line.
    const qint64 size = info.st_size;
    for (qint64 window = 64 * 1024;; window *= 2) {
        const qint64 from = std::max<qint64>(0, size - window);
        QByteArray tail(size - from, Qt::Uninitialized);
        // QFile reads on to the end, through short and interrupted reads.
        const qint64 got = contents.file->seek(from) ? contents.file->read(tail.data(), tail.size()) : -1;
        if (got < 0)
            throw fileError();
        tail.truncate(got);
        const qsizetype complete = completeEnd(tail);
        if (complete > 0 || from == 0) {
            contents.complete = from + complete;
            contents.torn = tail.mid(complete);
            m_size = contents.complete; // once the torn tail is set aside
            if (!contents.file->seek(0))
                throw fileError();
            return contents;
        }
    }
}

QString Journal::setAsideTorn(const Contents &contents)
{
    if (contents.torn.isEmpty())
        return {};
    const QString tornPath = m_path + QStringLiteral(".torn");
    const int torn = files::openPrivate(tornPath, O_WRONLY | O_APPEND | O_CREAT);
    if (torn < 0)
        throw writeError(tornPath, errno);
    try {
        platform::requireUnsharedFile(torn, QStringLiteral("Die Datei"), tornPath);
    } catch (...) {
        ::close(torn);
        throw;
    }
    const bool kept = files::writeAll(torn, contents.torn.constData(), contents.torn.size()) && platform::syncFile(torn)
                      && platform::syncFolderOf(tornPath);
    const int keepError = errno;
    ::close(torn);
    if (!kept)
        throw writeError(tornPath, keepError);

    const int fd = files::openPrivate(m_path, O_WRONLY);
    if (fd < 0)
        throw writeError(m_path, errno);
    const bool cut = ::ftruncate(fd, static_cast<off_t>(contents.complete)) == 0 && platform::syncFile(fd);
    const int cutError = errno;
    ::close(fd);
    if (!cut)
        throw writeError(m_path, cutError);
    return tornWarning(m_path, tornPath);
}

void Journal::openForAppend()
{
    if (m_lost)
        throw lostError(m_path);
    if (m_fd >= 0)
        return;
    // The journal known is opened again, never made anew: a new one would
    // lack the records before.
    m_fd = files::openPrivate(m_path, O_WRONLY | O_APPEND | (m_identified ? 0 : O_CREAT | O_EXCL));
    if (m_fd < 0) {
        const int error = errno;
        m_lost = error == (m_identified ? ENOENT : EEXIST);
        throw m_lost ? lostError(m_path) : writeError(m_path, error);
    }
    struct stat info{};
    if (::fstat(m_fd, &info) != 0) {
        const int error = errno;
        closeFile();
        throw writeError(m_path, error);
    }
    if (!S_ISREG(info.st_mode)) {
        closeFile();
        throw notAPlainFile(m_path);
    }
    if (m_identified && (info.st_dev != m_device || info.st_ino != m_inode)) {
        closeFile();
        m_lost = true;
        throw lostError(m_path);
    }
    try {
        platform::requireUnsharedFile(m_fd, kJournalFile, m_path);
    } catch (const platform::Error &e) {
        closeFile();
        throw NotSent(e.message());
    }
    // The records replayed end where the journal was read; what follows
    // them now was written by someone else.
    if (m_identified && info.st_size != m_size) {
        closeFile();
        m_lost = true;
        throw cutError(m_path, info.st_size, m_size);
    }
    m_identified = true;
    m_device = info.st_dev;
    m_inode = info.st_ino;
    m_size = info.st_size;
    if (m_size == 0 && !platform::syncFolderOf(m_path)) { // the new file itself must survive a power cut
        const int error = errno;
        closeFile();
        throw writeError(m_path, error);
    }
}

void Journal::append(const QByteArray &record)
{
    openForAppend();
    // A journal deleted or replaced behind our back would swallow the record
    // with the ones before it: the next start would not see them.
    if (!platform::stillNames(m_path, m_fd)) {
        closeFile();
        m_lost = true;
        throw lostError(m_path);
    }
    // Cut or emptied in place, the same file: the records written before
    // are gone, and one appended now would follow a torn piece or stand alone.
    const auto sizeNow = [this]() -> qint64 {
        struct stat info{};
        return ::fstat(m_fd, &info) == 0 ? info.st_size : -1;
    };
    if (const qint64 size = sizeNow(); size != m_size) {
        closeFile();
        m_lost = true;
        throw cutError(m_path, size, m_size);
    }
    if (files::writeAll(m_fd, record.constData(), record.size()) && platform::syncFile(m_fd)) {
        const qint64 expected = m_size + record.size();
        if (const qint64 size = sizeNow(); size != expected) { // cut while it was written
            closeFile();
            m_lost = true;
            throw cutError(m_path, size, expected);
        }
        m_size = expected;
        return;
    }
    const int error = errno;
    // Leave no part of the record behind: it was not stored. Never beyond
    // what is there, which would fill the gap with NUL bytes.
    if (sizeNow() >= m_size && ::ftruncate(m_fd, static_cast<off_t>(m_size)) == 0)
        (void)platform::syncFile(m_fd);
    closeFile();
    throw writeError(m_path, error);
}

#else

// Plain Qt elsewhere: the same records, checks and syncs, but QFile cannot
// refuse a link while opening, nor set modes.
namespace {
NotSent writeError(const QFile &file)
{
    return NotSent(QStringLiteral("Journal %1 kann nicht geschrieben werden: %2")
                               .arg(QDir::toNativeSeparators(file.fileName()), file.errorString()));
}
} // namespace

void Journal::closeFile()
{
    m_file.close();
}

Journal::Contents Journal::read()
{
    const QFileInfo info(m_path);
    if (!info.exists() && !info.isSymLink())
        return {};
    if (info.isSymLink() || !info.isFile())
        throw notAPlainFile(m_path);
    Contents contents;
    contents.file = std::make_unique<QFile>(m_path);
    if (!contents.file->open(QIODevice::ReadOnly))
        throw platform::Error(QStringLiteral("Journal %1 kann nicht gelesen werden: %2")
                                  .arg(QDir::toNativeSeparators(m_path), contents.file->errorString()));
    const QByteArray data = contents.file->readAll();
    contents.complete = completeEnd(data);
    contents.torn = data.mid(contents.complete);
    contents.file->seek(0);
    return contents;
}

QString Journal::setAsideTorn(const Contents &contents)
{
    if (contents.torn.isEmpty())
        return {};
    const QString tornPath = m_path + QStringLiteral(".torn");
    QFile torn(tornPath);
    if (!torn.open(QIODevice::WriteOnly | QIODevice::Append) || torn.write(contents.torn) != contents.torn.size()
        || !torn.flush() || !platform::syncFile(torn.handle()))
        throw writeError(torn);
    torn.close();
    QFile journal(m_path);
    if (!journal.resize(contents.complete))
        throw writeError(journal);
    return tornWarning(m_path, tornPath);
}

void Journal::openForAppend()
{
    if (m_file.isOpen())
        return;
    m_file.setFileName(m_path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        throw writeError(m_file);
    m_size = m_file.size();
}

void Journal::append(const QByteArray &record)
{
    openForAppend();
    if (m_file.write(record) == record.size() && m_file.flush() && platform::syncFile(m_file.handle())) {
        m_size += record.size();
        return;
    }
    const NotSent error = writeError(m_file);
    m_file.resize(m_size); // leave no part of the record behind: it was not stored
    closeFile();
    throw error;
}

#endif

} // namespace directory
