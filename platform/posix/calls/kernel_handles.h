// The process's handles to kernel objects other than registry keys: started
// processes, access tokens. Each kind of object derives from KernelObject;
// CloseHandle releases any of them.
#pragma once

#include <memory>

#include "platform/posix/windows_api.h"

namespace orvik::posix {

class KernelObject {
 public:
  virtual ~KernelObject() = default;
};

// Takes the object and returns a new handle to it.
HANDLE AddKernelObject(std::unique_ptr<KernelObject> object);
// The object behind `handle`, or nullptr when the handle is not open.
KernelObject* FindKernelObject(HANDLE handle);

}  // namespace orvik::posix
