// Where the registry lives: the directory named by ORVIK_REGISTRY, else
// ${XDG_DATA_HOME:-$HOME/.local/share}/orvik/registry, created on first use.
#pragma once

#include <string>

#include "platform/posix/windows_api.h"

namespace orvik::posix {

// The registry directory as the environment names it (not created).
std::string RegistryDirectory();

// Creates `directory` and its missing parents. Returns ERROR_SUCCESS, or
// ERROR_ACCESS_DENIED when the user may not create it, or
// ERROR_REGISTRY_IO_FAILED for any other failure.
LONG EnsureDirectory(const std::string& directory);

// The database file inside the registry directory.
std::string DatabasePath(const std::string& directory);
// The file of the change counter the processes share.
std::string ChangeCounterPath(const std::string& directory);

}  // namespace orvik::posix
