// RegSaveKeyA: writes a key with everything below it as a new hive file.
// The tree is read in one step, so the file shows one moment of the
// registry; the file is made durable before the call returns, and a save
// that fails leaves no file behind.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform/posix/calls/token.h"
#include "platform/posix/codepage.h"
#include "platform/posix/file_errors.h"
#include "platform/posix/file_time.h"
#include "platform/posix/handles/key_step.h"
#include "platform/posix/hive/hive_reader.h"
#include "platform/posix/hive/hive_writer.h"
#include "platform/posix/loaded/hive_tree_copy.h"
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
  // A hive may hold secrets (key material in class names): only its owner
  // reads the file.
  const int fd = open(lpFile, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (errno == EEXIST) return ERROR_ALREADY_EXISTS;
    return orvik::posix::FileError(errno, lpFile);
  }
  // The hive goes to the file as it is laid out.
  LONG rc = ERROR_SUCCESS;
  {
    HiveWriter writer(fd);
    orvik::posix::KeyStep step;
    rc = step.Start(hKey, 0, orvik::posix::KeyStep::kRead);
    if (rc == ERROR_SUCCESS) {
      rc = step.Finish(orvik::posix::WriteKeyAsHive(step.tree(), step.handle().key, writer));
    }
    if (rc == ERROR_SUCCESS)
      rc = writer.Finish(orvik::posix::AnsiToWide(lpFile), orvik::posix::NowAsFileTime());
  }
  if (rc == ERROR_SUCCESS && fsync(fd) != 0) rc = ERROR_WRITE_FAULT;
  if (close(fd) != 0 && rc == ERROR_SUCCESS) rc = ERROR_WRITE_FAULT;
  if (rc != ERROR_SUCCESS) unlink(lpFile);
  return rc;
}
