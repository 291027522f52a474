// The check a hive passes before it is served in place: every key reached
// once and from its own parent, names that a path can reach, each key's
// subkeys in Windows' order (which leaves no two alike) with Windows' hashes,
// no deeper than Windows allows, and every class name, descriptor, value and
// data readable. After it, no read of the hive fails and every key is found
// by its name.
#pragma once

#include "platform/posix/hive/hive_reader.h"

namespace orvik::posix::hive {

// ERROR_REGISTRY_CORRUPT (or the reader's error) for a hive that fails it.
LONG CheckHiveTree(const HiveReader& reader);

}  // namespace orvik::posix::hive
