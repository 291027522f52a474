// TRegistry: the object through which every operation reaches the registry.
//
// An object has a selected root key and at most one entered (open) key.
// Paths starting with one backslash are resolved against the root; any other
// path is resolved against the entered key, or the root when none is entered.
// Boolean results never raise; the value reads and writes raise
// ERegistryException with the messages their callers print.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "registry/exception.h"
#include "registry/string_list.h"

namespace orvik {

// The coarse kind of data that ReadValueData reports.
enum DataKind : int {
  dkUnknown = 0,
  dkString = 1,
  dkExpandString = 2,
  dkInteger = 3,
  dkBinary = 4,
};

class TRegistry {
 public:
  TRegistry();
  explicit TRegistry(DWORD access_mask);
  ~TRegistry();
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  HKEY ActiveHandle() const { return active_handle_; }
  HKEY RootHandle() const { return root_handle_; }
  const std::string& ActivePath() const { return active_path_; }
  DWORD AccessMask() const { return access_mask_; }
  // The platform's result code of the last registry call the object made, so
  // that a caller can tell why a Boolean operation failed.
  LONG LastError() const { return last_error_; }

  void SelectRoot(HKEY root);
  bool EnterKey(const std::string& path, bool create);
  bool EnterKeyReadOnly(const std::string& path);
  void LeaveKey();
  bool KeyPresent(const std::string& path);

  void ListSubKeys(TStringList& list);
  void ListValueNames(TStringList& list);
  bool HasChildKeys();

  bool ValuePresent(const std::string& name);
  // Bytes of data, 0 for a value without data, -1 when it cannot be queried.
  int64_t ValueDataSize(const std::string& name);
  // Reads into buffer; returns the bytes stored and reports the DataKind.
  // Raises "Failed to get data for '%s'".
  DWORD ReadValueData(const std::string& name, void* buffer, DWORD buffer_size, DataKind& kind);
  std::string ReadStringValue(const std::string& name);
  int32_t ReadIntegerValue(const std::string& name);
  // Raises "Failed to set data for '%s'".
  void WriteStringValue(const std::string& name, const std::string& text);
  bool RemoveValue(const std::string& name);
  // Removes the key with everything below it. A key the registry never
  // removes (a hive's key) is refused before anything below it changes.
  // When subkeys appeared while it ran (another process adding them), it
  // goes over the tree again, a few times at most and only while each pass
  // removes something.
  bool RemoveKeyTree(const std::string& path);

  // Writes the key at `path` with everything below it to a new hive file,
  // and replaces the key's values and subkeys with a hive file's. The
  // platform demands the backup and the restore privilege for them.
  bool SaveHive(const std::string& path, const std::string& file_name);
  bool RestoreHive(const std::string& path, const std::string& file_name);
  // Loads a hive file as the key `path` of the root (never of the entered
  // key), and unloads it again; the platform takes hives under
  // HKEY_LOCAL_MACHINE and HKEY_USERS only, with the restore privilege.
  bool LoadHive(const std::string& path, const std::string& file_name);
  bool UnloadHive(const std::string& path);

 private:
  // Applies the path rule: strips one leading backslash of an absolute path,
  // reports whether it was relative and returns the base handle to use.
  HKEY BaseFor(const std::string& path, std::string& remaining, bool& relative) const;
  HKEY OpenSubKey(const std::string& path);
  // Closes a key the object opened. For an empty path RegOpenKeyEx gives
  // back the predefined handle of the root itself (HKEY_CLASSES_ROOT for
  // HKCR\), which is the system's and is never closed.
  LONG CloseKey(HKEY key) const;
  bool EnterWith(const std::string& path, bool create, DWORD mask);
  // One pass of RemoveKeyTree: children from the last index down, then the key.
  bool RemoveKeyTreeOnce(const std::string& path);
  // Whether the key at `path` has subkeys now.
  bool HasSubKeysAt(const std::string& path);

  HKEY active_handle_ = nullptr;
  HKEY root_handle_;
  std::string active_path_;
  DWORD access_mask_;
  LONG last_error_ = ERROR_SUCCESS;
  uint64_t removed_keys_ = 0;  // keys RemoveKeyTree removed, for its passes
};

}  // namespace orvik
