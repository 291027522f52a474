// QUERY: lists the values of a key, one value, or with /s the whole tree.
#pragma once

#include <string>

#include "manip/console.h"
#include "registry/registry.h"

namespace orvik {

// value_name "@" asks for the unnamed value; recursion_flag is "/s" or empty.
// Returns 0 or raises.
int QueryKey(Console& out, const std::string& key_name, const std::string& value_name,
             const std::string& recursion_flag);

}  // namespace orvik
