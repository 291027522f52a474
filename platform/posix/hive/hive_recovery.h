// What a hive file that may be dirty needs before it is read: its base block,
// and when that marks it dirty, the logs beside it (hive_log_files.h), read
// (hive_log.h) and their replay planned (hive_replay.h). The hive file is
// never changed here.
//
// A clean hive needs nothing, whatever logs lie beside it. A dirty hive
// without logs (none there, or only empty ones) is read as it is: it is the
// best there is. A dirty hive whose logs give no recovery (damaged, missing
// parts, out of sequence, made for another hive) is refused with
// ERROR_REGISTRY_CORRUPT.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/hive/hive_log.h"
#include "platform/posix/hive/hive_reader.h"
#include "platform/posix/hive/hive_replay.h"
#include "platform/posix/windows_api.h"

namespace orvik::posix::hive {

class HiveRecovery {
 public:
  // `fd`: the hive file open for reading, found at `path`.
  LONG Prepare(int fd, const std::string& path);
  // Whether the hive is read through the replay of its logs.
  bool needed() const { return needed_; }
  // The replay; it points into the logs this object keeps.
  const Replay& replay() const { return replay_; }

 private:
  std::vector<std::vector<uint8_t>> files_;
  std::vector<HiveLog> logs_;
  Replay replay_;
  bool needed_ = false;
};

// A hive file opened for reading as it is once recovered: the hive built in
// memory through the replay of its logs when it needs one, else the file
// itself (HiveReader::Open).
struct RecoveredHive {
  std::unique_ptr<ReplayedHive> replayed;  // what the reader reads, if anything
  std::unique_ptr<HiveReader> reader;
};
LONG OpenRecoveredHive(const std::string& path, RecoveredHive* hive);

// The highest sequence number in the base block of the hive at `path` and in
// the logs beside it (0 when there is none): a hive written over it with a
// higher one is never the target of those logs' entries.
uint32_t HighestSequence(const std::string& hive_path);

}  // namespace orvik::posix::hive
