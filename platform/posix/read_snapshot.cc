// Read snapshots on POSIX: one read transaction of the store serves every
// read until the snapshot ends.
#include "platform/read_snapshot.h"

#include "platform/posix/registry_store.h"

namespace orvik {

LONG BeginReadSnapshot() {
  posix::HandleTable* handles = nullptr;
  if (const LONG rc = posix::OpenStore(&handles); rc != ERROR_SUCCESS) return rc;
  return posix::OpenedTree()->BeginSnapshot();
}

void EndReadSnapshot() {
  if (posix::SqliteTree* tree = posix::OpenedTree(); tree != nullptr) tree->EndSnapshot();
}

}  // namespace orvik
