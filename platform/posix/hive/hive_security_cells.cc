// Security cells shared, counted and linked.
#include "platform/posix/hive/hive_security_cells.h"

#include <cstring>

#include "platform/posix/hive/hive_format.h"

namespace orvik::posix::hive {

namespace {

constexpr LONG kCorrupt = ERROR_REGISTRY_CORRUPT;

}  // namespace

LONG SecurityCells::Descriptor(uint32_t cell, std::string* descriptor) const {
  const uint8_t* p = nullptr;
  uint32_t size = 0;
  if (LONG rc = space_.Read(cell, kSkDescriptor, &p, &size); rc != ERROR_SUCCESS) return rc;
  if (!HasSignature(p, "sk")) return kCorrupt;
  const uint32_t length = Load32(p + kSkSize);
  if (length > size - kSkDescriptor) return kCorrupt;
  descriptor->assign(reinterpret_cast<const char*>(p + kSkDescriptor), length);
  return ERROR_SUCCESS;
}

LONG SecurityCells::Links(uint32_t cell, uint32_t* next, uint32_t* previous) const {
  const uint8_t* p = nullptr;
  uint32_t size = 0;
  if (LONG rc = space_.Read(cell, kSkDescriptor, &p, &size); rc != ERROR_SUCCESS) return rc;
  if (!HasSignature(p, "sk")) return kCorrupt;
  *next = Load32(p + kSkNext);
  *previous = Load32(p + kSkPrevious);
  return ERROR_SUCCESS;
}

LONG SecurityCells::SetLink(uint32_t cell, size_t field, uint32_t value) {
  uint8_t* p = nullptr;
  uint32_t size = 0;
  if (LONG rc = space_.Change(cell, kSkDescriptor, &p, &size); rc != ERROR_SUCCESS) return rc;
  Store32(p + field, value);
  return ERROR_SUCCESS;
}

LONG SecurityCells::ReadRing() {
  if (read_) return ERROR_SUCCESS;
  by_descriptor_.clear();
  // Each cell takes at least its header: a longer ring is a loop.
  const uint32_t most = space_.bins_size() / static_cast<uint32_t>(kSkDescriptor + 4) + 1;
  uint32_t cell = anchor_;
  uint32_t previous = kNoCell;
  std::string descriptor;
  for (uint32_t seen = 0;; ++seen) {
    if (seen >= most) return kCorrupt;
    uint32_t next = 0;
    uint32_t back = 0;
    if (LONG rc = Links(cell, &next, &back); rc != ERROR_SUCCESS) return rc;
    // The links must agree both ways, or no cell could be taken out safely.
    if (previous != kNoCell && back != previous) return kCorrupt;
    if (LONG rc = Descriptor(cell, &descriptor); rc != ERROR_SUCCESS) return rc;
    by_descriptor_.emplace(descriptor, cell);
    previous = cell;
    cell = next;
    if (cell == anchor_) break;
  }
  uint32_t next = 0;
  uint32_t back = 0;
  if (LONG rc = Links(anchor_, &next, &back); rc != ERROR_SUCCESS) return rc;
  if (back != previous) return kCorrupt;
  read_ = true;
  return ERROR_SUCCESS;
}

LONG SecurityCells::Share(std::string_view descriptor, uint32_t* cell) {
  if (LONG rc = ReadRing(); rc != ERROR_SUCCESS) return rc;
  uint8_t* p = nullptr;
  uint32_t size = 0;
  if (const auto found = by_descriptor_.find(descriptor); found != by_descriptor_.end()) {
    if (LONG rc = space_.Change(found->second, kSkDescriptor, &p, &size); rc != ERROR_SUCCESS) {
      return rc;
    }
    const uint32_t references = Load32(p + kSkReferences);
    if (references == UINT32_MAX) return kCorrupt;
    Store32(p + kSkReferences, references + 1);
    *cell = found->second;
    return ERROR_SUCCESS;
  }
  if (descriptor.size() > UINT32_MAX / 2) return ERROR_INVALID_PARAMETER;
  uint32_t made = 0;
  if (LONG rc = space_.Allocate(static_cast<uint32_t>(kSkDescriptor + descriptor.size()), &made);
      rc != ERROR_SUCCESS) {
    return rc;
  }
  // At the ring's end: before the anchor.
  uint32_t next = 0;
  uint32_t last = 0;
  if (LONG rc = Links(anchor_, &next, &last); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = space_.Change(made, kSkDescriptor, &p, &size); rc != ERROR_SUCCESS) return rc;
  std::memcpy(p, "sk", 2);
  Store32(p + kSkNext, anchor_);
  Store32(p + kSkPrevious, last);
  Store32(p + kSkReferences, 1);
  Store32(p + kSkSize, static_cast<uint32_t>(descriptor.size()));
  std::memcpy(p + kSkDescriptor, descriptor.data(), descriptor.size());
  if (LONG rc = SetLink(last, kSkNext, made); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = SetLink(anchor_, kSkPrevious, made); rc != ERROR_SUCCESS) return rc;
  by_descriptor_.emplace(std::string(descriptor), made);
  *cell = made;
  return ERROR_SUCCESS;
}

LONG SecurityCells::Release(uint32_t cell) {
  if (LONG rc = ReadRing(); rc != ERROR_SUCCESS) return rc;
  uint8_t* p = nullptr;
  uint32_t size = 0;
  if (LONG rc = space_.Change(cell, kSkDescriptor, &p, &size); rc != ERROR_SUCCESS) return rc;
  if (!HasSignature(p, "sk")) return kCorrupt;
  const uint32_t references = Load32(p + kSkReferences);
  if (references == 0) return kCorrupt;
  if (references > 1) {
    Store32(p + kSkReferences, references - 1);
    return ERROR_SUCCESS;
  }
  // The last key let go: out of the ring, and freed. The ring keeps at
  // least the root key's cell, which is never the last to go.
  uint32_t next = 0;
  uint32_t previous = 0;
  if (LONG rc = Links(cell, &next, &previous); rc != ERROR_SUCCESS) return rc;
  if (next == cell) return kCorrupt;
  if (LONG rc = SetLink(previous, kSkNext, next); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = SetLink(next, kSkPrevious, previous); rc != ERROR_SUCCESS) return rc;
  if (anchor_ == cell) anchor_ = next;
  std::string descriptor;
  if (LONG rc = Descriptor(cell, &descriptor); rc != ERROR_SUCCESS) return rc;
  if (const auto found = by_descriptor_.find(descriptor);
      found != by_descriptor_.end() && found->second == cell) {
    by_descriptor_.erase(found);
  }
  return space_.Free(cell);
}

}  // namespace orvik::posix::hive
