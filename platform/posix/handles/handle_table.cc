// Handle values and their entries.
#include "platform/posix/handles/handle_table.h"

namespace orvik::posix {

HKEY HandleTable::Add(const KeyHandle& handle) {
  const uintptr_t value = next_;
  next_ += 4;
  handles_[value] = handle;
  return reinterpret_cast<HKEY>(value);
}

KeyHandle* HandleTable::Find(HKEY key) {
  if (auto it = handles_.find(Value(key)); it != handles_.end()) return &it->second;
  if (auto it = roots_.find(Value(key)); it != roots_.end()) return &it->second;
  return nullptr;
}

bool HandleTable::Remove(HKEY key) { return handles_.erase(Value(key)) > 0; }

void HandleTable::Clear() {
  handles_.clear();
  roots_.clear();
}

}  // namespace orvik::posix
