#include "platform/owned_path.h"

#include "platform/error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {

namespace {
[[noreturn]] void refuse(const QString &what, const QString &path, const QString &reason)
{
    throw Error(QStringLiteral("%1 %2 wird nicht verwendet: %3").arg(what, path, reason));
}
} // namespace

void ensureOwnedFolder(const QString &path)
{
    const QString what = QStringLiteral("Der Ordner");
#ifdef Q_OS_UNIX
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
        if (errno != ENOENT)
            refuse(what, path, QString::fromLocal8Bit(::strerror(errno)));
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
        refuse(what, path, QString::fromLocal8Bit(::strerror(errno)));
    if (S_ISLNK(info.st_mode))
        refuse(what, path, QStringLiteral("sie ist ein symbolischer Verweis"));
    if (!S_ISREG(info.st_mode))
        refuse(what, path, QStringLiteral("sie ist keine gewöhnliche Datei"));
    if (info.st_uid != ::geteuid())
        refuse(what, path, QStringLiteral("sie gehört einem anderen Benutzer"));
#else
    const QFileInfo info(path);
    if (info.isSymLink())
        refuse(what, path, QStringLiteral("sie ist ein symbolischer Verweis"));
    if (!info.isFile())
        refuse(what, path, QStringLiteral("sie ist keine gewöhnliche Datei"));
#endif
}

} // namespace platform
