#include "platform/owned_path.h"

#include "platform/errno_text.h"
#include "platform/error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {

namespace {
[[noreturn]] void refuse(const QString &what, const QString &path, const QString &reason)
{
    throw Error(QStringLiteral("%1 %2 wird nicht verwendet: %3").arg(what, QDir::toNativeSeparators(path), reason));
}

#ifdef Q_OS_UNIX
// What others could do to a file through its mode or a second name. Never
// mended here: a changed mode would hide that someone could have written it.
void refuseShared(const struct stat &info, const QString &what, const QString &path)
{
    if (!S_ISREG(info.st_mode))
        refuse(what, path, QStringLiteral("sie ist keine gewöhnliche Datei"));
    if (info.st_mode & (S_IWGRP | S_IWOTH))
        refuse(what, path, QStringLiteral("auch andere Benutzer dürfen in sie schreiben (chmod go-w behebt das, wenn "
                                          "ihr Inhalt stimmt)"));
    if (info.st_nlink > 1)
        refuse(what, path, QStringLiteral("sie hat einen zweiten Namen (harten Verweis), über den sie auch anders "
                                          "geändert werden kann"));
}
#endif
} // namespace

void ensureOwnedFolder(const QString &path)
{
    const QString what = QStringLiteral("Der Ordner");
#ifdef Q_OS_UNIX
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
        if (errno != ENOENT)
            refuse(what, path, errnoText(errno));
        const QString parent = QFileInfo(path).absolutePath();
        if (!QDir().mkpath(parent) || ::mkdir(QFile::encodeName(path).constData(), 0700) != 0)
            throw Error(QStringLiteral("Der Ordner %1 kann nicht angelegt werden").arg(path));
        return;
    }
    if (S_ISLNK(info.st_mode))
        refuse(what, path, QStringLiteral("er ist ein symbolischer Verweis"));
    if (!S_ISDIR(info.st_mode))
        refuse(what, path, QStringLiteral("er ist kein Ordner"));
    if (info.st_uid != ::geteuid())
        refuse(what, path, QStringLiteral("er gehört einem anderen Benutzer"));
    if (info.st_mode & (S_IWGRP | S_IWOTH))
        refuse(what, path, QStringLiteral("auch andere Benutzer dürfen in ihn schreiben"));
#else
    const QFileInfo info(path);
    if (info.isSymLink())
        refuse(what, path, QStringLiteral("er ist ein symbolischer Verweis"));
    if (!info.exists() && !QDir().mkpath(path))
        throw Error(QStringLiteral("Der Ordner %1 kann nicht angelegt werden").arg(path));
    if (!QFileInfo(path).isDir())
        refuse(what, path, QStringLiteral("er ist kein Ordner"));
#endif
}

void requireOwnedFile(const QString &path)
{
    const QString what = QStringLiteral("Die Datei");
#ifdef Q_OS_UNIX
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        refuse(what, path, errnoText(errno));
    if (S_ISLNK(info.st_mode))
        refuse(what, path, QStringLiteral("sie ist ein symbolischer Verweis"));
    if (info.st_uid != ::geteuid())
        refuse(what, path, QStringLiteral("sie gehört einem anderen Benutzer"));
    refuseShared(info, what, path);
#else
    const QFileInfo info(path);
    if (info.isSymLink())
        refuse(what, path, QStringLiteral("sie ist ein symbolischer Verweis"));
    if (!info.isFile())
        refuse(what, path, QStringLiteral("sie ist keine gewöhnliche Datei"));
#endif
}

void requireUnsharedFile(int fd, const QString &what, const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        refuse(what, path, errnoText(errno));
    refuseShared(info, what, path);
#else
    Q_UNUSED(fd)
    Q_UNUSED(what)
    Q_UNUSED(path)
#endif
}

} // namespace platform
