// The subkeys and values of a handle's key, listed once and kept while the
// tree is unchanged, so that enumerating n entries costs one listing, and
// reading a value of a listed key needs no query.
#pragma once

#include <string_view>

#include "platform/posix/key_step.h"
#include "platform/posix/tree.h"

namespace orvik::posix {

LONG LoadChildren(KeyStep& step);
LONG LoadValues(KeyStep& step);

// The listed value of that name when the list is current; nullptr when it
// is not current or has no such value (then ask the tree).
const ValueEntry* CachedValue(KeyStep& step, std::u16string_view name, bool* listed);

}  // namespace orvik::posix
