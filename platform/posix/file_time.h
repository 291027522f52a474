// Times as the registry keeps them: a FILETIME as one number, 100-nanosecond
// intervals since the start of 1601 (UTC); and a file's last status change.
#pragma once

#include <sys/stat.h>

#include <cstdint>

namespace orvik::posix {

// The time now.
int64_t NowAsFileTime();

// When the file's inode last changed (its data, size, owner, mode or
// links), in nanoseconds since 1970: no one can set it back.
int64_t ChangeTime(const struct stat& info);

}  // namespace orvik::posix
