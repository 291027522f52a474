// Listing a key's subkeys and values into its handle.
#include "platform/posix/handles/key_cache.h"

#include <cstddef>

#include "platform/posix/codepage.h"
#include "platform/posix/value_forms.h"

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
  handle.ansi_value = SIZE_MAX;
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
  // Values are usually asked for in the listing's order, by the names the
  // listing gave (several times each: type, size, data). A name spelled
  // exactly as a listed one is that value, since no two names of a key fold
  // alike; other spellings go through the folded index.
  for (size_t i = handle.value_hint; i < handle.values.size() && i < handle.value_hint + 2; ++i) {
    if (handle.values[i].name == name) {
      handle.value_hint = i;
      return &handle.values[i];
    }
  }
  if (handle.value_index.empty() && !handle.values.empty()) {
    for (size_t i = 0; i < handle.values.size(); ++i) {
      handle.value_index.emplace(FoldName(handle.values[i].name), i);
    }
  }
  const auto it = handle.value_index.find(FoldName(name));
  if (it == handle.value_index.end()) return nullptr;
  handle.value_hint = it->second;
  return &handle.values[it->second];
}

namespace {

bool SameAscii(std::u16string_view wide, const char* ascii) {
  size_t i = 0;
  for (; ascii[i] != '\0'; ++i) {
    const auto c = static_cast<unsigned char>(ascii[i]);
    if (c >= 0x80 || i >= wide.size() || wide[i] != c) return false;
  }
  return i == wide.size();
}

}  // namespace

const ValueEntry* NextCachedValueAscii(KeyStep& step, const char* name) {
  KeyHandle& handle = step.handle();
  if (name == nullptr || !handle.values_cached || handle.values_stamp != step.stamp()) {
    return nullptr;
  }
  for (size_t i = handle.value_hint; i < handle.values.size() && i < handle.value_hint + 2; ++i) {
    if (SameAscii(handle.values[i].name, name)) {
      handle.value_hint = i;
      return &handle.values[i];
    }
  }
  return nullptr;
}

}  // namespace orvik::posix

namespace orvik::posix {

const std::string& CachedAnsiData(KeyHandle& handle, const ValueEntry& value) {
  const auto index = static_cast<size_t>(&value - handle.values.data());
  if (handle.ansi_value != index) {
    handle.ansi_data = AnsiFromStored(value.type, *value.data);
    handle.ansi_value = index;
  }
  return handle.ansi_data;
}

}  // namespace orvik::posix
