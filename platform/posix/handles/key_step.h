// Access rights and the frame of every registry call on a key handle:
// resolve the handle, check its rights, begin a step on its tree, and make
// sure the key still exists.
#pragma once

#include "platform/posix/handles/handle_table.h"
#include "platform/posix/loaded/registry_tree.h"
#include "platform/posix/windows_api.h"

namespace orvik::posix {

// The rights that change the registry.
constexpr REGSAM kWriteRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;

// Maps generic rights and MAXIMUM_ALLOWED to key rights and checks them
// against the store: ERROR_ACCESS_DENIED when write rights are asked of a
// store this process may not write.
LONG GrantAccess(REGSAM desired, bool writable, REGSAM* granted);

class KeyStep {
 public:
  enum Mode {
    kRead,
    kWrite,
    kWriteWhenWritable,  // a write step when the store may be written, else a read step
  };

  KeyStep() = default;
  ~KeyStep() { Finish(ERROR_FUNCTION_FAILED); }
  KeyStep(const KeyStep&) = delete;
  KeyStep& operator=(const KeyStep&) = delete;

  // ERROR_INVALID_HANDLE for an unknown handle, ERROR_ACCESS_DENIED when it
  // lacks `needed`, ERROR_KEY_DELETED when its key is gone.
  LONG Start(HKEY key, REGSAM needed, Mode mode);
  // Ends the step, keeping its changes when `result` is ERROR_SUCCESS.
  // Returns `result`, or the error that kept the changes from being kept.
  LONG Finish(LONG result);

  KeyHandle& handle() { return *handle_; }
  RegistryTree& tree() { return *handle_->tree; }
  HandleTable& handles() { return *handles_; }
  uint64_t stamp() const { return stamp_; }
  bool writing() const { return writing_; }

 private:
  HandleTable* handles_ = nullptr;
  KeyHandle* handle_ = nullptr;
  uint64_t stamp_ = 0;
  bool open_ = false;
  bool writing_ = false;
};

}  // namespace orvik::posix
