// The replay of a dirty hive's logs.
#include "platform/posix/hive/hive_replay.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "platform/posix/hive/hive_log_format.h"

namespace orvik::posix::hive {

namespace {

// A clean primary base block from the first sector of `source`: the fields a
// log's copy carries, with the rest left empty.
void CleanBaseBlock(const uint8_t* source, uint32_t sequence, uint32_t bins_size, Replay* replay) {
  uint8_t* b = replay->base_block.data();
  std::memset(b, 0, kBaseBlockSize);
  std::memcpy(b, source, kLogSectorSize);
  Store32(b + kPrimarySequenceOffset, sequence);
  Store32(b + kSecondarySequenceOffset, sequence);
  Store32(b + kFileTypeOffset, kFileTypePrimary);
  Store32(b + kDataSizeOffset, bins_size);
  replay->bins_size = bins_size;
}

void SealBaseBlock(Replay* replay) {
  uint8_t* b = replay->base_block.data();
  Store32(b + kChecksumOffset, BaseBlockChecksum(b));
}

bool PlanNewFormat(const uint8_t* primary, bool base_valid, const std::vector<HiveLog>& logs,
                   Replay* replay) {
  std::vector<const HiveLog*> ordered;
  for (const HiveLog& log : logs) {
    if (log.format == LogFormat::kNew) ordered.push_back(&log);
  }
  if (ordered.empty()) return false;
  std::stable_sort(ordered.begin(), ordered.end(),
                   [](const HiveLog* a, const HiveLog* b) { return a->sequence < b->sequence; });
  // A damaged base block: the earliest log's copy stands for it.
  const uint8_t* base = base_valid ? primary : ordered.front()->base_block;
  const uint32_t expected = Load32(base + kSecondarySequenceOffset);
  std::map<uint32_t, const LogEntry*> by_sequence;
  for (const HiveLog* log : ordered) {
    for (const LogEntry& entry : log->entries) by_sequence.emplace(entry.sequence, &entry);
  }
  auto next = by_sequence.lower_bound(expected);
  if (next == by_sequence.end()) return false;
  const LogEntry* last = nullptr;
  replay->writes.clear();
  for (uint32_t sequence = next->first; next != by_sequence.end() && next->first == sequence;
       ++next, ++sequence) {
    last = next->second;
    replay->writes.insert(replay->writes.end(), last->pages.begin(), last->pages.end());
  }
  CleanBaseBlock(base, last->sequence, last->bins_size, replay);
  Store32(replay->base_block.data() + kFlagsOffset, last->flags);
  SealBaseBlock(replay);
  return true;
}

bool PlanOldFormat(const uint8_t* primary, size_t size, bool base_valid,
                   const std::vector<HiveLog>& logs, Replay* replay) {
  const uint64_t written = Load64(primary + kTimestampOffset);
  // The first bin keeps a copy of the time, for a base block that is damaged.
  uint64_t bin_written = written;
  if (!base_valid && size >= kBaseBlockSize + kBinHeaderSize &&
      HasSignature(primary + kBaseBlockSize, "hbin")) {
    bin_written = Load64(primary + kBaseBlockSize + kBinTimestampOffset);
  }
  for (const HiveLog& log : logs) {
    if (log.format != LogFormat::kOld) continue;
    if (log.timestamp != written && log.timestamp != bin_written) continue;
    CleanBaseBlock(log.base_block, log.sequence, log.bins_size, replay);
    SealBaseBlock(replay);
    replay->writes = log.pages;
    return true;
  }
  return false;
}

// The part of a write that falls inside the recovered bins.
bool Clip(const LogPages& write, uint32_t bins_size, uint32_t* size) {
  if (write.offset >= bins_size) return false;
  *size = std::min(write.size, bins_size - write.offset);
  return true;
}

LONG WriteAll(int fd, const uint8_t* bytes, size_t size, off_t offset) {
  while (size > 0) {
    const ssize_t n = pwrite(fd, bytes, size, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno == ENOSPC || errno == EDQUOT ? ERROR_DISK_FULL : ERROR_WRITE_FAULT;
    }
    bytes += n;
    size -= static_cast<size_t>(n);
    offset += n;
  }
  return ERROR_SUCCESS;
}

}  // namespace

bool HiveIsDirty(const uint8_t* base_block) {
  return Load32(base_block + kChecksumOffset) != BaseBlockChecksum(base_block) ||
         Load32(base_block + kPrimarySequenceOffset) !=
             Load32(base_block + kSecondarySequenceOffset);
}

LONG PlanReplay(const uint8_t* primary, size_t size, const std::vector<HiveLog>& logs,
                Replay* replay) {
  if (size < kBaseBlockSize) return ERROR_REGISTRY_CORRUPT;
  const bool base_valid = Load32(primary + kChecksumOffset) == BaseBlockChecksum(primary);
  if (PlanNewFormat(primary, base_valid, logs, replay)) return ERROR_SUCCESS;
  if (PlanOldFormat(primary, size, base_valid, logs, replay)) return ERROR_SUCCESS;
  return ERROR_REGISTRY_CORRUPT;
}

std::vector<uint32_t> ReplayedPages(const Replay& replay) {
  std::vector<uint32_t> pages;
  for (const LogPages& write : replay.writes) {
    uint32_t size = 0;
    if (!Clip(write, replay.bins_size, &size) || size == 0) continue;
    for (uint32_t page = write.offset / kBinAlignment;
         page <= (write.offset + size - 1) / kBinAlignment; ++page) {
      pages.push_back(page);
    }
  }
  std::sort(pages.begin(), pages.end());
  pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
  return pages;
}

LONG ApplyReplay(const Replay& replay, int fd) {
  for (const LogPages& write : replay.writes) {
    uint32_t size = 0;
    if (!Clip(write, replay.bins_size, &size)) continue;
    if (LONG rc = WriteAll(fd, write.bytes, size, off_t{kBaseBlockSize} + write.offset);
        rc != ERROR_SUCCESS) {
      return rc;
    }
  }
  if (LONG rc = WriteAll(fd, replay.base_block.data(), kBaseBlockSize, 0); rc != ERROR_SUCCESS) {
    return rc;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0) return ERROR_WRITE_FAULT;
  const off_t size = off_t{kBaseBlockSize} + replay.bins_size;
  if (info.st_size < size && ftruncate(fd, size) != 0) {
    return errno == ENOSPC || errno == EDQUOT ? ERROR_DISK_FULL : ERROR_WRITE_FAULT;
  }
  return ERROR_SUCCESS;
}

LONG ReplayedHive::Build(int fd, const Replay& replay, std::unique_ptr<ReplayedHive>* hive) {
  const size_t size = size_t{kBaseBlockSize} + replay.bins_size;
  void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (map == MAP_FAILED) return ERROR_NOT_ENOUGH_MEMORY;
  std::unique_ptr<ReplayedHive> built(new ReplayedHive);
  built->data_ = static_cast<uint8_t*>(map);
  built->size_ = size;
  // The primary's bytes, as far as the recovered hive reaches.
  for (size_t done = 0; done < size;) {
    const ssize_t n = pread(fd, built->data_ + done, size - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ERROR_READ_FAULT;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  for (const LogPages& write : replay.writes) {
    uint32_t clipped = 0;
    if (Clip(write, replay.bins_size, &clipped)) {
      std::memcpy(built->data_ + kBaseBlockSize + write.offset, write.bytes, clipped);
    }
  }
  std::memcpy(built->data_, replay.base_block.data(), kBaseBlockSize);
  *hive = std::move(built);
  return ERROR_SUCCESS;
}

ReplayedHive::~ReplayedHive() {
  if (data_ != nullptr) munmap(data_, size_);
}

}  // namespace orvik::posix::hive
