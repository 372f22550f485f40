#pragma once

#include <QString>

// Durability of what a program wrote: a store or a run record counts as done
// only once it would survive a power cut.
namespace platform {

// Makes the data written to a file descriptor (a C runtime one on Windows)
// durable, down to the disk where the system can.
bool syncFile(int fd);

// Makes a new directory entry (a created file) durable: syncs the folder that
// holds `path`. Where folders cannot be synced it succeeds without doing so.
bool syncFolderOf(const QString &path);

// Whether `path` still names the file open as `fd`: neither deleted nor
// replaced since. Where that cannot be told, it is taken to.
bool stillNames(const QString &path, int fd);

} // namespace platform
