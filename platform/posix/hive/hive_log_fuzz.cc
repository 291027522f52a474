// libFuzzer target for the log reader and the replay: the input is two logs
// and a primary file (two 32-bit lengths, the logs, then the primary). Both
// logs are read, their replay over the primary planned, the recovered hive
// built and checked whole as a load checks it, and the replay written over
// a copy of the primary as a load writes it; a crash, a leak or a read
// outside the input is a fault.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/posix/hive/hive_check.h"
#include "platform/posix/hive/hive_format.h"
#include "platform/posix/hive/hive_log.h"
#include "platform/posix/hive/hive_reader.h"
#include "platform/posix/hive/hive_replay.h"

namespace {

using orvik::posix::hive::HiveLog;
using orvik::posix::hive::HiveReader;
using orvik::posix::hive::Load32;
using orvik::posix::hive::Replay;
using orvik::posix::hive::ReplayedHive;

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  size_t lengths[2] = {Load32(data), Load32(data + 4)};
  size_t at = 8;
  std::vector<HiveLog> logs;
  for (size_t& length : lengths) {
    length = std::min(length, size - at);
    HiveLog log;
    if (orvik::posix::hive::ReadHiveLog(data + at, length, &log) == ERROR_SUCCESS) {
      logs.push_back(std::move(log));
    }
    at += length;
  }
  const uint8_t* primary = data + at;
  const size_t primary_size = size - at;
  Replay replay;
  if (orvik::posix::hive::PlanReplay(primary, primary_size, logs, &replay) != ERROR_SUCCESS) {
    return 0;
  }
  const int fd = memfd_create("primary", MFD_CLOEXEC);
  if (fd < 0 || !WriteAll(fd, primary, primary_size)) {
    if (fd >= 0) close(fd);
    return 0;
  }
  std::unique_ptr<ReplayedHive> hive;
  if (ReplayedHive::Build(fd, replay, &hive) == ERROR_SUCCESS) {
    std::unique_ptr<HiveReader> reader;
    if (HiveReader::FromBytes(hive->data(), hive->size(), &reader) == ERROR_SUCCESS) {
      std::vector<orvik::posix::hive::HashRepair> repairs;
      orvik::posix::hive::CheckHiveTree(*reader, &repairs);
    }
  }
  orvik::posix::hive::ApplyReplay(replay, fd);
  close(fd);
  return 0;
}
