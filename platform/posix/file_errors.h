// The Windows error codes for file operations of the POSIX file system that
// failed, from their errno.
#pragma once

#include <string>

#include "platform/posix/windows_api.h"

namespace orvik::posix {

// For a file a caller named (a hive, the file of a file call):
// ERROR_FILE_NOT_FOUND, or ERROR_PATH_NOT_FOUND when a folder on the way is
// missing too, ERROR_ACCESS_DENIED for a file that may not be used or is a
// directory, ERROR_NOT_ENOUGH_MEMORY, else ERROR_REGISTRY_IO_FAILED.
LONG FileError(int error, const std::string& path);

// For a file of the registry itself (its directory, the database, the change
// counter, the private copy of a loaded hive): a symbolic link where none may
// be is ORVIK_ERROR_REGISTRY_FILE_LINKED, a full disk ERROR_DISK_FULL, a
// read-only file system ERROR_ACCESS_DENIED.
LONG RegistryFileError(int error);

}  // namespace orvik::posix
