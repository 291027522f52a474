// RegRestoreKeyA: replaces a key's values and subkeys with those of a hive
// file's root, and gives the key the root's class name, security descriptor
// and last-write time. The file passes the same whole-hive check as one that
// is loaded, before anything changes; all of it is one transaction, so a file
// that turns out not to be a valid hive leaves the registry as it was. A
// dirty hive gives the tree its logs recover (hive/hive_recovery.h).
#include <memory>
#include <vector>

#include "platform/posix/calls/token.h"
#include "platform/posix/handles/key_step.h"
#include "platform/posix/hive/hive_check.h"
#include "platform/posix/hive/hive_reader.h"
#include "platform/posix/hive/hive_recovery.h"
#include "platform/posix/loaded/hive_tree_copy.h"
#include "platform/posix/windows_api.h"

namespace {

using orvik::posix::KeyId;
using orvik::posix::Tree;

}  // namespace

LONG RegRestoreKeyA(HKEY hKey, LPCSTR lpFile, DWORD dwFlags) {
  if (lpFile == nullptr) return ERROR_INVALID_PARAMETER;
  // A forced restore is what every restore is here; volatile hives and
  // refreshing are not supported.
  if ((dwFlags & ~(REG_FORCE_RESTORE | REG_NO_LAZY_FLUSH)) != 0) return ERROR_INVALID_PARAMETER;
  if (!orvik::posix::PrivilegeEnabled(orvik::posix::kRestorePrivilege)) {
    return ERROR_PRIVILEGE_NOT_HELD;
  }
  orvik::posix::hive::RecoveredHive hive;
  if (LONG rc = orvik::posix::hive::OpenRecoveredHive(lpFile, &hive); rc != ERROR_SUCCESS) {
    return rc;
  }
  // The same check as a load's; the hashes it would put right do not matter
  // here, where the keys are copied by their names.
  std::vector<orvik::posix::hive::HashRepair> repairs;
  if (LONG rc = orvik::posix::hive::CheckHiveTree(*hive.reader, &repairs); rc != ERROR_SUCCESS) {
    return rc;
  }
  orvik::posix::KeyStep step;
  if (LONG rc = step.Start(hKey, 0, orvik::posix::KeyStep::kWrite); rc != ERROR_SUCCESS) {
    return rc;
  }
  Tree& tree = step.tree();
  const KeyId target = step.handle().key;
  if (LONG rc = orvik::posix::RemoveKeyTree(tree, target, false); rc != ERROR_SUCCESS) {
    return step.Finish(rc);
  }
  return step.Finish(orvik::posix::CopyHiveIntoKey(*hive.reader, tree, target));
}
