// The checked reader of a hive's transaction logs.
#include "platform/posix/hive/hive_log.h"

#include "platform/posix/hive/hive_format.h"
#include "platform/posix/hive/hive_log_format.h"
#include "platform/posix/hive/marvin32.h"

namespace orvik::posix::hive {

namespace {

constexpr LONG kCorrupt = ERROR_REGISTRY_CORRUPT;

bool BinsSizeFits(uint32_t bins_size) {
  return bins_size != 0 && bins_size % kBinAlignment == 0 && bins_size <= kMaxBinsSize;
}

// The base block copy and what it tells; the size of one sector of the log.
LONG ReadBaseBlock(const uint8_t* data, size_t size, HiveLog* log, size_t* sector) {
  if (size < kLogSectorSize || !HasSignature(data, "regf")) return kCorrupt;
  if (Load32(data + kChecksumOffset) != BaseBlockChecksum(data)) return kCorrupt;
  if (Load32(data + kMajorVersionOffset) != kMajorVersion ||
      Load32(data + kFileFormatOffset) != 1) {
    return kCorrupt;
  }
  const uint32_t type = Load32(data + kFileTypeOffset);
  if (type == kFileTypeOldLog) {
    log->format = LogFormat::kOld;
  } else if (type == kFileTypeNewLog) {
    log->format = LogFormat::kNew;
  } else {
    return kCorrupt;
  }
  // Equal sequence numbers: the log was written whole.
  log->sequence = Load32(data + kPrimarySequenceOffset);
  if (Load32(data + kSecondarySequenceOffset) != log->sequence) return kCorrupt;
  log->bins_size = Load32(data + kDataSizeOffset);
  if (!BinsSizeFits(log->bins_size)) return kCorrupt;
  const uint32_t clustering = Load32(data + kClusteringOffset);
  if (clustering == 0 || clustering > kMaxClusteringFactor) return kCorrupt;
  *sector = size_t{clustering} * kLogSectorSize;
  if (size < *sector) return kCorrupt;
  log->timestamp = Load64(data + kTimestampOffset);
  log->base_block = data;
  return ERROR_SUCCESS;
}

// The dirty vector from the second sector on, then the dirty pages from the
// sector after it, in the order of the vector's bits.
LONG ReadDirtyPages(const uint8_t* data, size_t size, size_t sector, HiveLog* log) {
  const size_t bits = log->bins_size / kDirtyPageSize;
  const size_t bitmap_bytes = (bits + 7) / 8;
  if (size - sector < kDirtyVectorBitmap + bitmap_bytes) return kCorrupt;
  const uint8_t* vector = data + sector;
  if (!HasSignature(vector, "DIRT")) return kCorrupt;
  const uint8_t* bitmap = vector + kDirtyVectorBitmap;
  const size_t vector_end = sector + kDirtyVectorBitmap + bitmap_bytes;
  size_t at = (vector_end + sector - 1) / sector * sector;
  for (size_t bit = 0; bit < bits;) {
    if ((bitmap[bit / 8] & (1u << (bit % 8))) == 0) {
      ++bit;
      continue;
    }
    size_t run = 0;
    while (bit + run < bits && (bitmap[(bit + run) / 8] & (1u << ((bit + run) % 8))) != 0) ++run;
    const size_t bytes = run * kDirtyPageSize;
    if (at > size || size - at < bytes) return kCorrupt;  // pages missing
    log->pages.push_back(
        {static_cast<uint32_t>(bit * kDirtyPageSize), static_cast<uint32_t>(bytes), data + at});
    at += bytes;
    bit += run;
  }
  return ERROR_SUCCESS;
}

// One entry at `data` (`room` bytes to the end of the file); false when it
// fails a check.
bool ReadEntry(const uint8_t* data, size_t room, LogEntry* entry, uint32_t* entry_size) {
  if (room < kEntryHeaderSize || !HasSignature(data, "HvLE")) return false;
  const uint32_t size = Load32(data + kEntrySizeOffset);
  if (size < kEntryHeaderSize || size % kLogSectorSize != 0 || size > room) return false;
  if (Marvin32(data, kEntryHash2Offset, kEntryHashSeed) != Load64(data + kEntryHash2Offset) ||
      Marvin32(data + kEntryHeaderSize, size - kEntryHeaderSize, kEntryHashSeed) !=
          Load64(data + kEntryHash1Offset)) {
    return false;
  }
  entry->sequence = Load32(data + kEntrySequenceOffset);
  entry->flags = Load32(data + kEntryFlagsOffset);
  entry->bins_size = Load32(data + kEntryBinsSizeOffset);
  if (!BinsSizeFits(entry->bins_size)) return false;
  const uint32_t count = Load32(data + kEntryPageCountOffset);
  const uint64_t references_end = kEntryHeaderSize + uint64_t{count} * kPageReferenceSize;
  if (references_end > size) return false;
  uint64_t at = references_end;
  entry->pages.clear();
  entry->pages.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* reference = data + kEntryHeaderSize + size_t{i} * kPageReferenceSize;
    const uint32_t offset = Load32(reference);
    const uint32_t page_size = Load32(reference + 4);
    if (page_size == 0 || offset % kLogSectorSize != 0 || page_size % kLogSectorSize != 0 ||
        page_size > entry->bins_size || offset > entry->bins_size - page_size ||
        page_size > size - at) {
      return false;
    }
    entry->pages.push_back({offset, page_size, data + at});
    at += page_size;
  }
  *entry_size = size;
  return true;
}

}  // namespace

LONG ReadHiveLog(const uint8_t* data, size_t size, HiveLog* log) {
  *log = HiveLog{};
  size_t sector = 0;
  if (LONG rc = ReadBaseBlock(data, size, log, &sector); rc != ERROR_SUCCESS) return rc;
  if (log->format == LogFormat::kOld) return ReadDirtyPages(data, size, sector, log);
  for (size_t at = sector; at < size;) {
    LogEntry entry;
    uint32_t entry_size = 0;
    if (!ReadEntry(data + at, size - at, &entry, &entry_size)) break;
    log->entries.push_back(std::move(entry));
    at += entry_size;
  }
  return ERROR_SUCCESS;
}

}  // namespace orvik::posix::hive
