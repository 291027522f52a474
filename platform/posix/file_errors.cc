// errno to the Windows error codes of failed file operations.
#include "platform/posix/file_errors.h"

#include <errno.h>
#include <sys/stat.h>

namespace orvik::posix {

LONG FileError(int error, const std::string& path) {
  switch (error) {
    case ENOENT: {
      // Windows tells a missing folder on the way from a missing file.
      const size_t slash = path.rfind('/');
      if (slash == std::string::npos || slash == 0) return ERROR_FILE_NOT_FOUND;
      struct stat info {};
      return stat(path.substr(0, slash).c_str(), &info) == 0 ? ERROR_FILE_NOT_FOUND
                                                             : ERROR_PATH_NOT_FOUND;
    }
    case ENOTDIR:
    case ENAMETOOLONG:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case ELOOP:
      return ERROR_CANT_RESOLVE_FILENAME;
    default:
      return ERROR_REGISTRY_IO_FAILED;
  }
}

LONG RegistryFileError(int error) {
  switch (error) {
    case ELOOP:
      return ORVIK_ERROR_REGISTRY_FILE_LINKED;
    case EACCES:
    case EPERM:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case ENOENT:
      return ERROR_PATH_NOT_FOUND;
    case ENOTDIR:
      return ERROR_DIRECTORY;
    default:
      return ERROR_REGISTRY_IO_FAILED;
  }
}

}  // namespace orvik::posix
