// A hive file and its logs, before the hive is read.
#include "platform/posix/hive/hive_recovery.h"
#include "platform/posix/file_errors.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/hive/hive_format.h"
#include "platform/posix/hive/hive_log_files.h"

namespace orvik::posix::hive {

namespace {

// The base block and the first bin's header, as far as the file has them.
size_t ReadHead(int fd, uint8_t* head, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = pread(fd, head + done, size - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

}  // namespace

LONG HiveRecovery::Prepare(int fd, const std::string& path) {
  needed_ = false;
  uint8_t head[kBaseBlockSize + kBinHeaderSize];
  const size_t size = ReadHead(fd, head, sizeof(head));
  // What is no hive, or not dirty, is for the reader to judge.
  if (size < kBaseBlockSize || !HasSignature(head, "regf") || !HiveIsDirty(head)) {
    return ERROR_SUCCESS;
  }
  bool damaged = false;
  for (const std::string& log_path : FindHiveLogs(path)) {
    std::vector<uint8_t> bytes;
    const LONG rc = ReadLogFile(log_path, &bytes);
    if (rc == ERROR_FILE_NOT_FOUND) continue;  // gone since it was listed
    if (rc == ERROR_REGISTRY_CORRUPT) {
      damaged = true;
      continue;
    }
    if (rc != ERROR_SUCCESS) return rc;
    if (bytes.empty()) continue;  // an empty log holds nothing
    files_.push_back(std::move(bytes));
    HiveLog log;
    if (ReadHiveLog(files_.back().data(), files_.back().size(), &log) != ERROR_SUCCESS) {
      damaged = true;
      continue;
    }
    logs_.push_back(std::move(log));
  }
  if (logs_.empty() && !damaged) return ERROR_SUCCESS;
  if (LONG rc = PlanReplay(head, size, logs_, &replay_); rc != ERROR_SUCCESS) return rc;
  needed_ = true;
  return ERROR_SUCCESS;
}

LONG OpenRecoveredHive(const std::string& path, RecoveredHive* hive) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return FileError(errno, path);
  HiveRecovery recovery;
  LONG rc = recovery.Prepare(fd, path);
  if (rc == ERROR_SUCCESS && recovery.needed()) {
    rc = ReplayedHive::Build(fd, recovery.replay(), &hive->replayed);
    if (rc == ERROR_SUCCESS) {
      rc = HiveReader::FromBytes(hive->replayed->data(), hive->replayed->size(), &hive->reader);
    }
  }
  close(fd);
  if (rc != ERROR_SUCCESS || hive->reader != nullptr) return rc;
  return HiveReader::Open(path, &hive->reader);
}

uint32_t HighestSequence(const std::string& hive_path) {
  uint32_t highest = 0;
  const int fd = open(hive_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    uint8_t head[kBaseBlockSize];
    if (ReadHead(fd, head, sizeof(head)) == sizeof(head) && HasSignature(head, "regf")) {
      highest =
          std::max(Load32(head + kPrimarySequenceOffset), Load32(head + kSecondarySequenceOffset));
    }
    close(fd);
  }
  for (const std::string& log_path : FindHiveLogs(hive_path)) {
    std::vector<uint8_t> bytes;
    HiveLog log;
    if (ReadLogFile(log_path, &bytes) != ERROR_SUCCESS ||
        ReadHiveLog(bytes.data(), bytes.size(), &log) != ERROR_SUCCESS) {
      continue;
    }
    highest = std::max(highest, log.sequence);
    for (const LogEntry& entry : log.entries) highest = std::max(highest, entry.sequence);
  }
  return highest;
}

}  // namespace orvik::posix::hive
