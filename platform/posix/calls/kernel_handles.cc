// The table of kernel-object handles and CloseHandle.
#include "platform/posix/calls/kernel_handles.h"

#include <cstdint>
#include <map>

namespace orvik::posix {

namespace {

struct KernelTable {
  std::map<uintptr_t, std::unique_ptr<KernelObject>> objects;
  uintptr_t next = 0x1000;  // far from the pseudo handles near the top
};

KernelTable& Table() {
  static KernelTable table;
  return table;
}

}  // namespace

HANDLE AddKernelObject(std::unique_ptr<KernelObject> object) {
  KernelTable& table = Table();
  const uintptr_t value = table.next;
  table.next += 4;  // handle values are multiples of four, as on Windows
  table.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

KernelObject* FindKernelObject(HANDLE handle) {
  KernelTable& table = Table();
  const auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
  return it == table.objects.end() ? nullptr : it->second.get();
}

}  // namespace orvik::posix

BOOL CloseHandle(HANDLE hObject) {
  // Pseudo handles (the current process's, for one) need no closing.
  if (reinterpret_cast<intptr_t>(hObject) < 0) return TRUE;
  auto& objects = orvik::posix::Table().objects;
  const auto it = objects.find(reinterpret_cast<uintptr_t>(hObject));
  if (it == objects.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  objects.erase(it);
  return TRUE;
}
