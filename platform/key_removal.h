// Keys the registry never removes, asked before a key's tree is removed.
//
// Some keys stay whatever is below them: on Windows the keys right under
// HKEY_LOCAL_MACHINE and HKEY_USERS, which are hives (those the system
// loaded and those loaded with RegLoadKey) and go only with their
// unloading; the POSIX registry keeps its top keys and the keys of its
// loaded hives the same way. Removing such a key's tree from the bottom up
// would empty it and then fail on the key itself, so the remover asks first
// and leaves the whole tree as it is.
#pragma once

#include "platform/platform.h"

namespace orvik {

// ERROR_SUCCESS when the key `sub_key` of `base` may be removed once it has
// no subkeys, or when it cannot be found (its removal then says why);
// otherwise the error its removal would give. Changes nothing.
LONG KeyRemovable(HKEY base, const char* sub_key);

}  // namespace orvik
