// The registry calls that open, create, close and remove keys.
#include <string>
#include <vector>

#include "platform/posix/codepage.h"
#include "platform/posix/handles/key_cache.h"
#include "platform/posix/handles/key_step.h"
#include "platform/posix/handles/registry_session.h"
#include "platform/posix/key_path.h"
#include "platform/posix/windows_api.h"

namespace {

using orvik::posix::AnsiToWide;
using orvik::posix::GrantAccess;
using orvik::posix::KeyHandle;
using orvik::posix::KeyId;
using orvik::posix::KeyStep;
using orvik::posix::SplitKeyPath;
using orvik::posix::Tree;

LONG ParsePath(LPCSTR path, std::vector<std::u16string>* names) {
  return SplitKeyPath(AnsiToWide(path != nullptr ? path : ""), names);
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
  if (LONG rc = orvik::posix::WalkPath(step, names, &key, &found); rc != ERROR_SUCCESS) {
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
    const LONG walked = orvik::posix::WalkPath(step, names, &key, &found);
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
    const LONG walked = orvik::posix::WalkPath(step, names, &key, &found);
    if (walked != ERROR_SUCCESS && walked != ERROR_FILE_NOT_FOUND) return step.Finish(walked);
  }
  DWORD disposition = REG_OPENED_EXISTING_KEY;
  if (found < names.size()) {
    int depth = 0;
    if (LONG rc = tree.KeyDepth(key, &depth); rc != ERROR_SUCCESS) return step.Finish(rc);
    if (depth + static_cast<int64_t>(names.size() - found) > orvik::posix::kMaxKeyDepth) {
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
  orvik::posix::RegistryTree& tree = step.tree();
  KeyId key = 0;
  size_t found = 0;
  if (LONG rc = orvik::posix::WalkPath(step, names, &key, &found); rc != ERROR_SUCCESS) {
    return step.Finish(rc);
  }
  if (!step.writing()) return step.Finish(ERROR_ACCESS_DENIED);
  if (LONG rc = tree.KeyRemovable(key); rc != ERROR_SUCCESS) return step.Finish(rc);
  const LONG result = step.Finish(tree.DeleteKey(key));
  uint64_t before = 0;
  uint64_t after = 0;
  if (result == ERROR_SUCCESS && names.size() == 1 && tree.LastWriteAlone(&before, &after)) {
    orvik::posix::ForgetChild(step.handle(), key, before, after);
  }
  return result;
}
