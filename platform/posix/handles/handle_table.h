// The open key handles of this process: each names a key in the registry's
// tree, the access it was opened with, and what it last saw of the key (so
// that the registry calls notice a removed key and answer from its cache).
#pragma once

#include <cstdint>
#include <unordered_map>

#include "platform/posix/handles/key_cache.h"
#include "platform/posix/tree.h"
#include "platform/posix/windows_api.h"

namespace orvik::posix {

class RegistryTree;

struct KeyHandle {
  RegistryTree* tree = nullptr;  // the registry's tree: the store and the loaded hives
  KeyId key = 0;
  REGSAM access = 0;
  bool predefined = false;

  // The tree stamp at which the key was last seen to exist.
  bool checked = false;
  uint64_t checked_stamp = 0;

  // What the handle keeps of the key's tree between calls (key_cache.h).
  KeyCache cache;
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
