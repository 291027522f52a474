// DELETE: removes a key tree, one value or all named values of a key, or
// empties the key's unnamed value. A change the registry refuses is reported.
#include "manip/delete_engine.h"

#include "manip/root_keys.h"
#include "manip/system_error_text.h"
#include "manip/value_write.h"
#include "registry/exception.h"

namespace orvik {

namespace {

// Codes that mean the key or value is not there: a name with an empty part
// such as a\\b, or a part longer than any name may be, cannot name one. Any
// other failure is reported as it is.
bool IsNotFound(LONG code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
         code == ERROR_BAD_PATHNAME || code == ERROR_INVALID_PARAMETER;
}

// A SubKey that reaches the root itself: empty, or a single backslash (which
// the path rule strips, leaving the empty path). Removing it would empty the
// whole root.
bool NamesRoot(const std::string& sub_key) { return sub_key.empty() || sub_key == "\\"; }

}  // namespace

int DeleteEntry(const std::string& key_name, const std::string& selector) {
  std::string sub_key = key_name;
  std::string root_text;
  SplitKeyName(sub_key, root_text);
  // A root's whole tree is never removed; its values are, like any key's.
  if (selector.empty() && NamesRoot(sub_key)) {
    throw Exception("Error: Invalid command-line parameters");
  }

  TRegistry registry;
  registry.SelectRoot(RootKeyFromName(root_text));
  if (!registry.KeyPresent(sub_key)) {
    // A key that is there but may not be changed is not reported as missing.
    const LONG why = registry.LastError();
    if (IsNotFound(why)) throw Exception("Error: Key: " + sub_key + " does not exist!");
    throw RefusedChange(why);
  }
  if (!registry.EnterKey(sub_key, false)) throw RefusedChange(registry.LastError());

  if (selector.empty()) {
    registry.LeaveKey();
    if (!registry.RemoveKeyTree(sub_key)) throw RefusedChange(registry.LastError());
  } else if (selector == "@") {
    // The unnamed value stays, as a REG_SZ holding one NUL.
    const LONG status = WriteValueFromText(registry, "@", "", REG_SZ, "");
    if (status != ERROR_SUCCESS) throw RefusedChange(status);
  } else if (selector == kDeleteAllMarker) {
    if (!DeleteAllValues(registry)) throw RefusedChange(registry.LastError());
  } else if (!registry.RemoveValue(selector)) {
    // A value that is not there is no failure: a second run stays quiet.
    const LONG why = registry.LastError();
    if (!IsNotFound(why)) throw RefusedChange(why);
  }
  return 0;
}

bool DeleteAllValues(TRegistry& registry) {
  TStringList names;
  registry.ListValueNames(names);
  for (const std::string& name : names) {
    // The unnamed value survives.
    if (name.empty()) continue;
    if (!registry.RemoveValue(name)) return false;
  }
  return true;
}

}  // namespace orvik
