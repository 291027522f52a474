// Key paths and names as the registry calls take them, and the limits of
// names and data.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/windows_api.h"

namespace orvik::posix {

constexpr size_t kMaxKeyNameLength = 255;      // UTF-16 units
constexpr size_t kMaxValueNameLength = 16383;  // UTF-16 units
// Keys nest at most this deep below their root key, and below a hive's root.
constexpr int kMaxKeyDepth = 512;
// The largest data one value may hold, in bytes as stored: SQLite's limit on
// one row's value (10^9 bytes) less the room the row needs besides.
constexpr size_t kMaxValueDataSize = 1000000000 - 64;

// Splits a backslash-separated path into key names. A single trailing
// backslash is ignored and the empty path has no names. A leading backslash
// or an empty name gives ERROR_BAD_PATHNAME, a name longer than
// kMaxKeyNameLength ERROR_INVALID_PARAMETER.
LONG SplitKeyPath(std::u16string_view path, std::vector<std::u16string>* names);

// ERROR_INVALID_PARAMETER for a value name longer than kMaxValueNameLength.
LONG CheckValueName(std::u16string_view name);

}  // namespace orvik::posix
