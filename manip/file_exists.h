// Whether a file of a name exists; a directory does not count.
#pragma once

#include <string>

namespace orvik {

bool FileExists(const std::string& file_name);

}  // namespace orvik
