// Gathering a program's registry changes into transactions of the store.
#include "platform/posix/handles/registry_transaction.h"

#include "platform/posix/handles/registry_session.h"

namespace orvik::posix {

void GatherRegistryChanges() { SetCommitPolicy(CommitPolicy::kWhole); }

LONG CommitRegistryChanges() {
  SqliteStore* store = OpenedStore();
  return store != nullptr ? store->Flush() : ERROR_SUCCESS;
}

void DiscardRegistryChanges() {
  if (SqliteStore* store = OpenedStore(); store != nullptr) store->Discard();
}

}  // namespace orvik::posix
