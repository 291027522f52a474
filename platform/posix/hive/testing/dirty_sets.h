// For tests: the dirty hives of the shared test data (the folder `dirty` of
// the real hives), each set unpacked with its logs into a directory of its
// own, names and their case kept.
#pragma once

#include <string>

namespace orvik::posix::hive::test {

// Unpacks the set `name` (a folder of `dirty`, e.g. "NewDirtyHive1" or
// "Discovery/2", or one file such as "TruncatedDirtyHive") into `directory`.
// False when the test data is not there.
bool UnpackDirtySet(const std::string& name, const std::string& directory);

}  // namespace orvik::posix::hive::test
