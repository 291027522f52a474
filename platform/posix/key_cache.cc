// Listing a key's subkeys and values into its handle.
#include "platform/posix/key_cache.h"

#include <cstddef>

#include "platform/posix/codepage.h"

namespace orvik::posix {

LONG LoadChildren(KeyStep& step) {
  KeyHandle& handle = step.handle();
  if (handle.children_cached && handle.children_stamp == step.stamp()) return ERROR_SUCCESS;
  handle.children_cached = false;
  if (LONG rc = step.tree().ListChildren(handle.key, &handle.children); rc != ERROR_SUCCESS) {
    return rc;
  }
  handle.child_names.clear();
  handle.child_names.reserve(handle.children.size());
  for (const auto& child : handle.children) handle.child_names.push_back(WideToAnsi(child.name));
  handle.children_cached = true;
  handle.children_stamp = step.stamp();
  return ERROR_SUCCESS;
}

LONG LoadValues(KeyStep& step) {
  KeyHandle& handle = step.handle();
  if (handle.values_cached && handle.values_stamp == step.stamp()) return ERROR_SUCCESS;
  handle.values_cached = false;
  handle.value_index.clear();
  if (LONG rc = step.tree().ListValues(handle.key, &handle.values); rc != ERROR_SUCCESS) {
    return rc;
  }
  handle.value_names.clear();
  handle.value_names.reserve(handle.values.size());
  for (const auto& value : handle.values) handle.value_names.push_back(WideToAnsi(value.name));
  handle.values_cached = true;
  handle.values_stamp = step.stamp();
  return ERROR_SUCCESS;
}

void ForgetChild(KeyHandle& handle, KeyId child, uint64_t before, uint64_t after) {
  if (handle.checked && handle.checked_stamp == before) handle.checked_stamp = after;
  if (handle.values_cached && handle.values_stamp == before) handle.values_stamp = after;
  if (!handle.children_cached || handle.children_stamp != before) return;
  // Removals run from the last subkey down, so look from the end.
  for (size_t i = handle.children.size(); i-- > 0;) {
    if (handle.children[i].id != child) continue;
    handle.children.erase(handle.children.begin() + static_cast<std::ptrdiff_t>(i));
    handle.child_names.erase(handle.child_names.begin() + static_cast<std::ptrdiff_t>(i));
    handle.children_stamp = after;
    return;
  }
  handle.children_cached = false;  // the list did not have it: list again
}

const ValueEntry* CachedValue(KeyStep& step, std::u16string_view name, bool* listed) {
  KeyHandle& handle = step.handle();
  *listed = handle.values_cached && handle.values_stamp == step.stamp();
  if (!*listed) return nullptr;
  if (handle.value_index.empty() && !handle.values.empty()) {
    for (size_t i = 0; i < handle.values.size(); ++i) {
      handle.value_index.emplace(FoldName(handle.values[i].name), i);
    }
  }
  const auto it = handle.value_index.find(FoldName(name));
  return it != handle.value_index.end() ? &handle.values[it->second] : nullptr;
}

}  // namespace orvik::posix
