// SAVE: writes a key with everything below it to a hive file.
#pragma once

#include <string>

namespace orvik {

// Returns 0, or raises "Error: Key: %s does not exist!" for a missing key
// and "Error: " and the platform's text for a refused save. An existing file
// of that name is replaced only by a complete new hive.
int SaveKeyToFile(const std::string& key_name, const std::string& file_name);

}  // namespace orvik
