// A hive image compared with its file, page by page.
#include "platform/posix/hive/hive_file_diff.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/posix/hive/hive_format.h"

namespace orvik::posix::hive {

LONG DiffWithFile(const HiveImage& image, int fd, std::vector<uint32_t> candidates,
                  HiveChanges* changes) {
  changes->pages.clear();
  std::memcpy(changes->base_block.data(), image.data(), kBaseBlockSize);
  const uint32_t bins_size = Load32(image.data() + kDataSizeOffset);
  if (bins_size % kBinAlignment != 0 || size_t{kBaseBlockSize} + bins_size > image.size()) {
    return ERROR_REGISTRY_CORRUPT;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0) return ERROR_READ_FAULT;
  const uint32_t pages = bins_size / kBinAlignment;
  // Pages the file holds whole; every page after them is written.
  const uint64_t held = info.st_size > static_cast<off_t>(kBaseBlockSize)
                            ? (static_cast<uint64_t>(info.st_size) - kBaseBlockSize) / kBinAlignment
                            : 0;
  for (uint64_t page = std::min<uint64_t>(held, pages); page < pages; ++page) {
    candidates.push_back(static_cast<uint32_t>(page));
  }
  std::sort(candidates.begin(), candidates.end());
  candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
  uint8_t page_bytes[kBinAlignment];
  for (const uint32_t page : candidates) {
    if (page >= pages) break;
    const uint8_t* mine = image.data() + kBaseBlockSize + size_t{page} * kBinAlignment;
    bool differs = page >= held;
    if (!differs) {
      const off_t at = static_cast<off_t>(kBaseBlockSize + uint64_t{page} * kBinAlignment);
      ssize_t n = 0;
      do {
        n = pread(fd, page_bytes, sizeof page_bytes, at);
      } while (n < 0 && errno == EINTR);
      if (n < 0) return ERROR_READ_FAULT;
      differs = n != static_cast<ssize_t>(sizeof page_bytes) ||
                std::memcmp(page_bytes, mine, sizeof page_bytes) != 0;
    }
    if (!differs) continue;
    const uint32_t offset = page * kBinAlignment;
    if (!changes->pages.empty() &&
        changes->pages.back().offset + changes->pages.back().size == offset) {
      changes->pages.back().size += kBinAlignment;
    } else {
      changes->pages.push_back({offset, kBinAlignment, mine});
    }
  }
  return ERROR_SUCCESS;
}

}  // namespace orvik::posix::hive
