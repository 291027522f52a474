// New-format logs written.
#include "platform/posix/hive/hive_log_writer.h"

#include <cstring>

#include "platform/posix/hive/hive_format.h"
#include "platform/posix/hive/hive_log_format.h"
#include "platform/posix/hive/marvin32.h"

namespace orvik::posix::hive {

namespace {

uint8_t* At(std::string& bytes, size_t offset) {
  return reinterpret_cast<uint8_t*>(bytes.data()) + offset;
}

size_t RoundUp(size_t size, size_t unit) { return (size + unit - 1) / unit * unit; }

}  // namespace

std::string NewLogBaseBlock(const uint8_t* base_block, uint32_t sequence) {
  uint32_t clustering = Load32(base_block + kClusteringOffset);
  if (clustering == 0 || clustering > kMaxClusteringFactor) clustering = 1;
  std::string log(size_t{clustering} * kLogSectorSize, '\0');
  std::memcpy(log.data(), base_block, kLogSectorSize);
  Store32(At(log, kFileTypeOffset), kFileTypeNewLog);
  Store32(At(log, kClusteringOffset), clustering);
  Store32(At(log, kPrimarySequenceOffset), sequence);
  Store32(At(log, kSecondarySequenceOffset), sequence);
  Store32(At(log, kChecksumOffset), BaseBlockChecksum(At(log, 0)));
  return log;
}

std::string NewLogEntry(uint32_t sequence, uint32_t flags, uint32_t bins_size,
                        const std::vector<LogPages>& pages) {
  size_t size = kEntryHeaderSize + pages.size() * kPageReferenceSize;
  for (const LogPages& page : pages) size += page.size;
  std::string entry(RoundUp(size, kLogSectorSize), '\0');
  std::memcpy(entry.data(), "HvLE", 4);
  Store32(At(entry, kEntrySizeOffset), static_cast<uint32_t>(entry.size()));
  Store32(At(entry, kEntryFlagsOffset), flags);
  Store32(At(entry, kEntrySequenceOffset), sequence);
  Store32(At(entry, kEntryBinsSizeOffset), bins_size);
  Store32(At(entry, kEntryPageCountOffset), static_cast<uint32_t>(pages.size()));
  size_t reference = kEntryHeaderSize;
  size_t data = kEntryHeaderSize + pages.size() * kPageReferenceSize;
  for (const LogPages& page : pages) {
    Store32(At(entry, reference), page.offset);
    Store32(At(entry, reference + 4), page.size);
    std::memcpy(At(entry, data), page.bytes, page.size);
    reference += kPageReferenceSize;
    data += page.size;
  }
  // The first hash covers what follows the header; the second the header
  // up to it, the first included.
  Store64(At(entry, kEntryHash1Offset),
          Marvin32(At(entry, kEntryHeaderSize), entry.size() - kEntryHeaderSize, kEntryHashSeed));
  Store64(At(entry, kEntryHash2Offset), Marvin32(At(entry, 0), kEntryHash2Offset, kEntryHashSeed));
  return entry;
}

}  // namespace orvik::posix::hive
