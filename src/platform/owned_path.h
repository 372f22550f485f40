#pragma once

#include <QString>

// The program's own files (the data folder, the embedded tree and its journal,
// the run records) are trusted with what the user writes and what undo applies,
// so they are used only when nobody else can have put them there.
namespace platform {

// Creates `path` (and its missing parents) for its owner only, or checks the
// folder that is there: owned by the effective user, no symbolic link, and
// writable by nobody else. Raises a German error naming the path otherwise;
// a folder that fails is left as it is.
void ensureOwnedFolder(const QString &path);

// Checks that `path` is a regular file (no symbolic link, FIFO, device or
// socket) owned by the effective user, writable by nobody else and without a
// second name (a hard link) through which others reach it. Raises a German
// error naming the path otherwise; the file is left as it is.
void requireOwnedFile(const QString &path);

// The same for the file open as `fd` at `path` (`what` names its kind, as
// "Das Journal"), but without the owner: a regular file, writable by nobody
// else, with no second name. Checked on the open file, so that nothing can be
// put in its place between the check and the use.
void requireUnsharedFile(int fd, const QString &what, const QString &path);

} // namespace platform
