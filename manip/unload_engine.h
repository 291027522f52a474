// UNLOAD: detaches a loaded hive, written back to its file when it changed.
#pragma once

#include <string>

namespace orvik {

// Returns 0, or raises "Error: " and the platform's text for a refused
// unload (the hive then stays loaded).
int UnloadHiveKey(const std::string& key_name);

}  // namespace orvik
