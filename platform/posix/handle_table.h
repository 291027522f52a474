// The open key handles of this process: each names a key in a tree, the
// access it was opened with, and what it last saw of the key (so that the
// registry calls notice a removed key and enumerate from a cached list).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/posix/tree.h"
#include "platform/posix/windows_api.h"

namespace orvik::posix {

struct KeyHandle {
  Tree* tree = nullptr;
  KeyId key = 0;
  REGSAM access = 0;
  bool predefined = false;

  // The tree stamp at which the key was last seen to exist.
  bool checked = false;
  uint64_t checked_stamp = 0;

  // The key's class, security and last write time as of the tree stamp:
  // the key information is asked for more than once per key as a tree is
  // listed.
  bool header_cached = false;
  uint64_t header_stamp = 0;
  KeyInfo header;

  // Subkeys and values in enumeration order with their ANSI names, valid
  // while the tree stamp is unchanged.
  bool children_cached = false;
  uint64_t children_stamp = 0;
  std::vector<ChildEntry> children;
  std::vector<std::string> child_names;
  bool values_cached = false;
  uint64_t values_stamp = 0;
  std::vector<ValueEntry> values;
  std::vector<std::string> value_names;
  std::unordered_map<std::u16string, size_t> value_index;  // folded name; built on demand
  size_t value_hint = 0;  // the value found last: callers read a listing in its order
  // The ANSI form of one listed value's data (type, size and data are asked
  // for one after another); SIZE_MAX for none.
  size_t ansi_value = SIZE_MAX;
  std::string ansi_data;

  // The keys found by the last walk of a path from this key (folded names
  // and ids), valid while the tree stamp is unchanged: opening a key and
  // then each of its subkeys by their full paths costs one lookup per key.
  uint64_t walked_stamp = 0;
  std::vector<std::u16string> walked_names;
  std::vector<KeyId> walked_keys;
  // The key under which the last walk from this key ended, and from the
  // second walk that ends under it on, its subkeys, valid while the tree
  // stamp is unchanged: a tree's keys opened one after another by their full
  // paths then cost one listing per parent instead of one lookup per key.
  KeyId walk_parent = 0;
  uint64_t walk_parent_stamp = 0;
  bool walk_parent_listed = false;
  std::vector<ChildEntry> walk_parent_children;
};

class HandleTable {
 public:
  // A new handle value for `handle`; values are never reused in a process.
  HKEY Add(const KeyHandle& handle);
  // The handle's entry (an open handle or a predefined root set with
  // SetRoot), or nullptr for an unknown handle.
  KeyHandle* Find(HKEY key);
  bool Remove(HKEY key);
  void Clear();

  void SetRoot(HKEY key, const KeyHandle& root) { roots_[Value(key)] = root; }

 private:
  static uintptr_t Value(HKEY key) { return reinterpret_cast<uintptr_t>(key); }

  uintptr_t next_ = 0x1000;
  std::unordered_map<uintptr_t, KeyHandle> handles_;
  std::unordered_map<uintptr_t, KeyHandle> roots_;
};

// How often RegCloseKey was given a predefined key's handle. Windows takes
// it (and opens the key again on its next use), but that handle is the
// system's, not the caller's to close; tests look at this count.
uint64_t PredefinedKeyCloses();

}  // namespace orvik::posix
