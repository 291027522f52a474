// The time now as a FILETIME number, and a file's last status change.
#include "platform/posix/file_time.h"

#include <ctime>

namespace orvik::posix {

int64_t NowAsFileTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  constexpr int64_t kEpochDifference = 116444736000000000LL;  // 1601 to 1970 in 100 ns
  return kEpochDifference + static_cast<int64_t>(now.tv_sec) * 10000000 + now.tv_nsec / 100;
}

int64_t ChangeTime(const struct stat& info) {
  return static_cast<int64_t>(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
}

}  // namespace orvik::posix
