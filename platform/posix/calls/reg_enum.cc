// The registry calls that describe a key and enumerate its subkeys and values.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/posix/codepage.h"
#include "platform/posix/handles/key_cache.h"
#include "platform/posix/handles/key_step.h"
#include "platform/posix/value_forms.h"
#include "platform/posix/windows_api.h"

namespace {

using orvik::posix::AnsiFromStored;
using orvik::posix::KeyHandle;
using orvik::posix::KeyStep;
using orvik::posix::LoadChildren;
using orvik::posix::LoadValues;
using orvik::posix::WideToAnsi;

void SetFileTime(PFILETIME target, int64_t time) {
  if (target == nullptr) return;
  const auto value = static_cast<uint64_t>(time);
  target->dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFF);
  target->dwHighDateTime = static_cast<DWORD>(value >> 32);
}

// Copies `text` and a terminating zero into a buffer of *capacity characters;
// on success *capacity becomes the length without the zero.
LONG CopyName(const std::string& text, LPSTR buffer, LPDWORD capacity) {
  if (text.size() + 1 > *capacity) return ERROR_MORE_DATA;
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  *capacity = static_cast<DWORD>(text.size());
  return ERROR_SUCCESS;
}

// Counts and longest lengths (in bytes of the ANSI form) from the listings.
void SummarizeListings(const KeyHandle& handle, orvik::posix::KeyInfo* info) {
  info->subkeys = static_cast<DWORD>(handle.cache.children.size());
  info->values = static_cast<DWORD>(handle.cache.values.size());
  for (size_t i = 0; i < handle.cache.children.size(); ++i) {
    info->max_subkey_name =
        std::max(info->max_subkey_name, static_cast<DWORD>(handle.cache.child_names[i].size()));
    if (const auto& class_name = handle.cache.children[i].class_name) {
      info->max_subkey_class = std::max(info->max_subkey_class,
                                        static_cast<DWORD>(orvik::posix::AnsiLength(*class_name)));
    }
  }
  for (size_t i = 0; i < handle.cache.values.size(); ++i) {
    info->max_value_name =
        std::max(info->max_value_name, static_cast<DWORD>(handle.cache.value_names[i].size()));
    info->max_value_data =
        std::max(info->max_value_data, static_cast<DWORD>(handle.cache.values[i].fit_size));
  }
}

}  // namespace

LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                      LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                      LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                      LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
  if (lpReserved != nullptr || (lpClass != nullptr && lpcchClass == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  KeyStep step;
  if (LONG rc = step.Start(hKey, KEY_QUERY_VALUE, KeyStep::kRead); rc != ERROR_SUCCESS) {
    return rc;
  }
  // The counts and longest lengths come from the key's listings, which the
  // enumeration that usually follows then finds ready.
  orvik::posix::KeyHandle& handle = step.handle();
  // The key's own row is read only for what comes from it, and a listing
  // only for the figures taken from it.
  const bool wants_header = lpClass != nullptr || lpcchClass != nullptr ||
                            lpcbSecurityDescriptor != nullptr || lpftLastWriteTime != nullptr;
  if (wants_header) {
    if (LONG rc = orvik::posix::LoadHeader(step); rc != ERROR_SUCCESS) return step.Finish(rc);
  }
  orvik::posix::KeyInfo info = wants_header ? handle.cache.header : orvik::posix::KeyInfo{};
  if (lpcSubKeys != nullptr || lpcbMaxSubKeyLen != nullptr || lpcbMaxClassLen != nullptr) {
    if (LONG rc = LoadChildren(step); rc != ERROR_SUCCESS) return step.Finish(rc);
  }
  if (lpcValues != nullptr || lpcbMaxValueNameLen != nullptr || lpcbMaxValueLen != nullptr) {
    if (LONG rc = LoadValues(step); rc != ERROR_SUCCESS) return step.Finish(rc);
  }
  step.Finish(ERROR_SUCCESS);
  SummarizeListings(step.handle(), &info);
  if (lpcSubKeys != nullptr) *lpcSubKeys = info.subkeys;
  if (lpcbMaxSubKeyLen != nullptr) *lpcbMaxSubKeyLen = info.max_subkey_name;
  if (lpcbMaxClassLen != nullptr) *lpcbMaxClassLen = info.max_subkey_class;
  if (lpcValues != nullptr) *lpcValues = info.values;
  if (lpcbMaxValueNameLen != nullptr) *lpcbMaxValueNameLen = info.max_value_name;
  if (lpcbMaxValueLen != nullptr) *lpcbMaxValueLen = info.max_value_data;
  if (lpcbSecurityDescriptor != nullptr) {
    *lpcbSecurityDescriptor = static_cast<DWORD>(info.security.size());
  }
  SetFileTime(lpftLastWriteTime, info.last_write);
  if (lpcchClass != nullptr) {
    const std::string class_name = info.class_name ? WideToAnsi(*info.class_name) : "";
    if (lpClass == nullptr) {
      *lpcchClass = static_cast<DWORD>(class_name.size());
    } else if (CopyName(class_name, lpClass, lpcchClass) != ERROR_SUCCESS) {
      *lpcchClass = static_cast<DWORD>(class_name.size());
      return ERROR_MORE_DATA;
    }
  }
  return ERROR_SUCCESS;
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                   LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  if (lpName == nullptr || lpcchName == nullptr || lpReserved != nullptr ||
      (lpClass != nullptr && lpcchClass == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  KeyStep step;
  if (LONG rc = step.Start(hKey, KEY_ENUMERATE_SUB_KEYS, KeyStep::kRead); rc != ERROR_SUCCESS) {
    return rc;
  }
  if (LONG rc = LoadChildren(step); rc != ERROR_SUCCESS) return step.Finish(rc);
  step.Finish(ERROR_SUCCESS);
  const KeyHandle& handle = step.handle();
  if (dwIndex >= handle.cache.children.size()) return ERROR_NO_MORE_ITEMS;
  const auto& child = handle.cache.children[dwIndex];
  if (LONG rc = CopyName(handle.cache.child_names[dwIndex], lpName, lpcchName);
      rc != ERROR_SUCCESS) {
    return rc;
  }
  if (lpClass != nullptr) {
    const std::string class_name = child.class_name ? WideToAnsi(*child.class_name) : "";
    if (CopyName(class_name, lpClass, lpcchClass) != ERROR_SUCCESS) {
      *lpcchClass = static_cast<DWORD>(class_name.size());
      return ERROR_MORE_DATA;
    }
  } else if (lpcchClass != nullptr) {
    *lpcchClass = 0;
  }
  SetFileTime(lpftLastWriteTime, child.last_write);
  return ERROR_SUCCESS;
}

LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                   LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (lpValueName == nullptr || lpcchValueName == nullptr || lpReserved != nullptr ||
      (lpData != nullptr && lpcbData == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  KeyStep step;
  if (LONG rc = step.Start(hKey, KEY_QUERY_VALUE, KeyStep::kRead); rc != ERROR_SUCCESS) {
    return rc;
  }
  if (LONG rc = LoadValues(step); rc != ERROR_SUCCESS) return step.Finish(rc);
  const KeyHandle& handle = step.handle();
  if (dwIndex >= handle.cache.values.size()) return step.Finish(ERROR_NO_MORE_ITEMS);
  const auto& value = handle.cache.values[dwIndex];
  // Carried data in its ANSI form is kept with the handle for the reads of
  // the same value that usually follow.
  std::string read;
  std::string_view data;
  if (lpcbData != nullptr) {
    if (value.data) {
      data = orvik::posix::CachedAnsiData(step.handle(), value);
    } else {
      if (LONG rc = step.tree().ReadValueData(value.ref, &read); rc != ERROR_SUCCESS) {
        return step.Finish(rc);
      }
      read = AnsiFromStored(value.type, read);
      data = read;
    }
  }
  step.Finish(ERROR_SUCCESS);
  if (LONG rc = CopyName(handle.cache.value_names[dwIndex], lpValueName, lpcchValueName);
      rc != ERROR_SUCCESS) {
    return rc;
  }
  if (lpType != nullptr) *lpType = value.type;
  if (lpcbData != nullptr) {
    const DWORD capacity = *lpcbData;
    *lpcbData = static_cast<DWORD>(data.size());
    if (lpData != nullptr) {
      if (data.size() > capacity) return ERROR_MORE_DATA;
      if (!data.empty()) std::memcpy(lpData, data.data(), data.size());
    }
  }
  return ERROR_SUCCESS;
}
