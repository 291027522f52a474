// The security cells of a hive image: one cell per descriptor, shared by the
// keys that carry it and counted, all of them in one ring (each cell's
// forward and backward links). A key takes a descriptor by sharing the cell
// that holds it, or a new cell linked in at the ring's end; a cell whose
// last key lets go of it leaves the ring and is freed, as Windows does.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "platform/posix/hive/hive_space.h"
#include "platform/posix/windows_api.h"

namespace orvik::posix::hive {

class SecurityCells {
 public:
  // `anchor`: a security cell of the ring (the root key's).
  SecurityCells(HiveSpace& space, uint32_t anchor) : space_(space), anchor_(anchor) {}

  // The cell of `descriptor` (self-relative), with one more reference.
  LONG Share(std::string_view descriptor, uint32_t* cell);
  // One reference less to the cell; at none it is freed.
  LONG Release(uint32_t cell);
  // The descriptor a cell holds.
  LONG Descriptor(uint32_t cell, std::string* descriptor) const;

 private:
  // The ring's cells by descriptor, read the first time they are needed.
  LONG ReadRing();
  LONG Links(uint32_t cell, uint32_t* next, uint32_t* previous) const;
  LONG SetLink(uint32_t cell, size_t field, uint32_t value);

  HiveSpace& space_;
  uint32_t anchor_;
  bool read_ = false;
  std::map<std::string, uint32_t, std::less<>> by_descriptor_;
};

}  // namespace orvik::posix::hive
