// The private copies of loaded hives: a hive is loaded from a copy of its
// file in the registry directory ("loaded-hive-N", N its generation), so that
// nobody can change the hive underneath while it is loaded.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/hive/hive_reader.h"
#include "platform/posix/hive/hive_replay.h"
#include "platform/posix/store/sqlite_store.h"

namespace orvik::posix {

// Copies the open hive file into the registry directory, where it stays
// while the hive is loaded: a clone where the file system shares blocks,
// else a copy, with the replay of a dirty hive's logs (when given) written
// over it (*pages: the pages of the bins it wrote). The copy goes to the
// disk while the caller checks it; the caller syncs it (`*fd`) before the
// load is committed, and closes it.
LONG CopyIntoRegistry(int source, const hive::Replay* replay, const SqliteStore& store,
                      int64_t generation, std::string* copy, std::vector<uint32_t>* pages, int* fd);

// Opens the private copy of a loaded hive for reading, never through a link
// and only when it is the registry's own file (CheckRegistryFile), since any
// member of a shared registry may put files in its directory;
// ERROR_REGISTRY_CORRUPT otherwise.
LONG OpenPrivateCopy(const SqliteStore& store, const LoadedHive& hive,
                     std::unique_ptr<hive::HiveReader>* reader);

// Removes the private copies that no loaded hive uses (left by an unload
// killed after its commit), except the one of `keep`, which its unload
// removes after the commit.
void RemoveUnusedCopies(SqliteStore& store, int64_t keep);

}  // namespace orvik::posix
