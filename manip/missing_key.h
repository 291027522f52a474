// Telling a key that is not there from a registry that cannot be read: the
// first is an answer (QUERY's "does not exist", COMPARE's difference), the
// second a failure reported with the platform's text.
#pragma once

#include "registry/registry.h"

namespace orvik {

// Whether the code of a failed open says only that the key is not there
// (or not open to this user), rather than that the registry could not be
// read. ERROR_ACCESS_DENIED means the key's own rights unless even the root
// cannot be opened: then the registry itself is out of reach, which it asks
// of `registry`'s root.
bool KeyIsMissing(TRegistry& registry, LONG code);

}  // namespace orvik
