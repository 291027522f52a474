// The test whether a file of a given name exists; a directory does not count.
// The name is a path in the ANSI code page, relative to the current directory
// unless it is absolute.
#pragma once

#include <string>

namespace orvik {

bool FileExists(const std::string& name);

}  // namespace orvik
