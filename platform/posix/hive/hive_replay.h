// The replay of a dirty hive's transaction logs, as Windows does it when it
// loads such a hive: which log, which of its pages and which base block give
// the recovered hive, and writing them over a copy of the primary file or
// into a hive built in memory.
//
// A hive is dirty when its base block's checksum is wrong or its two
// sequence numbers differ. Then:
// - new-format logs: taken in the order of their own sequence numbers (not
//   of their names), their entries are applied from the first one at or
//   after the primary's secondary sequence number, each continuing the one
//   before it (N, N+1, ...); the first gap ends the replay. A damaged primary
//   base block is replaced by that of the earliest log.
// - otherwise an old-format log made for this primary (the same last-written
//   time; for a damaged base block also the first bin's time) gives its base
//   block and its dirty pages.
// The recovered base block is clean: both sequence numbers are the last one
// applied, the checksum is right, the file type is the primary's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/posix/hive/hive_format.h"
#include "platform/posix/hive/hive_log.h"
#include "platform/posix/windows_api.h"

namespace orvik::posix::hive {

struct Replay {
  std::array<uint8_t, kBaseBlockSize> base_block{};
  uint32_t bins_size = 0;  // of the recovered hive
  // Written over the bins in this order, later ones over earlier ones; they
  // point into the logs' bytes.
  std::vector<LogPages> writes;
};

// `base_block`: kBaseBlockSize bytes with the signature "regf".
bool HiveIsDirty(const uint8_t* base_block);

// Plans the replay of `logs` over the primary file whose first `size` bytes
// are at `primary` (its base block, and the first bin's header when the file
// has one). ERROR_REGISTRY_CORRUPT when none of them gives a recovery.
LONG PlanReplay(const uint8_t* primary, size_t size, const std::vector<HiveLog>& logs,
                Replay* replay);

// The 4 KiB pages of the recovered bins that the replay writes, in order.
std::vector<uint32_t> ReplayedPages(const Replay& replay);

// Writes the replay over `fd`, a copy of the primary file open for reading
// and writing, and grows it to the recovered size.
LONG ApplyReplay(const Replay& replay, int fd);

// The recovered hive in memory: the primary file read from `fd`, the replay
// written over it. Pages that nothing writes take no memory.
class ReplayedHive {
 public:
  static LONG Build(int fd, const Replay& replay, std::unique_ptr<ReplayedHive>* hive);
  ~ReplayedHive();
  ReplayedHive(const ReplayedHive&) = delete;
  ReplayedHive& operator=(const ReplayedHive&) = delete;
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  ReplayedHive() = default;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace orvik::posix::hive
