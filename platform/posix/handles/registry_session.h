// The process's registry session: its one store, opened on first use from
// the registry directory, the registry's tree over it (the store with the
// loaded hives), and the table of open key handles. The store is closed
// (its changes made durable) when the process ends.
#pragma once

#include "platform/posix/handles/handle_table.h"
#include "platform/posix/loaded/registry_tree.h"
#include "platform/posix/store/sqlite_store.h"

namespace orvik::posix {

// Opens the session on first use: the handle table, or the error that kept
// the store closed.
LONG OpenSession(HandleTable** handles);
// The handle table when the store is open, else nullptr.
HandleTable* OpenedHandles();
// The store when it is open, else nullptr.
SqliteStore* OpenedStore();

// Closes the session's store: commits and syncs this process's changes and
// forgets every open handle. The next registry call opens the store again, from the
// directory the environment names then. Runs when the process exits.
void CloseRegistryStore();

// Settings that take effect when the store next opens.
void SetCommitPolicy(CommitPolicy policy);
void SetBusyTimeout(int milliseconds);

// Turns the grouping of write calls (SqliteStore::SetGrouping) on or off, for
// the open store and for one opened later. Turning it off commits the open
// group and returns the status of that commit.
LONG SetChangeGrouping(bool on);

}  // namespace orvik::posix
