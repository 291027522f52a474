// Lets a program keep a set of registry changes whole: every change it makes
// gathers in one transaction of the store until it commits them all or
// discards them all. A program killed in between leaves none of them.
#pragma once

#include "platform/posix/windows_api.h"

namespace orvik::posix {

// Call before the program's first registry call. A registry call that fails
// to change the registry spoils the gathered changes: they can then only be
// discarded.
void GatherRegistryChanges();
// Commits the changes gathered so far and makes them durable; after a failed
// change, discards them all and returns ERROR_FUNCTION_FAILED.
LONG CommitRegistryChanges();
// Undoes every change gathered since the last commit.
void DiscardRegistryChanges();

}  // namespace orvik::posix
