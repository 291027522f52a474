// RESTORE: creates the key when it is missing, then has the platform restore
// the hive into it with the backup and restore privileges enabled.
#include "manip/restore_engine.h"

#include "manip/privilege.h"
#include "manip/root_keys.h"
#include "manip/system_error_text.h"
#include "platform/file_exists.h"
#include "registry/exception.h"
#include "registry/registry.h"

namespace orvik {

int RestoreKeyFromFile(const std::string& key_name, const std::string& file_name) {
  if (!FileExists(file_name)) throw Exception("File: \"" + file_name + "\" does not exist\"");
  // Disabled in the reverse order, after the registry object is gone.
  PrivilegeScope backup("SeBackupPrivilege");
  PrivilegeScope restore("SeRestorePrivilege");
  TRegistry registry;
  std::string sub_key = key_name;
  std::string root_text;
  SplitKeyName(sub_key, root_text);
  registry.SelectRoot(RootKeyFromName(root_text));
  registry.EnterKey(sub_key, true);
  registry.LeaveKey();
  if (!registry.RestoreHive(sub_key, file_name)) throw RefusedChange(registry.LastError());
  return 0;
}

}  // namespace orvik
