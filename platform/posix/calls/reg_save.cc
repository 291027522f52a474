// RegSaveKeyA: writes a key with everything below it as a new hive file.
// The tree is read in one step, so the file shows one moment of the
// registry; the file is made durable before the call returns, and a save
// that fails or is killed leaves no file behind.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/posix/calls/token.h"
#include "platform/posix/codepage.h"
#include "platform/posix/file_errors.h"
#include "platform/posix/file_sync.h"
#include "platform/posix/file_time.h"
#include "platform/posix/handles/key_step.h"
#include "platform/posix/hive/hive_reader.h"
#include "platform/posix/hive/hive_writer.h"
#include "platform/posix/loaded/hive_tree_copy.h"
#include "platform/posix/safe_files.h"
#include "platform/posix/windows_api.h"

namespace {

using orvik::posix::hive::HiveWriter;

}  // namespace

LONG RegSaveKeyA(HKEY hKey, LPCSTR lpFile, const LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
  (void)lpSecurityAttributes;  // the file is the saving user's alone
  if (lpFile == nullptr || lpFile[0] == '\0') return ERROR_INVALID_PARAMETER;
  if (!orvik::posix::PrivilegeEnabled(orvik::posix::kBackupPrivilege)) {
    return ERROR_PRIVILEGE_NOT_HELD;
  }
  // The file is made where the path leads (no link that another user
  // planted in a shared directory is followed), without a name until it is
  // complete: a save that fails or is killed leaves nothing behind.
  std::string directory;
  if (LONG rc = orvik::posix::ResolvePath(orvik::posix::DirectoryOf(lpFile), &directory);
      rc != ERROR_SUCCESS) {
    return rc;
  }
  const int dir = orvik::posix::OpenDirectoryNoFollow(directory);
  if (dir < 0) return orvik::posix::FileError(errno, lpFile);
  const std::string name = orvik::posix::BaseNameOf(lpFile);
  orvik::posix::NewFile file;
  struct stat existing {};
  LONG rc = fstatat(dir, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 ? ERROR_ALREADY_EXISTS
                                                                            : ERROR_SUCCESS;
  // A hive may hold secrets (key material in class names): only its owner
  // reads the file.
  if (rc == ERROR_SUCCESS) rc = file.Create(dir, name, 0600);
  close(dir);
  if (rc != ERROR_SUCCESS) return rc;
  // The hive goes to the file as it is laid out.
  {
    HiveWriter writer(file.fd());
    orvik::posix::KeyStep step;
    rc = step.Start(hKey, 0, orvik::posix::KeyStep::kRead);
    if (rc == ERROR_SUCCESS) {
      rc = step.Finish(orvik::posix::WriteKeyAsHive(step.tree(), step.handle().key, writer));
    }
    if (rc == ERROR_SUCCESS) {
      rc = writer.Finish(orvik::posix::AnsiToWide(lpFile), orvik::posix::NowAsFileTime());
    }
  }
  return rc == ERROR_SUCCESS ? file.Commit(false) : rc;
}
