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
// socket) owned by the effective user. Raises a German error naming the path
// otherwise.
void requireOwnedFile(const QString &path);

} // namespace platform
