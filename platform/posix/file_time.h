// Times as the registry keeps them: a FILETIME as one number, 100-nanosecond
// intervals since the start of 1601 (UTC).
#pragma once

#include <cstdint>

namespace orvik::posix {

// The time now.
int64_t NowAsFileTime();

}  // namespace orvik::posix
