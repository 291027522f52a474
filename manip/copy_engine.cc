// COPY: walks the source tree and writes every value exactly as stored into
// the destination tree, creating its keys as it goes.
#include "manip/copy_engine.h"

#include <vector>

#include "manip/child_path.h"
#include "manip/missing_key.h"
#include "manip/name_match.h"
#include "manip/root_keys.h"
#include "manip/system_error_text.h"
#include "manip/value_copy.h"
#include "platform/ansi_text.h"
#include "platform/change_group.h"
#include "registry/exception.h"

namespace orvik {

namespace {

// The names along a SubKey path as the registry reads it: one leading
// backslash (the path rule's "from the root") and one trailing backslash
// carry no name.
std::vector<std::string_view> PathNames(std::string_view path) {
  if (!path.empty() && path.front() == '\\') path.remove_prefix(1);
  if (EndsWithBackslash(path)) path.remove_suffix(1);
  std::vector<std::string_view> names;
  if (path.empty()) return names;
  for (;;) {
    const size_t backslash = FindBackslash(path);
    names.push_back(path.substr(0, backslash));
    if (backslash == std::string_view::npos) break;
    path.remove_prefix(backslash + 1);
  }
  return names;
}

// The values of one key as stored, read before any of them is written.
struct KeyValues {
  std::vector<std::string> names;
  std::vector<WideName> wide_names;
  std::vector<StoredValueData> values;
};

void ReadValues(CopyRun& run, KeyValues& key) {
  run.source.ListValueNames(key.names);
  key.wide_names.resize(key.names.size());
  key.values.resize(key.names.size());
  for (size_t i = 0; i < key.names.size(); ++i) {
    key.wide_names[i] = ToWideName(key.names[i]);
    if (ReadStoredValue(run.source, key.wide_names[i], key.values[i]) != ERROR_SUCCESS) {
      throw ERegistryException("Failed to get data for '" + key.names[i] + "'");
    }
  }
}

void WriteValues(CopyRun& run, const KeyValues& key) {
  for (size_t i = 0; i < key.names.size(); ++i) {
    if (const LONG status = WriteStoredValue(run.destination, key.wide_names[i], key.values[i]);
        status != ERROR_SUCCESS) {
      throw RefusedChange(status);
    }
  }
}

}  // namespace

bool PathWithinTree(const std::string& path, const std::string& tree) {
  const std::vector<std::string_view> path_names = PathNames(path);
  const std::vector<std::string_view> tree_names = PathNames(tree);
  if (path_names.size() < tree_names.size()) return false;
  for (size_t i = 0; i < tree_names.size(); ++i) {
    if (CompareNamesIgnoringCase(path_names[i], tree_names[i]) != 0) return false;
  }
  return true;
}

void CopyKeyTree(CopyRun& run, const std::string& source_path,
                 const std::string& destination_path) {
  // Every level enters its keys from the roots, so it needs nothing of the
  // keys its caller had entered.
  run.source.LeaveKey();
  if (!run.source.EnterKey(source_path, false)) {
    // A registry that cannot be read is no missing key.
    const LONG why = run.source.LastError();
    if (!KeyIsMissing(run.source, why)) throw RefusedChange(why);
    throw Exception("Error: Key: " + source_path + " does not exist!");
  }
  // The source key is read whole before anything is written: once the
  // registry changes, every read would have to ask the store again instead
  // of the listings the platform keeps of the key. Its subkeys are the same
  // before and after this level's writes, since /s refuses a destination
  // inside the source.
  KeyValues key;
  ReadValues(run, key);
  TStringList sub_keys;
  if (run.recursion_flag == "/s") run.source.ListSubKeys(sub_keys);

  run.destination.LeaveKey();
  if (!run.destination.EnterKey(destination_path, true)) {
    throw RefusedChange(run.destination.LastError());
  }
  WriteValues(run, key);
  for (const std::string& name : sub_keys) {
    CopyKeyTree(run, ChildPath(source_path, name), ChildPath(destination_path, name));
  }
}

int CopyKey(const std::string& source_key_name, const std::string& destination_key_name,
            const std::string& recursion_flag, const std::string& force_flag) {
  (void)force_flag;  // accepted for compatibility; it changes nothing
  CopyRun run;
  run.recursion_flag = recursion_flag;
  std::string source_path = source_key_name;
  std::string source_root;
  ResolveKeyName(run.source, source_root, source_path);
  std::string destination_path = destination_key_name;
  std::string destination_root;
  ResolveKeyName(run.destination, destination_root, destination_path);

  // A tree copied into itself would meet its own copies and grow without end.
  if (recursion_flag == "/s" && RootKeyFromName(source_root) == RootKeyFromName(destination_root) &&
      PathWithinTree(destination_path, source_path)) {
    throw Exception("Error: Invalid command-line parameters");
  }
  // Many small changes in a row: the platform may commit them in groups.
  // What was copied before a failure stays, as without grouping.
  struct Group {
    bool open = true;
    ~Group() {
      if (open) EndChangeGroup();
    }
  } group;
  BeginChangeGroup();
  CopyKeyTree(run, source_path, destination_path);
  group.open = false;
  if (const LONG status = EndChangeGroup(); status != ERROR_SUCCESS) throw RefusedChange(status);
  return 0;
}

}  // namespace orvik
