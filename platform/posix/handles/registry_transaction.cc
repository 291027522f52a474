// Gathering a program's registry changes into transactions of the store.
#include "platform/posix/handles/registry_transaction.h"

#include "platform/posix/handles/registry_store.h"

namespace orvik::posix {

void GatherRegistryChanges() { SetCommitPolicy(CommitPolicy::kWhole); }

LONG CommitRegistryChanges() {
  SqliteTree* tree = OpenedTree();
  return tree != nullptr ? tree->Flush() : ERROR_SUCCESS;
}

void DiscardRegistryChanges() {
  if (SqliteTree* tree = OpenedTree(); tree != nullptr) tree->Discard();
}

}  // namespace orvik::posix
