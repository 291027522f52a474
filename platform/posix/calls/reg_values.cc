// The registry calls that read, write and remove values. The ANSI calls
// convert string data between the ANSI code page and its stored UTF-16LE
// form; the wide calls pass the stored bytes as they are.
#include <cstring>
#include <string>
#include <string_view>

#include "platform/posix/codepage.h"
#include "platform/posix/handles/key_cache.h"
#include "platform/posix/handles/key_step.h"
#include "platform/posix/key_path.h"
#include "platform/posix/value_forms.h"
#include "platform/posix/windows_api.h"

namespace {

using orvik::posix::KeyStep;

std::u16string WideName(LPCWSTR name) {
  return name != nullptr ? std::u16string(name) : std::u16string();
}

std::u16string AnsiName(LPCSTR name) {
  return orvik::posix::AnsiToWide(name != nullptr ? name : "");
}

// Reads a value named in ANSI (`ansi_name`, with `ansi`) or in UTF-16.
LONG QueryValue(HKEY key, LPCSTR ansi_name, LPCWSTR wide_name, LPDWORD reserved, LPDWORD type,
                LPBYTE data, LPDWORD size, bool ansi) {
  if (reserved != nullptr || (data != nullptr && size == nullptr)) return ERROR_INVALID_PARAMETER;
  KeyStep step;
  if (LONG rc = step.Start(key, KEY_QUERY_VALUE, KeyStep::kRead); rc != ERROR_SUCCESS) return rc;
  orvik::posix::StoredValue value;
  // Callers read a listing's values in turn by the names it gave: those are
  // found without converting the name.
  const orvik::posix::ValueEntry* cached =
      ansi ? orvik::posix::NextCachedValueAscii(step, ansi_name) : nullptr;
  std::u16string converted_name;
  std::u16string_view name;
  if (cached != nullptr) {
    name = cached->name;
  } else {
    converted_name = ansi ? AnsiName(ansi_name) : WideName(wide_name);
    name = converted_name;
    if (LONG rc = orvik::posix::CheckValueName(name); rc != ERROR_SUCCESS) return step.Finish(rc);
    bool listed = false;
    cached = orvik::posix::CachedValue(step, name, &listed);
    if (listed && cached == nullptr) return step.Finish(ERROR_FILE_NOT_FOUND);
  }
  // A listed value that carries its data is answered from the listing
  // without a copy; others are read from the tree.
  std::string_view bytes;
  std::string converted;
  if (cached != nullptr && cached->data) {
    value.type = cached->type;
    bytes = ansi ? std::string_view(orvik::posix::CachedAnsiData(step.handle(), *cached))
                 : std::string_view(*cached->data);
  } else if (LONG rc = step.tree().ReadValue(step.handle().key, name, &value);
             rc != ERROR_SUCCESS) {
    return step.Finish(rc);
  } else {
    converted = ansi ? orvik::posix::AnsiFromStored(value.type, value.data) : std::move(value.data);
    bytes = converted;
  }
  if (type != nullptr) *type = value.type;
  LONG result = ERROR_SUCCESS;
  if (size != nullptr) {
    const DWORD capacity = *size;
    *size = static_cast<DWORD>(bytes.size());
    if (data != nullptr) {
      if (bytes.size() > capacity) {
        result = ERROR_MORE_DATA;
      } else if (!bytes.empty()) {
        std::memcpy(data, bytes.data(), bytes.size());
      }
    }
  }
  // The listing belongs to the handle: the step ends after it was read.
  step.Finish(ERROR_SUCCESS);
  return result;
}

LONG SetValue(HKEY key, const std::u16string& name, DWORD type, const BYTE* data, DWORD size,
              bool ansi) {
  if (data == nullptr && size != 0) return ERROR_NOACCESS;
  KeyStep step;
  if (LONG rc = step.Start(key, KEY_SET_VALUE, KeyStep::kWrite); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = orvik::posix::CheckValueName(name); rc != ERROR_SUCCESS) return step.Finish(rc);
  const std::string_view given(reinterpret_cast<const char*>(data), data != nullptr ? size : 0);
  const std::string stored = ansi ? orvik::posix::StoredFromAnsi(type, given) : std::string(given);
  return step.Finish(step.tree().WriteValue(step.handle().key, name, type, stored));
}

}  // namespace

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData) {
  return QueryValue(hKey, lpValueName, nullptr, lpReserved, lpType, lpData, lpcbData, true);
}

LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData) {
  return QueryValue(hKey, nullptr, lpValueName, lpReserved, lpType, lpData, lpcbData, false);
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                    DWORD cbData) {
  (void)Reserved;
  return SetValue(hKey, AnsiName(lpValueName), dwType, lpData, cbData, true);
}

LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                    const BYTE* lpData, DWORD cbData) {
  (void)Reserved;
  return SetValue(hKey, WideName(lpValueName), dwType, lpData, cbData, false);
}

LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  KeyStep step;
  if (LONG rc = step.Start(hKey, KEY_SET_VALUE, KeyStep::kWrite); rc != ERROR_SUCCESS) return rc;
  const std::u16string name = AnsiName(lpValueName);
  if (LONG rc = orvik::posix::CheckValueName(name); rc != ERROR_SUCCESS) return step.Finish(rc);
  return step.Finish(step.tree().DeleteValue(step.handle().key, name));
}
