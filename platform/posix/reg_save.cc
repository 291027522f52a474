// RegSaveKeyA: writes a key with everything below it as a new hive file.
// The tree is read in one step, so the file shows one moment of the
// registry; the file is made durable before the call returns, and a save
// that fails leaves no file behind.
#include <errno.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/posix/codepage.h"
#include "platform/posix/hive/hive_reader.h"
#include "platform/posix/hive/hive_walk.h"
#include "platform/posix/hive/hive_writer.h"
#include "platform/posix/key_step.h"
#include "platform/posix/token.h"
#include "platform/posix/windows_api.h"

namespace {

using orvik::posix::ChildEntry;
using orvik::posix::KeyData;
using orvik::posix::KeyId;
using orvik::posix::Tree;
using orvik::posix::ValueEntry;
using orvik::posix::hive::HiveWriter;

int64_t Now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return 116444736000000000LL + static_cast<int64_t>(now.tv_sec) * 10000000 + now.tv_nsec / 100;
}

// Writes a key and its subtree, depth first, in the tree's order.
LONG SaveTree(Tree& tree, KeyId key, const KeyData& data, int depth, HiveWriter& writer) {
  // Deeper trees than a hive may hold would not restore.
  if (depth > orvik::posix::hive::kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
  if (LONG rc = writer.BeginKey(
          {data.name, data.class_name.value_or(u""), data.security, data.last_write});
      rc != ERROR_SUCCESS) {
    return rc;
  }
  {
    std::vector<ValueEntry> values;
    if (LONG rc = tree.ListValues(key, &values); rc != ERROR_SUCCESS) return rc;
    std::string large;
    for (const ValueEntry& value : values) {
      if (!value.data) {
        if (LONG rc = tree.ReadValueData(value.ref, &large); rc != ERROR_SUCCESS) return rc;
      }
      if (LONG rc = writer.AddValue(value.name, value.type, value.data ? *value.data : large);
          rc != ERROR_SUCCESS) {
        return rc;
      }
    }
  }
  std::vector<ChildEntry> children;
  if (LONG rc = tree.ListChildren(key, &children); rc != ERROR_SUCCESS) return rc;
  KeyData child_data;
  for (const ChildEntry& child : children) {
    if (LONG rc = tree.GetKeyData(child.id, &child_data); rc != ERROR_SUCCESS) return rc;
    if (LONG rc = SaveTree(tree, child.id, child_data, depth + 1, writer); rc != ERROR_SUCCESS) {
      return rc;
    }
  }
  return writer.EndKey();
}

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
    return orvik::posix::hive::FileError(errno, lpFile);
  }
  // The hive goes to the file as it is laid out.
  LONG rc = ERROR_SUCCESS;
  {
    HiveWriter writer(fd);
    orvik::posix::KeyStep step;
    rc = step.Start(hKey, 0, orvik::posix::KeyStep::kRead);
    if (rc == ERROR_SUCCESS) {
      Tree& tree = step.tree();
      KeyData data;
      rc = tree.GetKeyData(step.handle().key, &data);
      if (rc == ERROR_SUCCESS) rc = SaveTree(tree, step.handle().key, data, 0, writer);
      rc = step.Finish(rc);
    }
    if (rc == ERROR_SUCCESS) rc = writer.Finish(orvik::posix::AnsiToWide(lpFile), Now());
  }
  if (rc == ERROR_SUCCESS && fsync(fd) != 0) rc = ERROR_WRITE_FAULT;
  if (close(fd) != 0 && rc == ERROR_SUCCESS) rc = ERROR_WRITE_FAULT;
  if (rc != ERROR_SUCCESS) unlink(lpFile);
  return rc;
}
