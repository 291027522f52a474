// The file calls: attributes (the existence test), deleting and moving files,
// with Windows' error codes.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/posix/file_errors.h"
#include "platform/posix/file_sync.h"
#include "platform/posix/windows_api.h"

namespace {

BOOL Fail(LONG code) {
  SetLastError(static_cast<DWORD>(code));
  return FALSE;
}

}  // namespace

DWORD GetFileAttributesA(LPCSTR lpFileName) {
  if (lpFileName == nullptr) {
    Fail(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  struct stat info {};
  if (stat(lpFileName, &info) != 0) {
    Fail(lpFileName[0] == '\0' ? ERROR_PATH_NOT_FOUND : orvik::posix::FileError(errno, lpFileName));
    return INVALID_FILE_ATTRIBUTES;
  }
  if (S_ISDIR(info.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
  if (access(lpFileName, W_OK) != 0 && errno == EACCES) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes;
}

BOOL DeleteFileA(LPCSTR lpFileName) {
  if (lpFileName == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  struct stat info {};
  if (lstat(lpFileName, &info) == 0 && S_ISDIR(info.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  if (unlink(lpFileName) != 0) return Fail(orvik::posix::FileError(errno, lpFileName));
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
  if (lpExistingFileName == nullptr || lpNewFileName == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  struct stat from {};
  if (lstat(lpExistingFileName, &from) != 0) {
    return Fail(orvik::posix::FileError(errno, lpExistingFileName));
  }
  struct stat to {};
  const bool target_exists = lstat(lpNewFileName, &to) == 0;
  if (target_exists && S_ISDIR(to.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  int rc = 0;
  if ((dwFlags & MOVEFILE_REPLACE_EXISTING) != 0) {
    rc = rename(lpExistingFileName, lpNewFileName);
  } else {
    // No replacing: a target that appears meanwhile is not overwritten either.
    rc = renameat2(AT_FDCWD, lpExistingFileName, AT_FDCWD, lpNewFileName, RENAME_NOREPLACE);
  }
  if (rc != 0) {
    switch (errno) {
      case EEXIST:
        return Fail(ERROR_ALREADY_EXISTS);
      case EXDEV:
        return Fail(ERROR_NOT_SAME_DEVICE);
      case EISDIR:
      case ENOTEMPTY:
        return Fail(ERROR_ACCESS_DENIED);
      default:
        return Fail(orvik::posix::FileError(errno, lpNewFileName));
    }
  }
  if ((dwFlags & MOVEFILE_WRITE_THROUGH) != 0) orvik::posix::SyncDirectoryOf(lpNewFileName);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
