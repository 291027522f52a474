// ADD: creates a key and optionally writes one value from text.
#pragma once

#include <string>

namespace orvik {

// Returns 0 or raises.
int AddValue(const std::string& key_name, const std::string& value_name,
             const std::string& type_name, const std::string& data, const std::string& separator);

}  // namespace orvik
