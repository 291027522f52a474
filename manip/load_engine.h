// LOAD: attaches a hive file as a new key under HKEY_LOCAL_MACHINE or
// HKEY_USERS.
#pragma once

#include <string>

namespace orvik {

// Returns 0, or raises "File: \"%s\" does not exist\"" for a missing file
// and "Error: " and the platform's text for a refused load (nothing is then
// created).
int LoadHiveFile(const std::string& key_name, const std::string& file_name);

}  // namespace orvik
