// The path of a subkey below its parent's path, as the operations that walk
// a tree build it.
#pragma once

#include <string>

namespace orvik {

// A parent path that is empty (the root itself) or already ends with a
// backslash gets no second separator, which the registry would refuse as an
// empty name. A double-byte character whose second byte is a backslash (表)
// is no such ending.
std::string ChildPath(const std::string& parent_path, const std::string& name);

}  // namespace orvik
