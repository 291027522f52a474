// DELETE: removes a key tree, one value or all named values of a key, or
// empties the key's unnamed value.
#pragma once

#include <string>

#include "registry/registry.h"

namespace orvik {

// The selector that asks for every named value of the key to be removed.
inline constexpr char kDeleteAllMarker[] = "!#$DeleteAllFiles$#!";

// selector: empty (the key itself), "@" (empty the unnamed value),
// kDeleteAllMarker (all named values) or a value name. Returns 0 or raises.
int DeleteEntry(const std::string& key_name, const std::string& selector);

// Removes every named value of the entered key; false at the first failure.
bool DeleteAllValues(TRegistry& registry);

}  // namespace orvik
