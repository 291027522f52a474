// Read snapshots on POSIX: one read transaction of the store serves every
// read until the snapshot ends.
#include "platform/read_snapshot.h"

#include "platform/posix/handles/registry_session.h"

namespace orvik {

LONG BeginReadSnapshot() {
  posix::HandleTable* handles = nullptr;
  if (const LONG rc = posix::OpenSession(&handles); rc != ERROR_SUCCESS) return rc;
  return posix::OpenedStore()->BeginSnapshot();
}

void EndReadSnapshot() {
  if (posix::SqliteStore* store = posix::OpenedStore(); store != nullptr) store->EndSnapshot();
}

}  // namespace orvik
