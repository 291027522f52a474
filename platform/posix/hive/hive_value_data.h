// A value's data in a hive image, in the form Windows gives it: inside the
// value cell for up to 4 bytes, in a cell of its own, or (from format 1.4
// on, over 16344 bytes) in big-data segments listed by a "db" cell. Data
// that still fits the cell it had is written over it in place; what the
// data no longer uses is freed.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/posix/hive/hive_space.h"
#include "platform/posix/windows_api.h"

namespace orvik::posix::hive {

// The two fields of a value cell that say where its data is: its size (the
// top bit set when the data sits in the other field) and its data cell.
struct DataPlace {
  uint32_t size_word = 0;
  uint32_t data_word = 0;
};

// Stores `data`, which replaces what `old` holds (nullptr: a new value).
LONG StoreValueData(HiveSpace& space, uint32_t minor_version, std::string_view data,
                    const DataPlace* old, DataPlace* placed);

// Frees the cells of the data at `place`.
LONG FreeValueData(HiveSpace& space, uint32_t minor_version, const DataPlace& place);

}  // namespace orvik::posix::hive
