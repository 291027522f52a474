// The interface between the registry calls and a tree of keys, and the
// entries it lists. Two trees implement it: the SQLite store
// (store/sqlite_store.h), and the registry's tree that the calls see
// (loaded/registry_tree.h): the store with the loaded hives served in place
// beside it. Every call returns a Windows error code.
//
// Names are UTF-16 as stored; the tree compares them by FoldName. Calls that
// read or write run between Begin and End, which make them one atomic step
// and one consistent view of the tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/windows_api.h"

namespace orvik::posix {

namespace hive {
class HiveReader;
}

// A key's identity inside its tree. Ids are never reused, so a handle whose
// key was removed (by any process) can tell.
using KeyId = int64_t;

struct KeyInfo {
  DWORD subkeys = 0;
  DWORD max_subkey_name = 0;   // in bytes of the ANSI form
  DWORD max_subkey_class = 0;  // in bytes of the ANSI form
  DWORD values = 0;
  DWORD max_value_name = 0;  // in bytes of the ANSI form
  DWORD max_value_data = 0;  // largest data, stored or in ANSI form
  std::optional<std::u16string> class_name;
  std::string security;    // security descriptor, self-relative bytes
  int64_t last_write = 0;  // FILETIME as one number
};

struct ChildEntry {
  KeyId id = 0;
  std::u16string name;
  std::optional<std::u16string> class_name;
  int64_t last_write = 0;
};

// Listings carry the data of values up to this size along (ValueEntry::data).
constexpr size_t kCarriedDataSize = 1024;

struct ValueEntry {
  int64_t ref = 0;  // pass to ReadValueData
  std::u16string name;
  DWORD type = 0;
  size_t size = 0;
  std::optional<std::string> data;  // present when small enough to carry along
  size_t fit_size = 0;              // larger of the stored and the ANSI size
};

// A class name read from a hive file, where an empty one means none.
inline std::optional<std::u16string> ClassOrNone(const std::u16string& class_name) {
  if (class_name.empty()) return std::nullopt;
  return class_name;
}

// What a hive file keeps of a key besides its values and subkeys.
struct KeyData {
  std::u16string name;
  std::optional<std::u16string> class_name;
  std::string security;  // empty when the key has none of its own
  int64_t last_write = 0;
};

struct StoredValue {
  DWORD type = 0;
  std::string data;  // as stored: string types in UTF-16LE
};

class Tree {
 public:
  virtual ~Tree() = default;

  // Whether changes are allowed at all (the user may write the store).
  virtual bool Writable() const = 0;
  // Whether this process holds the write lock between steps (a run or group
  // transaction is open), so that no other process can change the tree.
  virtual bool HoldsWriteLock() const = 0;

  // Starts a read or write step and reports a stamp that stays equal for as
  // long as nothing in the tree changed (in this process or another).
  virtual LONG Begin(bool write, uint64_t* stamp) = 0;
  // Ends the step; `commit` false undoes a write step's changes.
  virtual LONG End(bool commit) = 0;
  // After a write step that kept its changes: true when they were the only
  // change between the stamp *before (of a read step just before it) and
  // the stamp *after (of a read step just after it), so that what was read
  // at *before, brought up to date with the step's own change, holds at
  // *after.
  virtual bool LastWriteAlone(uint64_t* before, uint64_t* after) const {
    (void)before;
    (void)after;
    return false;
  }

  // When nothing in the key's tree changed since it was read from a hive
  // file: the reader of that file, and the key's cell in it (the caller may
  // then copy the tree straight from the file). Else nullptr.
  virtual const hive::HiveReader* UnchangedHiveKey(KeyId key, uint32_t* cell) {
    (void)key;
    (void)cell;
    return nullptr;
  }

  // The tree's top keys, which cannot be removed.
  virtual bool IsRoot(KeyId key) const = 0;
  virtual LONG KeyExists(KeyId key, bool* exists) = 0;
  // ERROR_FILE_NOT_FOUND when there is no such child.
  virtual LONG FindChild(KeyId parent, std::u16string_view name, KeyId* child) = 0;
  // The new key takes its parent's security descriptor.
  virtual LONG CreateChild(KeyId parent, std::u16string_view name,
                           const std::optional<std::u16string>& class_name, KeyId* child) = 0;
  // ERROR_ACCESS_DENIED when the key has subkeys or a hive is loaded under
  // it (a loaded hive's key goes with its unloading).
  virtual LONG DeleteKey(KeyId key) = 0;
  // The number of keys from the key up to its top key (0 for a top key).
  virtual LONG KeyDepth(KeyId key, int* depth) = 0;
  virtual LONG GetKeyInfo(KeyId key, KeyInfo* info) = 0;
  // Only the class name, security descriptor and last-write time of KeyInfo
  // (the counts and lengths stay zero); ERROR_KEY_DELETED when it is gone.
  virtual LONG GetKeyHeader(KeyId key, KeyInfo* info) = 0;
  virtual LONG SetKeySecurity(KeyId key, std::string_view security) = 0;
  // Subkeys in ascending order of their folded names (as UTF-16 code units).
  virtual LONG ListChildren(KeyId key, std::vector<ChildEntry>* children) = 0;
  // Values in the order they were created.
  virtual LONG ListValues(KeyId key, std::vector<ValueEntry>* values) = 0;
  virtual LONG ReadValueData(int64_t ref, std::string* data) = 0;
  // ERROR_FILE_NOT_FOUND when the key has no such value.
  virtual LONG ReadValue(KeyId key, std::u16string_view name, StoredValue* value) = 0;
  // Creates the value at the end of the order, or replaces its type and data
  // in place.
  virtual LONG WriteValue(KeyId key, std::u16string_view name, DWORD type,
                          std::string_view data) = 0;
  virtual LONG DeleteValue(KeyId key, std::u16string_view name) = 0;

  // A key's own data, and setting it as a restored hive gives it.
  virtual LONG GetKeyData(KeyId key, KeyData* data) = 0;
  virtual LONG SetKeyClass(KeyId key, const std::optional<std::u16string>& class_name) = 0;
  virtual LONG SetKeyLastWrite(KeyId key, int64_t last_write) = 0;
};

}  // namespace orvik::posix
