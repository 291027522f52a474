// Marvin32, the keyed hash that guards the entries of a hive's transaction
// logs (the new format): two 32-bit words of state mixed with each 32-bit
// little-endian word of the data, the tail padded with 0x80.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvik::posix::hive {

// The 64-bit form: the high state word above the low one.
uint64_t Marvin32(const uint8_t* data, size_t size, uint64_t seed);

}  // namespace orvik::posix::hive
