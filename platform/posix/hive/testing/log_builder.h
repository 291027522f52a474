// For tests: transaction logs built in memory, in both formats, for hives
// that the writer makes; and the small edits that make a hive dirty.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvik::posix::hive::test {

// One entry of a new-format log: pages are bins (offset from the first bin,
// bytes) written after the hive's bins are `bins_size` long.
struct EntrySpec {
  uint32_t sequence = 0;
  uint32_t bins_size = 0;
  std::vector<std::pair<uint32_t, std::string>> pages;
};

// The entry's bytes with both hashes, padded to its 512-byte boundary.
std::string LogEntryBytes(const EntrySpec& entry);

// A new-format log: the base block of `hive` as a log's copy with both
// sequence numbers `sequence`, then the entries.
std::string NewFormatLog(const std::string& hive, uint32_t sequence,
                         const std::vector<EntrySpec>& entries);

// An old-format log that turns a primary last written at `timestamp` into
// `target`: target's base block as the log's copy, and a dirty vector with
// the 512-byte pages of target's bins whose indices are listed.
std::string OldFormatLog(const std::string& target, uint64_t timestamp, uint32_t sequence,
                         const std::vector<uint32_t>& dirty_pages);

// The bins of a whole hive file.
std::string Bins(const std::string& hive);

// Sets the base block's sequence numbers (and its time when given), with the
// checksum made right again.
void SetSequences(std::string* hive, uint32_t primary, uint32_t secondary);
void SetTimestamp(std::string* hive, uint64_t timestamp);
// Makes the base block's checksum wrong.
void SpoilChecksum(std::string* hive);

}  // namespace orvik::posix::hive::test
