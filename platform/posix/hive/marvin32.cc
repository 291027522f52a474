// The Marvin32 hash.
#include "platform/posix/hive/marvin32.h"

#include <bit>

#include "platform/posix/hive/hive_format.h"

namespace orvik::posix::hive {

namespace {

struct State {
  uint32_t low;
  uint32_t high;

  void Mix(uint32_t word) {
    low += word;
    high ^= low;
    low = std::rotl(low, 20) + high;
    high = std::rotl(high, 9) ^ low;
    low = std::rotl(low, 27) + high;
    high = std::rotl(high, 19);
  }
};

}  // namespace

uint64_t Marvin32(const uint8_t* data, size_t size, uint64_t seed) {
  State state{static_cast<uint32_t>(seed), static_cast<uint32_t>(seed >> 32)};
  size_t at = 0;
  for (; size - at >= 4; at += 4) state.Mix(Load32(data + at));
  // The last 0 to 3 bytes, then the padding byte 0x80 above them.
  uint32_t tail = 0x80;
  for (size_t i = size; i > at; --i) tail = (tail << 8) | data[i - 1];
  state.Mix(tail);
  state.Mix(0);
  return (static_cast<uint64_t>(state.high) << 32) | state.low;
}

}  // namespace orvik::posix::hive
