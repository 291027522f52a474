// Writes the new log format (hive_log_format.h) that Windows and LOAD
// replay: the log's copy of the base block and one entry of pages with its
// two Marvin32 hashes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/hive/hive_log.h"

namespace orvik::posix::hive {

// The log's first sectors (its clustering factor's count, from the base
// block): the base block's first sector as a new-format log's copy of it,
// both sequence numbers `sequence`, the checksum made again.
std::string NewLogBaseBlock(const uint8_t* base_block, uint32_t sequence);

// One entry: its header (sequence number, the base block's flags, the size
// of the bins after it, the count of page references and both hashes), the
// references and the pages, padded to the next 512-byte boundary.
std::string NewLogEntry(uint32_t sequence, uint32_t flags, uint32_t bins_size,
                        const std::vector<LogPages>& pages);

}  // namespace orvik::posix::hive
