// A hive written over its file in place, through its log.
#include "platform/posix/hive/hive_in_place.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/posix/hive/hive_log_files.h"
#include "platform/posix/hive/hive_log_format.h"
#include "platform/posix/hive/hive_log_writer.h"
#include "platform/posix/hive/hive_replay.h"

namespace orvik::posix::hive {

namespace {

void SetSequences(std::array<uint8_t, kBaseBlockSize>* base, uint32_t primary, uint32_t secondary) {
  uint8_t* b = base->data();
  Store32(b + kPrimarySequenceOffset, primary);
  Store32(b + kSecondarySequenceOffset, secondary);
  Store32(b + kChecksumOffset, BaseBlockChecksum(b));
}

LONG WriteFault() {
  return errno == ENOSPC || errno == EDQUOT ? ERROR_DISK_FULL : ERROR_WRITE_FAULT;
}

LONG WriteAll(int fd, const uint8_t* bytes, size_t size, uint64_t offset) {
  while (size > 0) {
    const ssize_t n = pwrite(fd, bytes, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return WriteFault();
    }
    bytes += n;
    size -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return ERROR_SUCCESS;
}

LONG Sync(int fd) { return fdatasync(fd) == 0 ? ERROR_SUCCESS : WriteFault(); }

LONG WritePages(int fd, const std::vector<LogPages>& pages) {
  for (const LogPages& run : pages) {
    if (LONG rc = WriteAll(fd, run.bytes, run.size, uint64_t{kBaseBlockSize} + run.offset);
        rc != ERROR_SUCCESS) {
      return rc;
    }
  }
  return ERROR_SUCCESS;
}

LONG ReadBaseBlock(int fd, std::array<uint8_t, kBaseBlockSize>* base) {
  ssize_t n = 0;
  do {
    n = pread(fd, base->data(), base->size(), 0);
  } while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(base->size()) && HasSignature(base->data(), "regf")
             ? ERROR_SUCCESS
             : ERROR_NOT_SUPPORTED;
}

// A log beside the hive, as it is now.
struct LogFile {
  std::string name;
  bool present = false;  // a file of that name is there
  bool usable = false;   // a regular file of one name and the hive's owner
};

bool Usable(const struct stat& log, const struct stat& hive) {
  return S_ISREG(log.st_mode) && log.st_nlink == 1 && log.st_uid == hive.st_uid &&
         log.st_dev == hive.st_dev;
}

// Whether the log `name` may be written, and the highest sequence number in
// it.
LogFile InspectLog(int directory, const std::string& name, const struct stat& hive,
                   uint32_t* highest) {
  LogFile log;
  log.name = name;
  if (name.empty()) return log;
  const int fd = openat(directory, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    // A link, or something that cannot be opened, is there all the same.
    log.present = errno != ENOENT;
    return log;
  }
  log.present = true;
  struct stat info {};
  if (fstat(fd, &info) == 0 && Usable(info, hive)) {
    log.usable = true;
    std::vector<uint8_t> bytes(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n =
          pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    HiveLog parsed;
    if (ReadHiveLog(bytes.data(), bytes.size(), &parsed) == ERROR_SUCCESS) {
      *highest = std::max(*highest, parsed.sequence);
      for (const LogEntry& entry : parsed.entries) *highest = std::max(*highest, entry.sequence);
    }
  }
  close(fd);
  return log;
}

// Opens the log `name` for writing, making it when `make`.
LONG OpenLog(int directory, const std::string& name, bool make, const struct stat& hive, int* fd) {
  if (!make) {
    *fd = openat(directory, name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (*fd < 0) return ERROR_NOT_SUPPORTED;
    struct stat info {};
    // Checked again on the file opened: the name may lead elsewhere now.
    if (fstat(*fd, &info) != 0 || !Usable(info, hive)) {
      close(*fd);
      return ERROR_NOT_SUPPORTED;
    }
    return ERROR_SUCCESS;
  }
  const mode_t mode = hive.st_mode & 0666;
  *fd = openat(directory, name.c_str(),
               O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
  if (*fd < 0) return errno == ENOSPC || errno == EDQUOT ? ERROR_DISK_FULL : ERROR_NOT_SUPPORTED;
  // The log holds the hive's data: it belongs to whoever owns the hive and
  // is no more readable than the hive.
  if ((geteuid() == 0 && fchown(*fd, hive.st_uid, hive.st_gid) != 0) || fchmod(*fd, mode) != 0) {
    close(*fd);
    unlinkat(directory, name.c_str(), 0);
    return ERROR_NOT_SUPPORTED;
  }
  return ERROR_SUCCESS;
}

}  // namespace

LONG RecoverInPlace(const HiveFile& file, const RecoveredState& recovered) {
  std::array<uint8_t, kBaseBlockSize> current{};
  if (ReadBaseBlock(file.fd, &current) != ERROR_SUCCESS) return ERROR_READ_FAULT;
  if (!HiveIsDirty(current.data())) return ERROR_SUCCESS;
  if (LONG rc = WritePages(file.fd, recovered.pages); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = Sync(file.fd); rc != ERROR_SUCCESS) return rc;
  std::array<uint8_t, kBaseBlockSize> base = recovered.base_block;
  const uint32_t sequence = std::max(Load32(base.data() + kPrimarySequenceOffset),
                                     Load32(base.data() + kSecondarySequenceOffset));
  SetSequences(&base, sequence, sequence);
  if (LONG rc = WriteAll(file.fd, base.data(), kBaseBlockSize, 0); rc != ERROR_SUCCESS) return rc;
  return Sync(file.fd);
}

LONG PlanInPlaceWrite(const HiveFile& file, const HiveChanges& changes, InPlaceWrite* plan) {
  struct stat hive {};
  if (fstat(file.fd, &hive) != 0 || !S_ISREG(hive.st_mode)) return ERROR_NOT_SUPPORTED;
  std::array<uint8_t, kBaseBlockSize> current{};
  if (ReadBaseBlock(file.fd, &current) != ERROR_SUCCESS || HiveIsDirty(current.data())) {
    return ERROR_NOT_SUPPORTED;
  }
  uint32_t highest = Load32(current.data() + kPrimarySequenceOffset);
  const HiveLogNames names = FindHiveLogNames(file.directory, file.name);
  // LOG is read for its sequence numbers only; LOG1 or LOG2 is written. A
  // clean file needs none of them.
  InspectLog(file.directory, names.log, hive, &highest);
  const LogFile candidates[] = {
      InspectLog(file.directory, names.log1.empty() ? file.name + ".LOG1" : names.log1, hive,
                 &highest),
      InspectLog(file.directory, names.log2.empty() ? file.name + ".LOG2" : names.log2, hive,
                 &highest)};
  // Two above the highest: no entry there is followed by the new one.
  if (highest > UINT32_MAX - 4) return ERROR_NOT_SUPPORTED;
  const uint32_t sequence = highest + 2;
  const LogFile* chosen = nullptr;
  for (const LogFile& log : candidates) {
    if (!log.present || log.usable) {
      chosen = &log;
      break;
    }
  }
  if (chosen == nullptr) return ERROR_NOT_SUPPORTED;

  *plan = InPlaceWrite{};
  plan->sequence = sequence;
  plan->log_name = chosen->name;
  plan->log_made = !chosen->present;
  const uint8_t* base = changes.base_block.data();
  plan->log =
      NewLogBaseBlock(base, sequence) + NewLogEntry(sequence, Load32(base + kFlagsOffset),
                                                    Load32(base + kDataSizeOffset), changes.pages);
  plan->dirty_base = changes.base_block;
  SetSequences(&plan->dirty_base, sequence + 1, sequence);
  plan->pages = changes.pages;
  plan->clean_base = changes.base_block;
  SetSequences(&plan->clean_base, sequence + 1, sequence + 1);
  return ERROR_SUCCESS;
}

std::vector<std::vector<FileWrite>> InPlaceSteps(const InPlaceWrite& plan) {
  std::vector<std::vector<FileWrite>> steps(4);
  steps[0].push_back({true, 0, reinterpret_cast<const uint8_t*>(plan.log.data()), plan.log.size()});
  steps[1].push_back({false, 0, plan.dirty_base.data(), kBaseBlockSize});
  for (const LogPages& run : plan.pages) {
    steps[2].push_back({false, uint64_t{kBaseBlockSize} + run.offset, run.bytes, run.size});
  }
  steps[3].push_back({false, 0, plan.clean_base.data(), kBaseBlockSize});
  return steps;
}

LONG ExecuteInPlaceWrite(const HiveFile& file, const InPlaceWrite& plan) {
  struct stat hive {};
  if (fstat(file.fd, &hive) != 0) return ERROR_NOT_SUPPORTED;
  int log = -1;
  if (LONG rc = OpenLog(file.directory, plan.log_name, plan.log_made, hive, &log);
      rc != ERROR_SUCCESS) {
    return rc;
  }
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{log};
  for (const std::vector<FileWrite>& step : InPlaceSteps(plan)) {
    bool log_step = false;
    for (const FileWrite& write : step) {
      log_step = write.to_log;
      if (LONG rc = WriteAll(write.to_log ? log : file.fd, write.bytes, write.size, write.offset);
          rc != ERROR_SUCCESS) {
        return rc;
      }
    }
    if (!log_step) {
      if (LONG rc = Sync(file.fd); rc != ERROR_SUCCESS) return rc;
      continue;
    }
    // Nothing of an older entry is left after the new one; a log made now
    // is found after a crash only once its name is durable.
    if (ftruncate(log, static_cast<off_t>(plan.log.size())) != 0) return WriteFault();
    if (LONG rc = Sync(log); rc != ERROR_SUCCESS) return rc;
    // A file system that cannot sync a folder says so (EINVAL); its names
    // are then as durable as it makes them.
    if (plan.log_made && fsync(file.directory) != 0 && errno != EINVAL) return WriteFault();
  }
  return ERROR_SUCCESS;
}

LONG WriteHiveInPlace(const HiveFile& file, const HiveChanges& changes) {
  InPlaceWrite plan;
  if (LONG rc = PlanInPlaceWrite(file, changes, &plan); rc != ERROR_SUCCESS) return rc;
  return ExecuteInPlaceWrite(file, plan);
}

}  // namespace orvik::posix::hive
