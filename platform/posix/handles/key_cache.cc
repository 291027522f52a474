// Filling, using and forgetting what a handle keeps of its key's tree.
#include "platform/posix/handles/key_cache.h"

#include <cstddef>

#include "platform/posix/codepage.h"
#include "platform/posix/handles/key_step.h"
#include "platform/posix/loaded/registry_tree.h"
#include "platform/posix/value_forms.h"

namespace orvik::posix {

namespace {

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
  if (!handle.cache.children_cached || handle.cache.children_stamp != stamp) return false;
  return FindListed(handle.cache.children, name, child);
}

// The subkey of that name of `parent`, the key above the last one of a walk
// from the base, from the listing kept for the walks that end under the same
// key; false when there is none yet (then ask the tree).
bool ListedUnderWalk(KeyStep& step, KeyId parent, std::u16string_view name, KeyId* child) {
  KeyHandle& base = step.handle();
  if (base.cache.walk_parent != parent || base.cache.walk_parent_stamp != step.stamp()) {
    base.cache.walk_parent = parent;
    base.cache.walk_parent_stamp = step.stamp();
    base.cache.walk_parent_listed = false;
    base.cache.walk_parent_children.clear();
    return false;
  }
  if (!base.cache.walk_parent_listed) {
    if (step.tree().ListChildren(parent, &base.cache.walk_parent_children) != ERROR_SUCCESS) {
      base.cache.walk_parent_children.clear();
      return false;
    }
    base.cache.walk_parent_listed = true;
  }
  return FindListed(base.cache.walk_parent_children, name, child);
}

bool SameAscii(std::u16string_view wide, const char* ascii) {
  size_t i = 0;
  for (; ascii[i] != '\0'; ++i) {
    const auto c = static_cast<unsigned char>(ascii[i]);
    if (c >= 0x80 || i >= wide.size() || wide[i] != c) return false;
  }
  return i == wide.size();
}

}  // namespace

LONG LoadHeader(KeyStep& step) {
  KeyHandle& handle = step.handle();
  if (handle.cache.header_cached && handle.cache.header_stamp == step.stamp()) {
    return ERROR_SUCCESS;
  }
  handle.cache.header_cached = false;
  if (LONG rc = step.tree().GetKeyHeader(handle.key, &handle.cache.header); rc != ERROR_SUCCESS) {
    return rc;
  }
  handle.cache.header_cached = true;
  handle.cache.header_stamp = step.stamp();
  return ERROR_SUCCESS;
}

LONG LoadChildren(KeyStep& step) {
  KeyHandle& handle = step.handle();
  if (handle.cache.children_cached && handle.cache.children_stamp == step.stamp())
    return ERROR_SUCCESS;
  handle.cache.children_cached = false;
  if (LONG rc = step.tree().ListChildren(handle.key, &handle.cache.children); rc != ERROR_SUCCESS) {
    return rc;
  }
  handle.cache.child_names.clear();
  handle.cache.child_names.reserve(handle.cache.children.size());
  for (const auto& child : handle.cache.children)
    handle.cache.child_names.push_back(WideToAnsi(child.name));
  handle.cache.children_cached = true;
  handle.cache.children_stamp = step.stamp();
  return ERROR_SUCCESS;
}

LONG LoadValues(KeyStep& step) {
  KeyHandle& handle = step.handle();
  if (handle.cache.values_cached && handle.cache.values_stamp == step.stamp()) return ERROR_SUCCESS;
  handle.cache.values_cached = false;
  handle.cache.value_index.clear();
  handle.cache.ansi_value = SIZE_MAX;
  if (LONG rc = step.tree().ListValues(handle.key, &handle.cache.values); rc != ERROR_SUCCESS) {
    return rc;
  }
  handle.cache.value_names.clear();
  handle.cache.value_names.reserve(handle.cache.values.size());
  for (const auto& value : handle.cache.values)
    handle.cache.value_names.push_back(WideToAnsi(value.name));
  handle.cache.values_cached = true;
  handle.cache.values_stamp = step.stamp();
  return ERROR_SUCCESS;
}

