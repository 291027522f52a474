// A digest of a hive file's bins, which tells whether two hives our writer
// laid out hold the same tree. The base block and the first bin's time
// stamp (the time of writing, not of the tree) are left out.
#pragma once

#include <string>

#include "platform/posix/windows_api.h"

namespace orvik::posix::hive {

// Reads the open file from its start; 32 hexadecimal digits.
LONG DigestHiveFile(int fd, std::string* digest);

}  // namespace orvik::posix::hive
