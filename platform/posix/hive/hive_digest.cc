// A digest of a hive file's bins: two 64-bit FNV-1a sums with different
// starting points, side by side. It tells apart the trees of one registry,
// not files crafted to collide, and nothing depends on it but whether an
// unchanged hive is written back.
#include "platform/posix/hive/hive_digest.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/posix/hive/hive_format.h"

namespace orvik::posix::hive {

LONG DigestHiveFile(int fd, std::string* digest) {
  constexpr uint64_t kPrime = 0x100000001b3ULL;
  uint64_t first = 0xcbf29ce484222325ULL;
  uint64_t second = 0x84222325cbf29ce4ULL;
  const uint64_t stamp_from = kBaseBlockSize + kBinTimestampOffset;
  const uint64_t stamp_to = stamp_from + 8;
  std::vector<unsigned char> buffer(1 << 16);
  uint64_t offset = 0;
  for (;;) {
    const ssize_t n = pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return ERROR_READ_FAULT;
    }
    if (n == 0) break;
    for (ssize_t i = 0; i < n; ++i, ++offset) {
      if (offset < kBaseBlockSize || (offset >= stamp_from && offset < stamp_to)) continue;
      first = (first ^ buffer[static_cast<size_t>(i)]) * kPrime;
      second = (second ^ buffer[static_cast<size_t>(i)] ^ 0x5A) * kPrime;
    }
  }
  char text[33];
  std::snprintf(text, sizeof(text), "%016llx%016llx", static_cast<unsigned long long>(first),
                static_cast<unsigned long long>(second));
  *digest = text;
  return ERROR_SUCCESS;
}

}  // namespace orvik::posix::hive
