// LOAD: has the platform load the hive file under the key, with the restore
// and backup privileges enabled, which RegLoadKey demands both.
#include "manip/load_engine.h"

#include "manip/privilege.h"
#include "manip/root_keys.h"
#include "manip/system_error_text.h"
#include "platform/file_exists.h"
#include "registry/exception.h"
#include "registry/registry.h"

namespace orvik {

int LoadHiveFile(const std::string& key_name, const std::string& file_name) {
  if (!FileExists(file_name)) throw Exception("File: \"" + file_name + "\" does not exist\"");
  // Restore first; disabled in the reverse order after the registry object
  // is gone.
  PrivilegeScope restore("SeRestorePrivilege");
  PrivilegeScope backup("SeBackupPrivilege");
  TRegistry registry;
  std::string sub_key = key_name;
  std::string root_text;
  SplitKeyName(sub_key, root_text);
  registry.SelectRoot(RootKeyFromName(root_text));
  if (!registry.LoadHive(sub_key, file_name)) throw RefusedChange(registry.LastError());
  return 0;
}

}  // namespace orvik
