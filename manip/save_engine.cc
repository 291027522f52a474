// SAVE: the key is tested first, the hive written under a temporary name
// beside the file, and moved over an existing file only once it is complete,
// so a missing key or a refused save never costs the old backup.
#include "manip/save_engine.h"

#include <cstdio>
#include <random>
#include <string>

#include "manip/privilege.h"
#include "manip/root_keys.h"
#include "manip/system_error_text.h"
#include "platform/file_replacement.h"
#include "registry/exception.h"
#include "registry/registry.h"

namespace orvik {

namespace {

// Temporary names tried beside the file before the save gives up. Each is
// drawn at random, so that files left there by others (or by a save that was
// killed) cannot use up the names a save may take.
constexpr int kTemporaryNames = 100;

std::string TemporaryName(const std::string& file_name) {
  static std::random_device random;
  char suffix[16];
  std::snprintf(suffix, sizeof(suffix), "%08x", static_cast<unsigned>(random()));
  return file_name + ".saving-" + suffix;
}

bool IsNotFound(LONG code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
         code == ERROR_BAD_PATHNAME || code == ERROR_INVALID_PARAMETER;
}

}  // namespace

int SaveKeyToFile(const std::string& key_name, const std::string& file_name) {
  TRegistry registry;
  // Disabled again before the registry object goes.
  PrivilegeScope backup("SeBackupPrivilege");
  std::string sub_key = key_name;
  std::string root_text;
  SplitKeyName(sub_key, root_text);
  registry.SelectRoot(RootKeyFromName(root_text));
  if (!registry.KeyPresent(sub_key)) {
    const LONG why = registry.LastError();
    if (IsNotFound(why)) throw Exception("Error: Key: " + sub_key + " does not exist!");
    throw RefusedChange(why);
  }
  // The platform never writes over a file: a name another file holds is
  // passed by.
  std::string temporary;
  for (int attempt = 0;; ++attempt) {
    temporary = TemporaryName(file_name);
    if (registry.SaveHive(sub_key, temporary)) break;
    if (registry.LastError() != ERROR_ALREADY_EXISTS || attempt + 1 == kTemporaryNames) {
      throw RefusedChange(registry.LastError());
    }
  }
  if (const LONG why = MoveFileOver(temporary, file_name); why != ERROR_SUCCESS) {
    DeleteFileA(temporary.c_str());
    throw RefusedChange(why);
  }
  return 0;
}

}  // namespace orvik
