// The registry calls that open, create, close and remove keys.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/posix/codepage.h"
#include "platform/posix/key_cache.h"
#include "platform/posix/key_path.h"
#include "platform/posix/key_step.h"
#include "platform/posix/registry_store.h"
#include "platform/posix/windows_api.h"

namespace {

using orvik::posix::AnsiToWide;
using orvik::posix::ChildEntry;
using orvik::posix::CompareFoldedNames;
using orvik::posix::FoldName;
using orvik::posix::GrantAccess;
using orvik::posix::KeyHandle;
using orvik::posix::KeyId;
using orvik::posix::KeyStep;
using orvik::posix::SplitKeyPath;
using orvik::posix::Tree;

LONG ParsePath(LPCSTR path, std::vector<std::u16string>* names) {
  return SplitKeyPath(AnsiToWide(path != nullptr ? path : ""), names);
}

// Windows' limit on the depth of a key below its root key.
constexpr int kMaxKeyDepth = 512;

// The subkey of that name in a listing of subkeys in order of their folded
// names.
bool FindListed(const std::vector<ChildEntry>& children, std::u16string_view name, KeyId* child) {
  size_t low = 0;
  size_t high = children.size();
  while (low < high) {
    const size_t middle = low + (high - low) / 2;
    const int order = CompareFoldedNames(children[middle].name, name);
    if (order == 0) {
      *child = children[middle].id;
      return true;
    }
    if (order < 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return false;
}

// The subkey of that name from the handle's listing when it is
// current (callers that enumerate subkeys open each in turn).
bool ListedChild(const KeyHandle& handle, uint64_t stamp, std::u16string_view name, KeyId* child) {
  if (!handle.children_cached || handle.children_stamp != stamp) return false;
  return FindListed(handle.children, name, child);
}

// The subkey of that name of `parent`, the key above the last one of a walk
// from the base, from the listing kept for the walks that end under the same
// key; false when there is none yet (then ask the tree).
bool ListedUnderWalk(KeyStep& step, KeyId parent, std::u16string_view name, KeyId* child) {
  KeyHandle& base = step.handle();
  if (base.walk_parent != parent || base.walk_parent_stamp != step.stamp()) {
    base.walk_parent = parent;
    base.walk_parent_stamp = step.stamp();
    base.walk_parent_listed = false;
    base.walk_parent_children.clear();
    return false;
  }
  if (!base.walk_parent_listed) {
    if (step.tree().ListChildren(parent, &base.walk_parent_children) != ERROR_SUCCESS) {
      base.walk_parent_children.clear();
      return false;
    }
    base.walk_parent_listed = true;
  }
  return FindListed(base.walk_parent_children, name, child);
}

// Follows `names` from the step's key; *found is the number of names that
// exist. The keys of the handle's last walk at the same stamp are taken
// without asking the tree again.
LONG Walk(KeyStep& step, const std::vector<std::u16string>& names, KeyId* last, size_t* found) {
  KeyHandle& base = step.handle();
  Tree& tree = step.tree();
  // The remembered walk serves only while the path follows it from the base.
  bool memo = base.walked_stamp == step.stamp();
  std::vector<std::u16string> folded;
  std::vector<KeyId> keys;
  folded.reserve(names.size());
  keys.reserve(names.size());
  KeyId key = base.key;
  LONG result = ERROR_SUCCESS;
  for (const auto& name : names) {
    folded.push_back(FoldName(name));
    const size_t i = keys.size();
    memo = memo && i < base.walked_keys.size() && base.walked_names[i] == folded[i];
    if (memo) {
      key = base.walked_keys[i];
    } else if (i == 0 && ListedChild(base, step.stamp(), name, &key)) {
      // Found in the base key's current listing.
    } else if (i > 0 && i + 1 == names.size() && ListedUnderWalk(step, key, name, &key)) {
      // Found in the listing of the parent of the walks' last keys.
    } else if (result = tree.FindChild(key, name, &key); result != ERROR_SUCCESS) {
      folded.pop_back();
      break;
    }
    keys.push_back(key);
  }
  *found = keys.size();
  *last = key;
  base.walked_stamp = step.stamp();
  base.walked_names = std::move(folded);
  base.walked_keys = std::move(keys);
  return result;
}

HKEY AddHandle(KeyStep& step, KeyId key, REGSAM access) {
  KeyHandle handle;
  handle.tree = &step.tree();
  handle.key = key;
  handle.access = access;
  handle.checked = true;
  handle.checked_stamp = step.stamp();
  return step.handles().Add(handle);
}

bool IsPredefined(HKEY key) {
  return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE ||
         key == HKEY_USERS || key == HKEY_CURRENT_CONFIG;
}

}  // namespace

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                   PHKEY phkResult) {
  (void)ulOptions;
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  KeyStep step;
  if (LONG rc = step.Start(hKey, 0, KeyStep::kRead); rc != ERROR_SUCCESS) return rc;
  std::vector<std::u16string> names;
  if (LONG rc = ParsePath(lpSubKey, &names); rc != ERROR_SUCCESS) return step.Finish(rc);
  KeyId key = 0;
  size_t found = 0;
  if (LONG rc = Walk(step, names, &key, &found); rc != ERROR_SUCCESS) {
    return step.Finish(rc);
  }
  REGSAM access = 0;
  if (LONG rc = GrantAccess(samDesired, step.tree().Writable(), &access); rc != ERROR_SUCCESS) {
    return step.Finish(rc);
  }
  // As on Windows, an empty path under a predefined key gives back that
  // key's own handle.
  *phkResult = names.empty() && IsPredefined(hKey) ? hKey : AddHandle(step, key, access);
  return step.Finish(ERROR_SUCCESS);
}

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, const LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                     PHKEY phkResult, LPDWORD lpdwDisposition) {
  (void)Reserved;
  (void)dwOptions;  // every key is kept; there are no volatile keys
  (void)lpSecurityAttributes;
  if (phkResult == nullptr || lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  std::vector<std::u16string> names;
  KeyId key = 0;
  size_t found = 0;
  REGSAM access = 0;
  bool walked_under_lock = false;
  {
    // Opening an existing key needs no write step.
    KeyStep step;
    if (LONG rc = step.Start(hKey, 0, KeyStep::kRead); rc != ERROR_SUCCESS) return rc;
    if (LONG rc = ParsePath(lpSubKey, &names); rc != ERROR_SUCCESS) return step.Finish(rc);
    if (LONG rc = GrantAccess(samDesired, step.tree().Writable(), &access); rc != ERROR_SUCCESS) {
      return step.Finish(rc);
    }
    const LONG walked = Walk(step, names, &key, &found);
    if (walked == ERROR_SUCCESS) {
      *phkResult = AddHandle(step, key, access);
      if (lpdwDisposition != nullptr) *lpdwDisposition = REG_OPENED_EXISTING_KEY;
      return step.Finish(ERROR_SUCCESS);
    }
    if (walked != ERROR_FILE_NOT_FOUND) return step.Finish(walked);
    if (!step.tree().Writable()) return step.Finish(ERROR_ACCESS_DENIED);
    walked_under_lock = step.tree().HoldsWriteLock();
  }
  KeyStep step;
  if (LONG rc = step.Start(hKey, KEY_CREATE_SUB_KEY, KeyStep::kWrite); rc != ERROR_SUCCESS) {
    return rc;
  }
  Tree& tree = step.tree();
  // Walk again: another process may have changed the tree in between,
  // unless this process held the write lock all along.
  if (!walked_under_lock || !tree.HoldsWriteLock()) {
    const LONG walked = Walk(step, names, &key, &found);
    if (walked != ERROR_SUCCESS && walked != ERROR_FILE_NOT_FOUND) return step.Finish(walked);
  }
  DWORD disposition = REG_OPENED_EXISTING_KEY;
  if (found < names.size()) {
    int depth = 0;
    if (LONG rc = tree.KeyDepth(key, &depth); rc != ERROR_SUCCESS) return step.Finish(rc);
    if (depth + static_cast<int64_t>(names.size() - found) > kMaxKeyDepth) {
      return step.Finish(ERROR_INVALID_PARAMETER);
    }
    std::optional<std::u16string> class_name;
    if (lpClass != nullptr) class_name = AnsiToWide(lpClass);
    for (size_t i = found; i < names.size(); ++i) {
      const bool last = i + 1 == names.size();
      if (LONG rc = tree.CreateChild(key, names[i], last ? class_name : std::nullopt, &key);
          rc != ERROR_SUCCESS) {
        return step.Finish(rc);
      }
    }
    disposition = REG_CREATED_NEW_KEY;
  }
  const HKEY handle = AddHandle(step, key, access);
  if (LONG rc = step.Finish(ERROR_SUCCESS); rc != ERROR_SUCCESS) {
    step.handles().Remove(handle);
    return rc;
  }
  *phkResult = handle;
  if (lpdwDisposition != nullptr) *lpdwDisposition = disposition;
  return ERROR_SUCCESS;
}

namespace orvik::posix {

namespace {

uint64_t g_predefined_closes = 0;

}  // namespace

uint64_t PredefinedKeyCloses() { return g_predefined_closes; }

}  // namespace orvik::posix

LONG RegCloseKey(HKEY hKey) {
  if (IsPredefined(hKey)) {
    ++orvik::posix::g_predefined_closes;
    return ERROR_SUCCESS;
  }
  orvik::posix::HandleTable* handles = orvik::posix::OpenedHandles();
  if (handles == nullptr || !handles->Remove(hKey)) return ERROR_INVALID_HANDLE;
  return ERROR_SUCCESS;
}

LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  std::vector<std::u16string> names;
  const LONG parsed = ParsePath(lpSubKey, &names);
  // Removing the handle's own key needs DELETE on it; a subkey is opened for it.
  KeyStep step;
  if (LONG rc = step.Start(hKey, names.empty() && parsed == ERROR_SUCCESS ? DELETE : 0,
                           KeyStep::kWriteWhenWritable);
      rc != ERROR_SUCCESS) {
    return rc;
  }
  if (parsed != ERROR_SUCCESS) return step.Finish(parsed);
  Tree& tree = step.tree();
  KeyId key = 0;
  size_t found = 0;
  if (LONG rc = Walk(step, names, &key, &found); rc != ERROR_SUCCESS) {
    return step.Finish(rc);
  }
  if (!step.writing() || tree.IsRoot(key)) return step.Finish(ERROR_ACCESS_DENIED);
  const LONG result = step.Finish(tree.DeleteKey(key));
  uint64_t before = 0;
  uint64_t after = 0;
  if (result == ERROR_SUCCESS && names.size() == 1 && tree.LastWriteAlone(&before, &after)) {
    orvik::posix::ForgetChild(step.handle(), key, before, after);
  }
  return result;
}
