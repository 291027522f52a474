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

// Lists the entered key: its header and value lines, and with "/s" every key
// below it, depth first. Leaves no key entered when it recursed.
// root_text is the root as typed, for the headers.
void ListKeyTree(Console& out, TRegistry& registry, const std::string& root_text,
                 const std::string& recursion_flag);

// The header line of the entered key: the full root name, a backslash and
// the key's path.
void PrintKeyHeader(Console& out, const TRegistry& registry, const std::string& root_text);

// Renders and prints one value line of the entered key ("" = the unnamed
// value). Raises what value rendering raises.
void PrintValueLine(Console& out, TRegistry& registry, const std::string& value_name);

}  // namespace orvik