LONG WalkPath(KeyStep& step, const std::vector<std::u16string>& names, KeyId* last, size_t* found) {
  KeyHandle& base = step.handle();
  Tree& tree = step.tree();
  // The remembered walk serves only while the path follows it from the base.
  bool memo = base.cache.walked_stamp == step.stamp();
  std::vector<std::u16string> folded;
  std::vector<KeyId> keys;
  folded.reserve(names.size());
  keys.reserve(names.size());
  KeyId key = base.key;
  LONG result = ERROR_SUCCESS;
  for (const auto& name : names) {
    folded.push_back(FoldName(name));
    const size_t i = keys.size();
    memo = memo && i < base.cache.walked_keys.size() && base.cache.walked_names[i] == folded[i];
    if (memo) {
      key = base.cache.walked_keys[i];
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
  base.cache.walked_stamp = step.stamp();
  base.cache.walked_names = std::move(folded);
  base.cache.walked_keys = std::move(keys);
  return result;
}

void ForgetChild(KeyHandle& handle, KeyId child, uint64_t before, uint64_t after) {
  if (handle.checked && handle.checked_stamp == before) handle.checked_stamp = after;
  if (handle.cache.values_cached && handle.cache.values_stamp == before)
    handle.cache.values_stamp = after;
  if (!handle.cache.children_cached || handle.cache.children_stamp != before) return;
  // Removals run from the last subkey down, so look from the end.
  for (size_t i = handle.cache.children.size(); i-- > 0;) {
    if (handle.cache.children[i].id != child) continue;
    handle.cache.children.erase(handle.cache.children.begin() + static_cast<std::ptrdiff_t>(i));
    handle.cache.child_names.erase(handle.cache.child_names.begin() +
                                   static_cast<std::ptrdiff_t>(i));
    handle.cache.children_stamp = after;
    return;
  }
  handle.cache.children_cached = false;  // the list did not have it: list again
}

const ValueEntry* CachedValue(KeyStep& step, std::u16string_view name, bool* listed) {
  KeyHandle& handle = step.handle();
  *listed = handle.cache.values_cached && handle.cache.values_stamp == step.stamp();
  if (!*listed) return nullptr;
  // Values are usually asked for in the listing's order, by the names the
  // listing gave (several times each: type, size, data). A name spelled
  // exactly as a listed one is that value, since no two names of a key fold
  // alike; other spellings go through the folded index.
  for (size_t i = handle.cache.value_hint;
       i < handle.cache.values.size() && i < handle.cache.value_hint + 2; ++i) {
    if (handle.cache.values[i].name == name) {
      handle.cache.value_hint = i;
      return &handle.cache.values[i];
    }
  }
  if (handle.cache.value_index.empty() && !handle.cache.values.empty()) {
    for (size_t i = 0; i < handle.cache.values.size(); ++i) {
      handle.cache.value_index.emplace(FoldName(handle.cache.values[i].name), i);
    }
  }
  const auto it = handle.cache.value_index.find(FoldName(name));
  if (it == handle.cache.value_index.end()) return nullptr;
  handle.cache.value_hint = it->second;
  return &handle.cache.values[it->second];
}

const ValueEntry* NextCachedValueAscii(KeyStep& step, const char* name) {
  KeyHandle& handle = step.handle();
  if (name == nullptr || !handle.cache.values_cached || handle.cache.values_stamp != step.stamp()) {
    return nullptr;
  }
  for (size_t i = handle.cache.value_hint;
       i < handle.cache.values.size() && i < handle.cache.value_hint + 2; ++i) {
    if (SameAscii(handle.cache.values[i].name, name)) {
      handle.cache.value_hint = i;
      return &handle.cache.values[i];
    }
  }
  return nullptr;
}

const std::string& CachedAnsiData(KeyHandle& handle, const ValueEntry& value) {
  const auto index = static_cast<size_t>(&value - handle.cache.values.data());
  if (handle.cache.ansi_value != index) {
    handle.cache.ansi_data = AnsiFromStored(value.type, *value.data);
    handle.cache.ansi_value = index;
  }
  return handle.cache.ansi_data;
}

}  // namespace orvik::posix
