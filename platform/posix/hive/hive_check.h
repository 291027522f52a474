// The check a hive passes before it is served in place: every key reached
// once and from its own parent, names that a path can reach, each key's
// subkeys in Windows' order (which leaves no two alike), no deeper than
// Windows allows, and every class name, descriptor, value and data readable.
// After it, no read of the hive fails. A hash leaf's hash that is not its
// name's is no reason to refuse a hive (the name gives the right one, and
// Windows loads such a hive too): the check hands it back as a repair, which
// the private copy of a loaded hive takes before it is served, so that every
// key is found by its name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/hive/hive_reader.h"

namespace orvik::posix::hive {

// The hash a hash leaf should hold at `offset` (from the start of the file).
struct HashRepair {
  size_t offset = 0;
  uint32_t hash = 0;
};

// ERROR_REGISTRY_CORRUPT (or the reader's error) for a hive that fails it;
// *repairs gets the hashes to put right.
LONG CheckHiveTree(const HiveReader& reader, std::vector<HashRepair>* repairs);

// Writes the repairs into the hive file at `path` (a file of the registry's
// own, never reached through a link).
LONG RepairHashes(const std::string& path, const std::vector<HashRepair>& repairs);

}  // namespace orvik::posix::hive
