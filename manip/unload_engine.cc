// UNLOAD: has the platform unload the hive loaded under the key, with the
// restore and backup privileges enabled, which RegUnLoadKey demands both.
#include "manip/unload_engine.h"

#include "manip/privilege.h"
#include "manip/root_keys.h"
#include "manip/system_error_text.h"
#include "registry/registry.h"

namespace orvik {

int UnloadHiveKey(const std::string& key_name) {
  // Restore first; disabled in the reverse order after the registry object
  // is gone.
  PrivilegeScope restore("SeRestorePrivilege");
  PrivilegeScope backup("SeBackupPrivilege");
  TRegistry registry;
  std::string sub_key = key_name;
  std::string root_text;
  SplitKeyName(sub_key, root_text);
  registry.SelectRoot(RootKeyFromName(root_text));
  if (!registry.UnloadHive(sub_key)) throw RefusedChange(registry.LastError());
  return 0;
}

}  // namespace orvik
