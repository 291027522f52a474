// RESTORE: replaces a key's values and subkeys with a hive file's.
#pragma once

#include <string>

namespace orvik {

// Returns 0, or raises "File: \"%s\" does not exist\"" for a missing file
// and "Error: " and the platform's text for a refused restore (the registry
// is then unchanged, except that the key was created).
int RestoreKeyFromFile(const std::string& key_name, const std::string& file_name);

}  // namespace orvik
