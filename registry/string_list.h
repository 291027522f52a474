// TStringList: an ordered list of texts, unsorted and accepting duplicates,
// filled by the listing operations in the platform's enumeration order.
#pragma once

#include <string>
#include <vector>

namespace orvik {

using TStringList = std::vector<std::string>;

}  // namespace orvik
