// Logs built in memory, for tests.
#include "platform/posix/hive/testing/log_builder.h"

#include <cstring>

#include "platform/posix/hive/hive_format.h"
#include "platform/posix/hive/hive_log_format.h"
#include "platform/posix/hive/hive_log_writer.h"

namespace orvik::posix::hive::test {

namespace {

uint8_t* Bytes(std::string* s, size_t at = 0) { return reinterpret_cast<uint8_t*>(s->data()) + at; }

void Seal(std::string* base) {
  Store32(Bytes(base, kChecksumOffset), BaseBlockChecksum(Bytes(base)));
}

std::string LogBaseBlock(const std::string& hive, uint32_t type, uint32_t sequence) {
  std::string base = hive.substr(0, kLogSectorSize);
  Store32(Bytes(&base, kFileTypeOffset), type);
  Store32(Bytes(&base, kPrimarySequenceOffset), sequence);
  Store32(Bytes(&base, kSecondarySequenceOffset), sequence);
  Seal(&base);
  return base;
}

}  // namespace

std::string LogEntryBytes(const EntrySpec& entry) {
  std::vector<LogPages> pages;
  for (const auto& [offset, bytes] : entry.pages) {
    pages.push_back({offset, static_cast<uint32_t>(bytes.size()),
                     reinterpret_cast<const uint8_t*>(bytes.data())});
  }
  return NewLogEntry(entry.sequence, 0, entry.bins_size, pages);
}

std::string NewFormatLog(const std::string& hive, uint32_t sequence,
                         const std::vector<EntrySpec>& entries) {
  std::string log = LogBaseBlock(hive, kFileTypeNewLog, sequence);
  for (const EntrySpec& entry : entries) log += LogEntryBytes(entry);
  return log;
}

std::string OldFormatLog(const std::string& target, uint64_t timestamp, uint32_t sequence,
                         const std::vector<uint32_t>& dirty_pages) {
  std::string log = LogBaseBlock(target, kFileTypeOldLog, sequence);
  Store64(Bytes(&log, kTimestampOffset), timestamp);
  Seal(&log);
  const uint32_t bins_size =
      Load32(reinterpret_cast<const uint8_t*>(target.data()) + kDataSizeOffset);
  std::string vector = "DIRT" + std::string((bins_size / kDirtyPageSize + 7) / 8, '\0');
  for (const uint32_t page : dirty_pages) {
    vector[kDirtyVectorBitmap + page / 8] =
        static_cast<char>(vector[kDirtyVectorBitmap + page / 8] | (1 << (page % 8)));
  }
  vector.resize((vector.size() + kLogSectorSize - 1) / kLogSectorSize * kLogSectorSize, '\0');
  log += vector;
  // The pages in the order of their bits.
  for (uint32_t page = 0; page < bins_size / kDirtyPageSize; ++page) {
    if ((vector[kDirtyVectorBitmap + page / 8] & (1 << (page % 8))) != 0) {
      log += target.substr(kBaseBlockSize + size_t{page} * kDirtyPageSize, kDirtyPageSize);
    }
  }
  return log;
}

std::string Bins(const std::string& hive) { return hive.substr(kBaseBlockSize); }

void SetSequences(std::string* hive, uint32_t primary, uint32_t secondary) {
  Store32(Bytes(hive, kPrimarySequenceOffset), primary);
  Store32(Bytes(hive, kSecondarySequenceOffset), secondary);
  Seal(hive);
}

void SetTimestamp(std::string* hive, uint64_t timestamp) {
  Store64(Bytes(hive, kTimestampOffset), timestamp);
  Seal(hive);
}

void SpoilChecksum(std::string* hive) { (*hive)[kChecksumOffset] ^= 0x55; }

}  // namespace orvik::posix::hive::test
