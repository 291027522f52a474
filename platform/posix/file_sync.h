// Making files and the names in a directory durable: what was written goes
// to the disk before the caller reports success.
#pragma once

#include <string>

namespace orvik::posix {

// The directory that holds the file a path names: "." for a bare name, "/"
// for a file at the root.
std::string DirectoryOf(const std::string& path);

// Sends what was written to the file or directory at `path` to the disk;
// nothing happens when it cannot be opened.
void SyncPath(const std::string& path);

// Makes a name created, renamed or removed beside `path` durable: syncs the
// directory that holds it.
void SyncDirectoryOf(const std::string& path);

}  // namespace orvik::posix
