// Values' data stored and freed in a hive image.
#include "platform/posix/hive/hive_value_data.h"

#include <cstring>
#include <vector>

#include "platform/posix/hive/hive_format.h"

namespace orvik::posix::hive {

namespace {

constexpr LONG kCorrupt = ERROR_REGISTRY_CORRUPT;

bool IsInline(const DataPlace& place) { return (place.size_word & kDataInline) != 0; }
uint32_t SizeOf(const DataPlace& place) { return place.size_word & ~kDataInline; }
bool IsBig(uint32_t minor_version, uint32_t size) {
  return minor_version >= 4 && size > kBigDataThreshold;
}

LONG Fill(HiveSpace& space, uint32_t cell, std::string_view bytes) {
  uint8_t* p = nullptr;
  uint32_t size = 0;
  if (LONG rc = space.Change(cell, static_cast<uint32_t>(bytes.size()), &p, &size);
      rc != ERROR_SUCCESS) {
    return rc;
  }
  std::memcpy(p, bytes.data(), bytes.size());
  return ERROR_SUCCESS;
}

LONG StoreBig(HiveSpace& space, std::string_view data, uint32_t* cell) {
  const size_t count = (data.size() + kBigDataThreshold - 1) / kBigDataThreshold;
  if (count > 0xFFFF) return ERROR_INVALID_PARAMETER;
  std::vector<uint32_t> segments(count);
  for (size_t i = 0; i < count; ++i) {
    // Every segment full-sized, the last one too, as Windows lays them out.
    if (LONG rc = space.Allocate(kBigDataThreshold, &segments[i]); rc != ERROR_SUCCESS) return rc;
    if (LONG rc = Fill(space, segments[i], data.substr(i * kBigDataThreshold, kBigDataThreshold));
        rc != ERROR_SUCCESS) {
      return rc;
    }
  }
  uint32_t list = 0;
  if (LONG rc = space.Allocate(static_cast<uint32_t>(count * 4), &list); rc != ERROR_SUCCESS) {
    return rc;
  }
  uint8_t* p = nullptr;
  uint32_t size = 0;
  if (LONG rc = space.Change(list, static_cast<uint32_t>(count * 4), &p, &size);
      rc != ERROR_SUCCESS) {
    return rc;
  }
  for (size_t i = 0; i < count; ++i) Store32(p + 4 * i, segments[i]);
  if (LONG rc = space.Allocate(kDbSize, cell); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = space.Change(*cell, kDbSize, &p, &size); rc != ERROR_SUCCESS) return rc;
  std::memcpy(p, "db", 2);
  Store16(p + kDbCount, static_cast<uint16_t>(count));
  Store32(p + kDbList, list);
  return ERROR_SUCCESS;
}

}  // namespace

LONG StoreValueData(HiveSpace& space, uint32_t minor_version, std::string_view data,
                    const DataPlace* old, DataPlace* placed) {
  if (data.size() >= kDataInline) return ERROR_INVALID_PARAMETER;
  const auto size = static_cast<uint32_t>(data.size());
  if (size <= kMaxInlineData) {
    uint8_t bytes[4] = {0, 0, 0, 0};
    std::memcpy(bytes, data.data(), size);
    *placed = DataPlace{size | kDataInline, Load32(bytes)};
  } else if (IsBig(minor_version, size)) {
    placed->size_word = size;
    if (LONG rc = StoreBig(space, data, &placed->data_word); rc != ERROR_SUCCESS) return rc;
  } else {
    // The cell the data had, when it was one cell and the new data fits.
    const bool reuse = old != nullptr && !IsInline(*old) && SizeOf(*old) > 0 &&
                       !IsBig(minor_version, SizeOf(*old));
    const uint8_t* p = nullptr;
    uint32_t room = 0;
    if (reuse && space.Read(old->data_word, 0, &p, &room) == ERROR_SUCCESS && room >= size) {
      if (LONG rc = Fill(space, old->data_word, data); rc != ERROR_SUCCESS) return rc;
      *placed = DataPlace{size, old->data_word};
      return ERROR_SUCCESS;
    }
    placed->size_word = size;
    if (LONG rc = space.Allocate(size, &placed->data_word); rc != ERROR_SUCCESS) return rc;
    if (LONG rc = Fill(space, placed->data_word, data); rc != ERROR_SUCCESS) return rc;
  }
  return old != nullptr ? FreeValueData(space, minor_version, *old) : ERROR_SUCCESS;
}

LONG FreeValueData(HiveSpace& space, uint32_t minor_version, const DataPlace& place) {
  const uint32_t size = SizeOf(place);
  if (IsInline(place) || size == 0) return ERROR_SUCCESS;
  if (!IsBig(minor_version, size)) return space.Free(place.data_word);
  const uint8_t* p = nullptr;
  uint32_t room = 0;
  if (LONG rc = space.Read(place.data_word, kDbSize, &p, &room); rc != ERROR_SUCCESS) return rc;
  if (!HasSignature(p, "db")) return kCorrupt;
  const uint32_t count = Load16(p + kDbCount);
  const uint32_t list = Load32(p + kDbList);
  const uint8_t* entries = nullptr;
  if (LONG rc = space.Read(list, count * 4, &entries, &room); rc != ERROR_SUCCESS) return rc;
  std::vector<uint32_t> segments(count);
  for (uint32_t i = 0; i < count; ++i) segments[i] = Load32(entries + 4 * i);
  for (const uint32_t segment : segments) {
    if (LONG rc = space.Free(segment); rc != ERROR_SUCCESS) return rc;
  }
  if (LONG rc = space.Free(list); rc != ERROR_SUCCESS) return rc;
  return space.Free(place.data_word);
}

}  // namespace orvik::posix::hive
