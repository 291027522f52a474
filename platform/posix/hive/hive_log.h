// Reads a hive's transaction log, in either format (hive_log_format.h), from
// its bytes. A log is untrusted input: its base block copy must be whole and
// valid (signature, checksum, a log's file type, equal sequence numbers, a
// size of bins that a hive may have), the old format's dirty vector and every
// page it counts must lie inside the file, and each entry of the new format
// must pass its two hashes and the checks of its sizes and page references
// before any of it is used. Entries are read up to the first one that fails:
// what follows it is not trusted (usually it is the space not yet written).
//
// The result points into the bytes, which the caller keeps while it is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/posix/windows_api.h"

namespace orvik::posix::hive {

enum class LogFormat { kOld, kNew };

// Bytes of a log to be written over the hive's bins at `offset` (from the
// first bin).
struct LogPages {
  uint32_t offset = 0;
  uint32_t size = 0;
  const uint8_t* bytes = nullptr;
};

// One entry of the new format.
struct LogEntry {
  uint32_t sequence = 0;
  uint32_t flags = 0;      // the base block's flags when it was written
  uint32_t bins_size = 0;  // the size of the hive's bins after it
  std::vector<LogPages> pages;
};

struct HiveLog {
  LogFormat format = LogFormat::kOld;
  // The base block copy: its first sector (kLogSectorSize bytes, from the
  // signature to the checksum and a little beyond).
  const uint8_t* base_block = nullptr;
  uint32_t sequence = 0;   // both of its sequence numbers
  uint64_t timestamp = 0;  // the hive's last-written time it was made for
  uint32_t bins_size = 0;  // the size of the hive's bins it describes
  // Old format: the dirty pages, runs of adjacent ones together.
  std::vector<LogPages> pages;
  // New format: the entries that passed their checks, in the file's order.
  std::vector<LogEntry> entries;
};

// ERROR_REGISTRY_CORRUPT for bytes that hold no usable log.
LONG ReadHiveLog(const uint8_t* data, size_t size, HiveLog* log);

}  // namespace orvik::posix::hive
