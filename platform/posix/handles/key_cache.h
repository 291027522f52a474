// The subkeys and values of a handle's key, listed once and kept while the
// tree is unchanged, so that enumerating n entries costs one listing, and
// reading a value of a listed key needs no query.
#pragma once

#include <string>
#include <string_view>

#include "platform/posix/handles/key_step.h"
#include "platform/posix/tree.h"

namespace orvik::posix {

LONG LoadChildren(KeyStep& step);
LONG LoadValues(KeyStep& step);

// After this process removed the subkey `child` of the handle's key in a
// write step that was the only change between the stamps `before` and
// `after`: a listing current at `before` loses that subkey and stays current
// at `after`. Removing the subkeys one after another, as a tree removal
// does, then lists the key once instead of once per subkey.
void ForgetChild(KeyHandle& handle, KeyId child, uint64_t before, uint64_t after);

// The listed value of that name when the list is current; nullptr when it
// is not current or has no such value (then ask the tree).
const ValueEntry* CachedValue(KeyStep& step, std::u16string_view name, bool* listed);

// The same for a name given to an ANSI call, without converting it: the
// value the listing gives next, when the name is ASCII (the same in every
// code page) and spelled exactly as that value's; nullptr otherwise (then
// convert the name and use CachedValue).
const ValueEntry* NextCachedValueAscii(KeyStep& step, const char* name);

// The ANSI form of the data a listed value (from CachedValue, data carried
// along) holds, converted once for the calls that ask for it in turn.
const std::string& CachedAnsiData(KeyHandle& handle, const ValueEntry& value);

}  // namespace orvik::posix
